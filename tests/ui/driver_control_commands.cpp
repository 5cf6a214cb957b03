// Commands on a window and its controls: dump, texts, clicks, keys and list rows.
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

std::wstring WindowRecord(HWND top) {
    DWORD pid = 0;
    GetWindowThreadProcessId(top, &pid);
    RECT outer = {};
    RECT client = {};
    GetWindowRect(top, &outer);
    GetClientRect(top, &client);
    return L"window hwnd=" + Hex(top) + L" pid=" + std::to_wstring(pid) + L" title=" +
           Quote(TextOf(top)) + L" rect=" + Rect(outer) + L" client=" +
           std::to_wstring(client.right) + L"," + std::to_wstring(client.bottom);
}

int CommandDump(const Options& options) {
    HWND top = nullptr;
    if (int code = FindTarget(options, &top, nullptr)) return code;
    Print(WindowRecord(top));
    for (HWND control : Descendants(top)) {
        RECT rect = {};
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&rect), 2);
        const std::wstring className = ClassOf(control);
        Print(L"control hwnd=" + Hex(control) + L" class=" + className + L" id=" +
              std::to_wstring(GetDlgCtrlID(control)) + L" rect=" + Rect(rect) + L" visible=" +
              (IsWindowVisible(control) ? L"1" : L"0") + L" enabled=" +
              (IsWindowEnabled(control) ? L"1" : L"0") + L" text=" + Quote(TextOf(control)));
        if (lstrcmpiW(className.c_str(), WC_LISTVIEWW) == 0) {
            if (!DumpList(control)) return Fail(kFailed, L"cannot read the list's memory");
        } else if (lstrcmpiW(className.c_str(), STATUSCLASSNAMEW) == 0) {
            DumpStatusBar(control);
        }
    }
    return kOk;
}

// The control's text, a status pane's (--pane) or a list cell's (--row, --column).
std::wstring ControlText(HWND control, const Options& options) {
    if (options.row >= 0) {
        RemoteBlock block(control, sizeof(LVITEMW) + kTextChars * sizeof(wchar_t));
        return block.ok() ? CellText(control, block, options.row, options.column) : std::wstring();
    }
    if (options.pane < 0) return TextOf(control);
    const std::vector<Pane> panes = StatusPanes(control);
    return options.pane < static_cast<int>(panes.size()) ? panes[options.pane].text
                                                         : std::wstring();
}

int CommandGetText(const Options& options) {
    HWND top = nullptr;
    HWND control = nullptr;
    if (int code = FindTarget(options, &top, &control)) return code;
    Print(ControlText(control, options));
    return kOk;
}

int CommandWaitText(const Options& options) {
    if (options.arguments.size() != 1) return Fail(kUsage, L"wait-text needs the expected text");
    HWND top = nullptr;
    HWND control = nullptr;
    if (int code = FindTarget(options, &top, &control)) return code;
    std::wstring last;
    if (WaitFor(options.timeoutMs, [&] {
            last = ControlText(control, options);
            return last == options.arguments[0];
        })) {
        return kOk;
    }
    return Fail(kTimedOut, L"text is " + Quote(last) + L", not " + Quote(options.arguments[0]));
}

int CommandSetText(const Options& options) {
    if (options.arguments.size() != 1) return Fail(kUsage, L"set-text needs the text");
    HWND top = nullptr;
    HWND control = nullptr;
    if (int code = FindTarget(options, &top, &control)) return code;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(control, WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(options.arguments[0].c_str()),
                             SMTO_ABORTIFHUNG, MessageTimeoutMs(), &result) ||
        !result) {
        return Fail(kFailed, L"WM_SETTEXT was refused");
    }
    return kOk;
}

// A point in the control's client area: --x/--y, a list row's centre, or the control's centre.
bool TargetPoint(HWND control, const Options& options, POINT* point) {
    if (options.x >= 0 && options.y >= 0) {
        *point = {options.x, options.y};
        return true;
    }
    if (options.row >= 0) return RowCentre(control, options.row, point);
    RECT client = {};
    GetClientRect(control, &client);
    *point = {client.right / 2, client.bottom / 2};
    return true;
}

void PostMouse(HWND control, UINT message, WPARAM keys, POINT at) {
    PostMessageW(control, message, keys, MAKELPARAM(at.x, at.y));
}

DWORD WINAPI SendClick(LPVOID button) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(static_cast<HWND>(button), BM_CLICK, 0, 0, SMTO_NORMAL, INFINITE, &result);
    return 0;
}

bool HasDialogOf(DWORD pid) {
    for (HWND hwnd : TopWindows()) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == pid && IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770") return true;
    }
    return false;
}

// BM_CLICK is sent, so the handler has run when it returns; a handler that opens a dialog box
// (a message box) does not return until the box is answered, so the click also ends when a box
// of the program's appears. The sending thread is left behind then: it ends with the driver.
int ClickButton(HWND button, const Options& options) {
    DWORD pid = 0;
    GetWindowThreadProcessId(button, &pid);
    const bool hadDialog = HasDialogOf(pid);
    HANDLE sender = CreateThread(nullptr, 0, SendClick, button, 0, nullptr);
    if (!sender) return Fail(kFailed, L"cannot start the sending thread");
    bool dialog = false;
    const bool done = WaitFor(options.timeoutMs, [&] {
        if (WaitForSingleObject(sender, 0) == WAIT_OBJECT_0) return true;
        dialog = !hadDialog && HasDialogOf(pid);
        return dialog;
    });
    CloseHandle(sender);
    if (dialog) {
        WriteTo(STD_ERROR_HANDLE, L"tessel-ui-driver: click: the handler opened a dialog box");
    } else if (!done) {
        WriteTo(STD_ERROR_HANDLE, L"tessel-ui-driver: click: the handler is still running");
    }
    return kOk;
}

