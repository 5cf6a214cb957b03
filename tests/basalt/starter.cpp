// Development starter: stands in for the launcher. Loads basalt.fnr from its own directory, asks
// it for the start routine and hands it the program image linked into this executable, whose
// routines are the stand-in handlers of starter_handlers.cpp: the window tests watch their calls.
#include <windows.h>

#include <string>

extern "C" std::uint8_t tessel_image[];

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
    start(tessel_image);
    return 5;  // the start routine ends the process itself
}
