// Popup menus: found, read inside the process that owns them, and chosen from with keys.
#include <windows.h>

#include "driver_commands.h"
// The common controls header needs windows.h first.
#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "driver_controls.h"
#include "driver_output.h"
#include "driver_windows.h"
#include "remote_block.h"

namespace ui_driver {

struct MenuItem {
    UINT id = 0;
    UINT state = 0;
    bool separator = false;
    std::wstring text;
};

// The menu is read inside the process that owns it, by a routine copied there and run on a
// thread of its own: a menu handle cannot be read from another process under Wine. The routine
// calls only through the pointers it is given, so its code runs wherever it is placed; the system
// libraries sit at the same address in every process.
constexpr int kProbeItems = 32;
constexpr int kProbeChars = 128;
struct MenuProbe {
    int(WINAPI* getCount)(HMENU);
    UINT(WINAPI* getId)(HMENU, int);
    UINT(WINAPI* getState)(HMENU, UINT, UINT);
    int(WINAPI* getString)(HMENU, UINT, LPWSTR, int, UINT);
    HMENU menu;
    int count;
    UINT ids[kProbeItems];
    UINT states[kProbeItems];
    wchar_t texts[kProbeItems][kProbeChars];
};

__attribute__((noinline, optimize("no-tree-loop-distribute-patterns"))) DWORD WINAPI
ProbeMenu(LPVOID parameter) {
    MenuProbe* probe = static_cast<MenuProbe*>(parameter);
    int count = probe->getCount(probe->menu);
    probe->count = count;
    if (count > kProbeItems) count = kProbeItems;
    for (int i = 0; i < count; ++i) {
        probe->ids[i] = probe->getId(probe->menu, i);
        probe->states[i] = probe->getState(probe->menu, i, MF_BYPOSITION);
        probe->getString(probe->menu, i, probe->texts[i], kProbeChars, MF_BYPOSITION);
    }
    return 0;
}
constexpr size_t kProbeCodeBytes = 512;

std::vector<MenuItem> ItemsFromProbe(const MenuProbe& probe) {
    std::vector<MenuItem> items;
    for (int i = 0; i < probe.count && i < kProbeItems; ++i) {
        MenuItem item;
        item.id = probe.ids[i];
        item.state = probe.states[i];
        item.separator = (item.state & MF_SEPARATOR) != 0;
        item.text.assign(probe.texts[i], wcsnlen(probe.texts[i], kProbeChars));
        items.push_back(item);
    }
    return items;
}

bool ReadMenuHere(HMENU menu, std::vector<MenuItem>* items) {
    if (GetMenuItemCount(menu) < 0) return false;
    MenuProbe probe = {
        &GetMenuItemCount, &GetMenuItemID, &GetMenuState, &GetMenuStringW, menu, 0, {}, {}, {}};
    ProbeMenu(&probe);
    *items = ItemsFromProbe(probe);
    return true;
}

bool ReadMenuRemotely(HWND menuWindow, HMENU menu, DWORD timeoutMs, std::vector<MenuItem>* items) {
    RemoteBlock block(menuWindow, sizeof(MenuProbe) + kProbeCodeBytes, PAGE_EXECUTE_READWRITE);
    if (!block.ok()) return false;
    MenuProbe probe = {
        &GetMenuItemCount, &GetMenuItemID, &GetMenuState, &GetMenuStringW, menu, -1, {}, {}, {}};
    if (!block.Write(&probe, sizeof probe) ||
        !block.Write(reinterpret_cast<const void*>(&ProbeMenu), kProbeCodeBytes, sizeof probe)) {
        return false;
    }
    FlushInstructionCache(block.process(), block.at(sizeof probe), kProbeCodeBytes);
    HANDLE thread = CreateRemoteThread(
        block.process(), nullptr, 0,
        reinterpret_cast<LPTHREAD_START_ROUTINE>(block.at(sizeof probe)), block.at(), 0, nullptr);
    if (!thread) return false;
    const bool finished = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    if (!finished) {
        // The thread still runs in that memory: leave it allocated rather than pull it away.
        block.Abandon();
        return false;
    }
    if (!block.Read(&probe, sizeof probe) || probe.count < 0) return false;
    *items = ItemsFromProbe(probe);
    return true;
}

// What the threads of the visible windows are doing, for a menu that did not appear: whether one
// tracks a menu, or holds the mouse captured (a control waiting for its button to come up).
std::wstring GuiThreadsState() {
    std::wstring state;
    std::vector<DWORD> seen;
    for (HWND hwnd : TopWindows()) {
        if (!IsWindowVisible(hwnd)) continue;
        const DWORD thread = GetWindowThreadProcessId(hwnd, nullptr);
        if (std::find(seen.begin(), seen.end(), thread) != seen.end()) continue;
        seen.push_back(thread);
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(thread, &info)) continue;
        state += L"\n  thread " + std::to_wstring(thread) + L" (" + ClassOf(hwnd) + L"):";
        if (info.flags & GUI_INMENUMODE) state += L" in-menu-mode";
        if (info.flags & GUI_POPUPMENUMODE) state += L" popup-menu-mode";
        if (info.flags & GUI_INMOVESIZE) state += L" move-size";
        state += L" active=" + Hex(info.hwndActive) + L" focus=" + Hex(info.hwndFocus) +
                 L" capture=" + Hex(info.hwndCapture);
        if (info.hwndCapture) state += L" (" + ClassOf(info.hwndCapture) + L")";
        if (info.hwndMenuOwner) state += L" menu-owner=" + Hex(info.hwndMenuOwner);
    }
    state += L"\n  foreground=" + Hex(GetForegroundWindow());
    return state;
}

