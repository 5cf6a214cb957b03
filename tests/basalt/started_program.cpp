#include "started_program.h"

#include <commctrl.h>

#include <fstream>
#include <thread>

namespace tessel::basalt_test {

namespace {

std::wstring OwnDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// A block in the other process for messages whose buffers must live there.
class RemoteBlock {
  public:
    RemoteBlock(HANDLE process, std::size_t size)
        : process_(process),
          at_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    ~RemoteBlock() {
        if (at_ != nullptr) VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;
    char* at() const { return static_cast<char*>(at_); }
    bool Write(std::size_t offset, const void* data, std::size_t n) {
        return WriteProcessMemory(process_, at() + offset, data, n, nullptr) != FALSE;
    }
    bool Read(std::size_t offset, void* data, std::size_t n) {
        return ReadProcessMemory(process_, at() + offset, data, n, nullptr) != FALSE;
    }

  private:
    HANDLE process_;
    void* at_;
};

}  // namespace

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

StartedProgram::StartedProgram(const std::string& mode, int menuItem) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    logPath_ = std::string(temp) + "basalt_starter_" + std::to_string(GetCurrentProcessId()) + "_" +
               std::to_string(GetTickCount()) + ".log";
    DeleteFileA(logPath_.c_str());
    SetEnvironmentVariableA("TESSEL_STARTER_LOG", logPath_.c_str());
    SetEnvironmentVariableA("TESSEL_STARTER_MODE", mode.c_str());
    SetEnvironmentVariableA("TESSEL_STARTER_MENU_ITEM", std::to_string(menuItem).c_str());
    std::wstring command = L"\"" + OwnDirectory() + L"basalt_starter.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_))
        process_ = {};
}

StartedProgram::~StartedProgram() {
    if (process_.hProcess == nullptr) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    DeleteFileA(logPath_.c_str());
}

// The main window is the titled one: a program may show its untitled player window before the
// main window becomes visible, and both are of the runtime's window class.
HWND StartedProgram::WaitForMainWindow() {
    return WaitForTopLevel(L"TesselWindow", true);
}

namespace {

struct TopLevelSearch {
    DWORD pid;
    const wchar_t* windowClass;
    bool titled;
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND hwnd, LPARAM p) {
    auto* s = reinterpret_cast<TopLevelSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    if (pid == s->pid && IsWindowVisible(hwnd) && lstrcmpW(cls, s->windowClass) == 0 &&
        (!s->titled || GetWindowTextLengthW(hwnd) > 0)) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND StartedProgram::WaitForTopLevel(const wchar_t* windowClass, bool titled) {
    TopLevelSearch search{process_.dwProcessId, windowClass, titled, nullptr};
    WaitUntil([&] {
        EnumWindows(&MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    });
    return search.found;
}

DWORD StartedProgram::WaitForExit(std::chrono::milliseconds limit) {
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

std::vector<std::string> StartedProgram::LogLines() const {
    std::vector<std::string> lines;
    std::ifstream in(logPath_, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

int StartedProgram::CountLogLines(const std::string& line) const {
    int n = 0;
    for (const auto& l : LogLines()) n += l == line ? 1 : 0;
    return n;
}

bool StartedProgram::WaitForLogLine(const std::string& line) {
    return WaitUntil([&] { return CountLogLines(line) > 0; });
}

std::wstring StartedProgram::ListColumnHeader(HWND list, int column) {
    constexpr std::size_t kTextAt = 256, kChars = 128;
    RemoteBlock block(process_.hProcess, kTextAt + kChars * sizeof(wchar_t));
    if (block.at() == nullptr) return L"?";
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT;
    c.pszText = reinterpret_cast<wchar_t*>(block.at() + kTextAt);
    c.cchTextMax = kChars;
    block.Write(0, &c, sizeof c);
    if (!SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column),
                      reinterpret_cast<LPARAM>(block.at())))
        return L"?";
    wchar_t text[kChars] = {};
    block.Read(kTextAt, text, sizeof text - sizeof(wchar_t));
    return text;
}

std::wstring StartedProgram::StatusPaneText(HWND bar, int pane) {
    constexpr std::size_t kChars = 256;
    RemoteBlock block(process_.hProcess, kChars * sizeof(wchar_t));
    if (block.at() == nullptr) return L"?";
    const wchar_t empty[1] = {};
    block.Write(0, empty, sizeof empty);
    SendMessageW(bar, SB_GETTEXTW, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(block.at()));
    wchar_t text[kChars] = {};
    block.Read(0, text, sizeof text - sizeof(wchar_t));
    return text;
}

std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 3, '\0');
    out.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

std::wstring WindowText(HWND hwnd) {
    wchar_t text[512] = {};
    GetWindowTextW(hwnd, text, 512);
    return text;
}

std::vector<HWND> Children(HWND parent, const wchar_t* windowClass) {
    std::vector<HWND> found;
    for (HWND h = FindWindowExW(parent, nullptr, windowClass, nullptr); h != nullptr;
         h = FindWindowExW(parent, h, windowClass, nullptr))
        found.push_back(h);
    return found;
}

}  // namespace tessel::basalt_test
