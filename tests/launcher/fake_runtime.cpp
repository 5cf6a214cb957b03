// A stand-in runtime library for the launcher's tests, built in three forms (fake_runtime.h).
// Each records what happens to it, one line at a time, in the file named by
// TESSEL_LAUNCHER_LOG:
//   loaded <its own path>              when a process loads it
//   GetNewSock <request>               when asked for the start routine
//   start image ok|bad                 when the start routine gets the program image (ok: the
//                                      36 reserved bytes are zero and the first section is const)
//   unloaded freed|process-end         FreeLibrary, or the end of the process
// Only kernel32 is used: the log is written from DllMain too.
#include "fake_runtime.h"

#include <cstring>

namespace {

void Log(const char* text) {
    char path[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableA("TESSEL_LAUNCHER_LOG", path, sizeof path);
    if (n == 0 || n >= sizeof path) return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
}

bool LooksLikeProgramImage(const std::uint8_t* image) {
    if (image == nullptr) return false;
    for (int i = 0; i < 36; ++i)
        if (image[i] != 0) return false;
    std::uint32_t firstHeader = 0;
    std::memcpy(&firstHeader, image + 0x24, 4);
    return std::memcmp(image + firstHeader + 0x0C, "const", 6) == 0;
}

void WINAPI StartRoutine(const std::uint8_t* image) {
    Log(LooksLikeProgramImage(image) ? "start image ok" : "start image bad");
}

}  // namespace

namespace tessel::launcher_test {

void* AnswerRequest(DWORD request, bool refuse) {
    char line[64] = "GetNewSock ";
    _ultoa(request, line + std::strlen(line), 10);
    Log(line);
    return refuse ? nullptr : reinterpret_cast<void*>(&StartRoutine);
}

}  // namespace tessel::launcher_test

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        char line[MAX_PATH + 16] = "loaded ";
        GetModuleFileNameA(self, line + 7, MAX_PATH);
        Log(line);
    } else if (reason == DLL_PROCESS_DETACH) {
        Log(reserved == nullptr ? "unloaded freed" : "unloaded process-end");
    }
    return TRUE;
}