HWND FindPopupMenu() {
    for (HWND hwnd : TopWindows()) {
        if (IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32768") return hwnd;
    }
    return nullptr;
}

int ReadOpenMenu(const Options& options, HWND* menuWindow, std::vector<MenuItem>* items) {
    WaitFor(options.timeoutMs, [&] { return (*menuWindow = FindPopupMenu()) != nullptr; });
    if (!*menuWindow) return Fail(kNotFound, L"no popup menu appeared:" + GuiThreadsState());
    HMENU menu = nullptr;
    // The menu may be shown before its handle is attached to the window.
    WaitFor(options.timeoutMs, [&] {
        menu = reinterpret_cast<HMENU>(Send(*menuWindow, MN_GETHMENU, 0, 0));
        return menu != nullptr;
    });
    if (!menu) return Fail(kFailed, L"the popup menu has no menu handle");
    if (!ReadMenuHere(menu, items) &&
        !ReadMenuRemotely(*menuWindow, menu, options.timeoutMs, items)) {
        return Fail(kFailed, L"cannot read the popup menu's items");
    }
    return kOk;
}

int CommandMenu(const Options& options) {
    HWND menuWindow = nullptr;
    std::vector<MenuItem> items;
    if (int code = ReadOpenMenu(options, &menuWindow, &items)) return code;
    Print(L"menu hwnd=" + Hex(menuWindow) + L" count=" + std::to_wstring(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        const MenuItem& item = items[i];
        Print(L"item index=" + std::to_wstring(i) + L" id=" + std::to_wstring(item.id) +
              L" separator=" + (item.separator ? L"1" : L"0") + L" enabled=" +
              ((item.state & (MF_GRAYED | MF_DISABLED)) ? L"0" : L"1") + L" checked=" +
              ((item.state & MF_CHECKED) ? L"1" : L"0") + L" text=" + Quote(item.text));
    }
    return kOk;
}

int CommandMenuSelect(const Options& options) {
    if (options.arguments.size() != 1) return Fail(kUsage, L"menu-select needs the item's text");
    HWND menuWindow = nullptr;
    std::vector<MenuItem> items;
    if (int code = ReadOpenMenu(options, &menuWindow, &items)) return code;
    // The menu loop takes keys from its thread's queue: Down from no selection reaches the first
    // item, each further Down the next one that is not a separator.
    int steps = 0;
    for (const MenuItem& item : items) {
        if (item.separator) continue;
        ++steps;
        if (item.text == options.arguments[0]) {
            for (int i = 0; i < steps; ++i) PostKey(menuWindow, VK_DOWN);
            PostKey(menuWindow, VK_RETURN);
            if (!WaitFor(options.timeoutMs, [&] { return !IsWindowVisible(menuWindow); })) {
                return Fail(kTimedOut, L"the popup menu stayed open");
            }
            return kOk;
        }
    }
    PostKey(menuWindow, VK_ESCAPE);
    return Fail(kFailed, L"the popup menu has no item " + Quote(options.arguments[0]));
}

}  // namespace ui_driver
