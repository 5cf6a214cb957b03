// Dialog boxes: read, answered by a button, and the folder dialog given a path.
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

HWND FindDialog(const Options& options) {
    for (HWND hwnd : TopWindows()) {
        if (!IsWindowVisible(hwnd) || ClassOf(hwnd) != L"#32770") continue;
        if (options.hasTitle && TextOf(hwnd) != options.title) continue;
        return hwnd;
    }
    return nullptr;
}

int WaitDialog(const Options& options, HWND* dialog) {
    WaitFor(options.timeoutMs, [&] { return (*dialog = FindDialog(options)) != nullptr; });
    return *dialog ? kOk : Fail(kNotFound, L"no dialog box appeared");
}

std::wstring WithoutAmpersands(std::wstring text) {
    std::erase(text, L'&');
    return text;
}

int CommandMessageBox(const Options& options) {
    HWND dialog = nullptr;
    if (int code = WaitDialog(options, &dialog)) return code;
    std::wstring message;
    std::vector<HWND> buttons;
    for (HWND child : Descendants(dialog)) {
        const std::wstring className = ClassOf(child);
        if (lstrcmpiW(className.c_str(), L"Static") == 0) {
            const std::wstring text = TextOf(child);
            if (!text.empty()) message += message.empty() ? text : L"\n" + text;
        } else if (lstrcmpiW(className.c_str(), L"Button") == 0 && IsWindowVisible(child)) {
            buttons.push_back(child);
        }
    }
    Print(L"dialog hwnd=" + Hex(dialog) + L" title=" + Quote(TextOf(dialog)) + L" text=" +
          Quote(message));
    for (HWND button : buttons) {
        Print(L"button id=" + std::to_wstring(GetDlgCtrlID(button)) + L" text=" +
              Quote(WithoutAmpersands(TextOf(button))));
    }
    return kOk;
}

int CommandPress(const Options& options) {
    if (options.arguments.size() != 1) return Fail(kUsage, L"press needs the button's text");
    HWND dialog = nullptr;
    if (int code = WaitDialog(options, &dialog)) return code;
    const std::wstring wanted = options.arguments[0];
    struct Alias {
        const wchar_t* name;
        int id;
    };
    static constexpr Alias kAliases[] = {
        {L"OK", IDOK}, {L"CANCEL", IDCANCEL}, {L"YES", IDYES}, {L"NO", IDNO}};
    int aliasId = -1;
    for (const Alias& alias : kAliases) {
        if (lstrcmpiW(wanted.c_str(), alias.name) == 0) aliasId = alias.id;
    }
    HWND chosen = nullptr;
    for (HWND child : Descendants(dialog)) {
        if (lstrcmpiW(ClassOf(child).c_str(), L"Button") != 0 || !IsWindowVisible(child)) continue;
        if (WithoutAmpersands(TextOf(child)) == wanted) {
            chosen = child;
            break;
        }
        if (!chosen && GetDlgCtrlID(child) == aliasId) chosen = child;
    }
    if (!chosen) return Fail(kFailed, L"the dialog box has no button " + Quote(wanted));
    PostMessageW(chosen, BM_CLICK, 0, 0);
    if (!WaitFor(options.timeoutMs,
                 [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); })) {
        return Fail(kTimedOut, L"the dialog box stayed open");
    }
    return kOk;
}

// The folder dialog takes a path as its owner's callback would give it (BFFM_SETSELECTIONW, the
// text in the dialog's own process), then its OK button, as a user picking that folder would.
int CommandChooseFolder(const Options& options) {
    if (options.arguments.size() != 1) return Fail(kUsage, L"choose-folder needs a path");
    HWND dialog = nullptr;
    WaitFor(options.timeoutMs, [&] {
        dialog = FindDialog(options);
        if (dialog == nullptr) return false;
        for (HWND child : Descendants(dialog))
            if (ClassOf(child) == L"SysTreeView32") return true;
        return false;
    });
    if (dialog == nullptr) return Fail(kNotFound, L"no folder dialog appeared");
    const std::wstring& path = options.arguments[0];
    RemoteBlock block(dialog, (path.size() + 1) * sizeof(wchar_t));
    if (!block.ok() || !block.Write(path.c_str(), (path.size() + 1) * sizeof(wchar_t)))
        return Fail(kFailed, L"cannot hand the path to the dialog's process");
    constexpr UINT kSetSelection = WM_USER + 103;  // BFFM_SETSELECTIONW
    Send(dialog, kSetSelection, TRUE, reinterpret_cast<LPARAM>(block.at()));
    HWND ok = GetDlgItem(dialog, IDOK);
    if (ok == nullptr) return Fail(kFailed, L"the folder dialog has no OK button");
    PostMessageW(ok, BM_CLICK, 0, 0);
    if (!WaitFor(options.timeoutMs, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
        return Fail(kTimedOut, L"the folder dialog stayed open");
    return kOk;
}

}  // namespace ui_driver
