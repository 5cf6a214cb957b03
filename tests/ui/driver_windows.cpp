// Top-level windows and controls found by the options, waits, and messages to them.
#include "driver_windows.h"

#include <windows.h>
// The common controls header needs windows.h first.
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver_output.h"

namespace ui_driver {

// How long a message to another process's window may take before it counts as hung.
UINT MessageTimeoutMs() {
    return 5000 * WaitScale();
}

// Calls `probe` until it answers true or the time is up; answers whether it did.
bool WaitFor(DWORD timeoutMs, const std::function<bool()>& probe) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (probe()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(kPollMs);
    }
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

// The text through WM_GETTEXT (other processes' controls answer it; the cross-process call is
// marshalled by the system).
std::wstring TextOf(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, MessageTimeoutMs(),
                             &length)) {
        return {};
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, MessageTimeoutMs(), &copied);
    text.resize(copied);
    return text;
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> Descendants(HWND top) {
    std::vector<HWND> windows;
    EnumChildWindows(top, CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

bool HasWindowFilter(const Options& options) {
    return options.hasTitle || options.hwnd || options.pid >= 0 || !options.windowClass.empty();
}

// Whether a top-level window passes --title, --hwnd, --pid and --window-class.
bool MatchesTop(HWND hwnd, const Options& options) {
    if (options.hwnd && hwnd != options.hwnd) return false;
    if (options.hasTitle) {
        wchar_t text[512] = {};
        GetWindowTextW(hwnd, text, 512);
        if (options.title != text) return false;
    }
    if (options.pid >= 0) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != static_cast<DWORD>(options.pid)) return false;
    }
    return options.windowClass.empty() ||
           lstrcmpiW(ClassOf(hwnd).c_str(), options.windowClass.c_str()) == 0;
}

HWND FindTop(const Options& options) {
    HWND hidden = nullptr;
    for (HWND hwnd : TopWindows()) {
        if (!MatchesTop(hwnd, options)) continue;
        if (IsWindowVisible(hwnd)) return hwnd;
        if (!hidden) hidden = hwnd;
    }
    return hidden;
}

HWND WaitTop(const Options& options) {
    HWND found = nullptr;
    WaitFor(options.timeoutMs, [&] { return (found = FindTop(options)) != nullptr; });
    return found;
}

HWND FindControl(HWND top, const Options& options) {
    int seen = 0;
    for (HWND hwnd : Descendants(top)) {
        if (!options.className.empty() &&
            lstrcmpiW(ClassOf(hwnd).c_str(), options.className.c_str()) != 0) {
            continue;
        }
        if (options.id >= 0 && GetDlgCtrlID(hwnd) != options.id) continue;
        if (options.hasText && TextOf(hwnd) != options.text) continue;
        if (seen++ == options.nth) return hwnd;
    }
    return nullptr;
}

// The top window by title, then the control, each waited for.
int FindTarget(const Options& options, HWND* top, HWND* control) {
    if (!HasWindowFilter(options))
        return Fail(kUsage, L"--title (or --hwnd, --pid, --window-class) is required");
    *top = WaitTop(options);
    if (!*top) return Fail(kNotFound, L"no such window (title " + Quote(options.title) + L")");
    if (!control) return kOk;
    if (options.className.empty()) return Fail(kUsage, L"--class is required");
    WaitFor(options.timeoutMs, [&] { return (*control = FindControl(*top, options)) != nullptr; });
    if (!*control) return Fail(kNotFound, L"no control of class " + options.className + L" found");
    return kOk;
}

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, MessageTimeoutMs(),
                        &result);
    return static_cast<LRESULT>(result);
}

}  // namespace ui_driver
