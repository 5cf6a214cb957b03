// Tessel.exe's start: find the runtime library, ask it for its start routine and hand that
// routine the program image linked into this executable. Everything after the hand-over is the
// runtime's work. The launcher keeps to a few plain Windows calls: the module path, lstrlenA and
// lstrcatA, library loading, the registry read, the error box and ExitProcess.
#include "launcher.h"

#include <windows.h>

namespace {

constexpr DWORD kPathBufferSize = MAX_PATH;
// The registry value is read into all but the last byte, which keeps room for a terminating NUL
// when the stored value has none.
constexpr DWORD kRegistryValueSize = kPathBufferSize - 1;
constexpr DWORD kStartRoutineRequest = 1000;

constexpr char kRuntimeBesideProgram[] = "basalt.fnr";
constexpr char kRuntimeInInstallation[] = "basalt.fne";
constexpr char kInstallKey[] = "Software\\Brightloom\\Quill\\Install";
constexpr char kInstallValue[] = "Path";
constexpr char kStartRoutineExport[] = "GetNewSock";
constexpr char kErrorCaption[] = "Error";
constexpr char kErrorText[] = "Not found the kernel library or the kernel library is invalid!";

using GetNewSockRoutine = void*(WINAPI*)(DWORD request);
using StartRoutine = void(WINAPI*)(void* imageFirstByte);

// Appends `name` to the text in `buffer` when the result fits the buffer with its NUL.
bool AppendFitting(char (&buffer)[kPathBufferSize], const char* name) {
    if (lstrlenA(buffer) + lstrlenA(name) >= static_cast<int>(kPathBufferSize)) return false;
    lstrcatA(buffer, name);
    return true;
}

// The program's directory with its trailing backslash, or false when the program's own file name
// did not fit the buffer (then only the installation directory can hold the runtime).
bool ProgramDirectory(char (&buffer)[kPathBufferSize]) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer, kPathBufferSize);
    if (length == 0 || length >= kPathBufferSize) return false;
    // The file name is at least five characters ("a.exe"), so its backslash lies at or before
    // six places from the end.
    for (int at = static_cast<int>(length) - 6; at >= 0; --at) {
        if (buffer[at] == '\\') {
            buffer[at + 1] = '\0';
            return true;
        }
    }
    return false;
}

HMODULE LoadRuntimeBesideProgram(char (&path)[kPathBufferSize]) {
    if (!ProgramDirectory(path) || !AppendFitting(path, kRuntimeBesideProgram)) return nullptr;
    return LoadLibraryA(path);
}

// The installation directory recorded in the registry, whatever the value's stored type.
bool InstallationDirectory(char (&path)[kPathBufferSize]) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = kRegistryValueSize;
    const LONG read = RegQueryValueExA(key, kInstallValue, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS) return false;
    // A value stored without its NUL must not run on into what the buffer held before.
    path[size <= kRegistryValueSize ? size : kRegistryValueSize] = '\0';
    return lstrlenA(path) > 0;
}

HMODULE LoadRuntimeFromInstallation(char (&path)[kPathBufferSize]) {
    if (!InstallationDirectory(path)) return nullptr;
    if (path[lstrlenA(path) - 1] != '\\' && !AppendFitting(path, "\\")) return nullptr;
    if (!AppendFitting(path, kRuntimeInInstallation)) return nullptr;
    return LoadLibraryA(path);
}

}  // namespace

int RunLauncher() {
    char path[kPathBufferSize] = {};
    HMODULE runtime = LoadRuntimeBesideProgram(path);
    if (runtime == nullptr) runtime = LoadRuntimeFromInstallation(path);
    if (runtime != nullptr) {
        auto getNewSock = reinterpret_cast<GetNewSockRoutine>(
            reinterpret_cast<void*>(GetProcAddress(runtime, kStartRoutineExport)));
        auto start = getNewSock != nullptr
                         ? reinterpret_cast<StartRoutine>(getNewSock(kStartRoutineRequest))
                         : nullptr;
        if (start != nullptr) {
            start(ProgramImageAddress());
            ExitProcess(0);
        }
        FreeLibrary(runtime);
    }
    MessageBoxA(nullptr, kErrorText, kErrorCaption, MB_ICONERROR);
    return -1;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ExitProcess(static_cast<UINT>(RunLauncher()));
}