int CommandClick(const Options& options) {
    HWND top = nullptr;
    HWND control = nullptr;
    if (int code = FindTarget(options, &top, &control)) return code;
    if (lstrcmpiW(ClassOf(control).c_str(), L"Button") == 0) {
        if (options.noWait) {
            PostMessageW(control, BM_CLICK, 0, 0);
            return kOk;
        }
        return ClickButton(control, options);
    }
    POINT at = {};
    if (!TargetPoint(control, options, &at)) return Fail(kFailed, L"no such row");
    PostMouse(control, WM_MOUSEMOVE, 0, at);
    PostMouse(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMouse(control, WM_LBUTTONUP, 0, at);
    return kOk;
}

int CommandMouse(const Options& options, bool right) {
    HWND top = nullptr;
    HWND control = nullptr;
    if (int code = FindTarget(options, &top, &control)) return code;
    POINT at = {};
    if (!TargetPoint(control, options, &at)) return Fail(kFailed, L"no such row");
    // Where the pointer would be, for handlers that ask for it (a popup menu's position).
    POINT screen = at;
    ClientToScreen(control, &screen);
    SetCursorPos(screen.x, screen.y);
    PostMouse(control, WM_MOUSEMOVE, 0, at);
    if (right) {
        PostMouse(control, WM_RBUTTONDOWN, MK_RBUTTON, at);
        // The button-up makes the control (or DefWindowProc) raise WM_CONTEXTMENU itself.
        PostMouse(control, WM_RBUTTONUP, 0, at);
    } else {
        PostMouse(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMouse(control, WM_LBUTTONUP, 0, at);
        PostMouse(control, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        PostMouse(control, WM_LBUTTONUP, 0, at);
    }
    return kOk;
}

UINT VirtualKey(const std::wstring& name) {
    struct Named {
        const wchar_t* name;
        UINT key;
    };
    static constexpr Named kNames[] = {
        {L"RETURN", VK_RETURN}, {L"ENTER", VK_RETURN},  {L"ESCAPE", VK_ESCAPE}, {L"TAB", VK_TAB},
        {L"SPACE", VK_SPACE},   {L"UP", VK_UP},         {L"DOWN", VK_DOWN},     {L"LEFT", VK_LEFT},
        {L"RIGHT", VK_RIGHT},   {L"DELETE", VK_DELETE}, {L"BACK", VK_BACK},     {L"HOME", VK_HOME},
        {L"END", VK_END}};
    std::wstring upper = name;
    for (wchar_t& c : upper) c = towupper(c);
    if (upper.size() > 3 && upper.compare(0, 3, L"VK_") == 0) upper.erase(0, 3);
    for (const Named& named : kNames) {
        if (upper == named.name) return named.key;
    }
    if (upper.size() == 1 && (iswalpha(upper[0]) || iswdigit(upper[0]))) return upper[0];
    int function = 0;
    if (upper.size() >= 2 && upper[0] == L'F' && ParseNumber(upper.substr(1), &function) &&
        function >= 1 && function <= 12) {
        return VK_F1 + function - 1;
    }
    int number = 0;
    if (ParseNumber(name, &number) && number > 0 && number < 256) return number;
    return 0;
}

void PostKey(HWND target, UINT key) {
    const UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageW(target, WM_KEYUP, key, 1 | (scan << 16) | (3u << 30));
}

int CommandKey(const Options& options) {
    if (options.arguments.size() != 1) return Fail(kUsage, L"key needs a key name");
    const UINT key = VirtualKey(options.arguments[0]);
    if (!key) return Fail(kUsage, L"unknown key " + options.arguments[0]);
    HWND top = nullptr;
    HWND control = nullptr;
    if (int code = FindTarget(options, &top, &control)) return code;
    PostKey(control, key);
    return kOk;
}

int CommandSelectRow(Options options) {
    if (options.className.empty()) options.className = WC_LISTVIEWW;
    int row = 0;
    if (options.arguments.size() != 1 || !ParseNumber(options.arguments[0], &row)) {
        return Fail(kUsage, L"select-row needs a row number");
    }
    HWND top = nullptr;
    HWND list = nullptr;
    if (int code = FindTarget(options, &top, &list)) return code;
    RemoteBlock block(list, sizeof(LVITEMW));
    if (!block.ok()) return Fail(kFailed, L"cannot reach the list's memory");
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    // Clear every row, then select the one asked for.
    block.Write(&item, sizeof item);
    Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(block.at()));
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    block.Write(&item, sizeof item);
    if (!Send(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(block.at()))) {
        return Fail(kFailed, L"row " + std::to_wstring(row) + L" cannot be selected");
    }
    return kOk;
}

}  // namespace ui_driver
