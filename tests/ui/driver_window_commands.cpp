// Commands on top-level windows and the desktop: listing, waiting, closing and the clipboard.
#include <windows.h>

#include "driver_commands.h"
// The common controls header needs windows.h first.
#include <commctrl.h>

#include <string>
#include <vector>

#include "driver_controls.h"
#include "driver_output.h"
#include "driver_windows.h"
#include "remote_block.h"

namespace ui_driver {

int CommandClipboard(const Options& options) {
    // Another process may hold the clipboard open for a moment.
    if (!WaitFor(options.timeoutMs, [] { return OpenClipboard(nullptr) != FALSE; })) {
        return Fail(kFailed, L"the clipboard stays busy");
    }
    std::wstring text;
    bool found = false;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text.assign(chars, wcsnlen(chars, GlobalSize(data) / sizeof(wchar_t)));
            found = true;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    if (!found) return Fail(kFailed, L"the clipboard holds no text");
    Print(text);
    return kOk;
}

int CommandClose(const Options& options) {
    HWND top = nullptr;
    if (int code = FindTarget(options, &top, nullptr)) return code;
    DWORD pid = 0;
    GetWindowThreadProcessId(top, &pid);
    HANDLE process = options.waitExit
                         ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid)
                         : nullptr;
    if (options.waitExit && !process) return Fail(kFailed, L"cannot open the window's process");
    PostMessageW(top, WM_CLOSE, 0, 0);
    if (!process) return kOk;
    const bool exited = WaitForSingleObject(process, options.timeoutMs) == WAIT_OBJECT_0;
    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    if (!exited) return Fail(kTimedOut, L"the process did not end");
    Print(L"exit-code=" + std::to_wstring(exitCode));
    return kOk;
}

int CommandWaitGone(const Options& options) {
    if (!HasWindowFilter(options)) return Fail(kUsage, L"--title is required");
    const bool gone = WaitFor(options.timeoutMs, [&] {
        HWND top = FindTop(options);
        return !top || !IsWindowVisible(top);
    });
    return gone ? kOk : Fail(kTimedOut, L"the window is still there");
}

int CommandWindows(const Options& options) {
    for (HWND hwnd : TopWindows()) {
        if (!MatchesTop(hwnd, options)) continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        RECT rect = {};
        GetWindowRect(hwnd, &rect);
        Print(L"top hwnd=" + Hex(hwnd) + L" pid=" + std::to_wstring(pid) + L" class=" +
              Quote(ClassOf(hwnd)) + L" visible=" + (IsWindowVisible(hwnd) ? L"1" : L"0") +
              L" rect=" + Rect(rect) + L" title=" + Quote(TextOf(hwnd)));
    }
    return kOk;
}

int CommandWaitWindow(const Options& options) {
    HWND top = nullptr;
    if (int code = FindTarget(options, &top, nullptr)) return code;
    Print(Hex(top));
    return kOk;
}

}  // namespace ui_driver
