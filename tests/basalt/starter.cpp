// Development starter: stands in for the launcher. Loads basalt.fnr from its own directory, asks
// it for the start routine and hands it the program image linked into this executable, whose
// routines are the stand-in handlers of starter_handlers.cpp: the window tests watch their calls.
// TESSEL_STARTER_IMAGE may name an image file to hand over instead.
#include <windows.h>

#include <string>

extern "C" std::uint8_t tessel_image[];

// The linked image, or the image file TESSEL_STARTER_IMAGE names (tests of what the loader
// refuses), read into memory of its own that may be written and run as the linked one is.
void* ImageToStart() {
    wchar_t file[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TESSEL_STARTER_IMAGE", file, MAX_PATH) == 0) return tessel_image;
    HANDLE h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    const DWORD size = GetFileSize(h, nullptr);
    void* memory = size == INVALID_FILE_SIZE ? nullptr
                                             : VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                                            PAGE_EXECUTE_READWRITE);
    DWORD read = 0;
    if (memory != nullptr && (!ReadFile(h, memory, size, &read, nullptr) || read != size))
        memory = nullptr;
    CloseHandle(h);
    return memory;
}

int main() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    path.resize(path.find_last_of(L"\\/") + 1);
    HMODULE basalt = LoadLibraryW((path + L"basalt.fnr").c_str());
    if (basalt == nullptr) return 2;
    using GetNewSock = void*(WINAPI*)(DWORD);
    using StartRoutine = void(WINAPI*)(void*);
    auto getNewSock =
        reinterpret_cast<GetNewSock>(reinterpret_cast<void*>(GetProcAddress(basalt, "GetNewSock")));
    if (getNewSock == nullptr || getNewSock(999) != nullptr) return 3;
    auto start = reinterpret_cast<StartRoutine>(getNewSock(1000));
    if (start == nullptr) return 4;
    start(ImageToStart());
    return 5;  // the start routine ends the process itself
}
