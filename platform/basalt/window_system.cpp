// Windows and their units built from the `form` section, the window procedures that turn
// messages into the events bound in the form, and the message loop.
#include "window_system.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "loaded_image.h"
#include "tessel/image/image.h"
#include "tessel/platform/gbk_win32.h"
#include "tessel/runtime/units.h"
#include "window_state.h"

namespace tessel::basalt {

namespace {

namespace type = image::unit_type;
constexpr wchar_t kWindowClass[] = L"TesselWindow";

using namespace image::event;

std::map<std::uint32_t, std::unique_ptr<WindowState>> g_windows;
std::vector<std::pair<std::uint32_t, std::uint32_t>> g_eventUnits;  // innermost last
std::uint32_t g_nextCopy = 0xE000;

std::wstring Wide(std::string_view gbk) {
    return platform::WideFromGbk(gbk);
}

WORD ControlId(std::uint32_t unitId) {
    return static_cast<WORD>(unitId & 0xFFFF);
}

std::int32_t ShiftState() {
    std::int32_t s = 0;
    if (GetKeyState(VK_SHIFT) < 0) s |= 1;
    if (GetKeyState(VK_CONTROL) < 0) s |= 2;
    if (GetKeyState(VK_MENU) < 0) s |= 4;
    return s;
}

WindowState* WindowOf(HWND hwnd) {
    for (auto& [id, w] : g_windows)
        if (w->hwnd == hwnd) return w.get();
    return nullptr;
}

UnitState* UnitByControlId(WindowState& w, WORD controlId, std::uint32_t wantedType) {
    for (auto& [id, u] : w.units)
        if (ControlId(id) == controlId && u->type == wantedType && id != w.id) return u.get();
    return nullptr;
}

// Edit boxes and labels report keys, double-clicks and button presses through this.
LRESULT CALLBACK UnitSubclass(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
    UnitState* unit = FindUnitByHandle(hwnd);
    if (unit != nullptr) {
        switch (msg) {
            case WM_KEYDOWN:
                if (unit->type == type::kEditBox)
                    RaiseEvent(*unit, kKeyDown, static_cast<std::int32_t>(wp), ShiftState());
                break;
            case WM_CHAR:
                // Enter reached the key-down handler already; a single-line edit would beep.
                if (unit->type == type::kEditBox && wp == VK_RETURN) return 0;
                break;
            case WM_LBUTTONDBLCLK:
                if (unit->type == type::kEditBox) RaiseEvent(*unit, kDoubleClick);
                break;
            case WM_LBUTTONDOWN:
                if (unit->type == type::kLabel)
                    RaiseEvent(*unit, kLeftButtonDown, static_cast<short>(LOWORD(lp)),
                               static_cast<short>(HIWORD(lp)), static_cast<std::int32_t>(wp));
                break;
            case WM_NCDESTROY:
                RemoveWindowSubclass(hwnd, &UnitSubclass, 1);
                break;
            default:
                break;
        }
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

void RunMenuItem(WindowState& w, WORD controlId) {
    UnitState* item = UnitByControlId(w, controlId, type::kMenuItem);
    if (item == nullptr || item->clickHandler == image::kNone) return;
    g_eventUnits.emplace_back(item->window, item->id);
    reinterpret_cast<EventHandler>(Program().codeBase + item->clickHandler)(0, 0, 0);
    g_eventUnits.pop_back();
}

LRESULT OnCtlColor(WindowState& w, HDC dc, HWND control, UINT msg) {
    UnitState* unit = FindUnitByHandle(control);
    if (unit == nullptr || unit->window != w.id) return 0;
    SetTextColor(dc, unit->textColour);
    if (unit->backColour == CLR_NONE) {
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    SetBkColor(dc, unit->backColour);
    if (unit->backBrush == nullptr) unit->backBrush = CreateSolidBrush(unit->backColour);
    (void)msg;
    return reinterpret_cast<LRESULT>(unit->backBrush);
}

void DestroyOtherWindows(std::uint32_t mainId) {
    std::vector<HWND> others;
    for (auto& [id, w] : g_windows)
        if (id != mainId && w->hwnd != nullptr) others.push_back(w->hwnd);
    for (HWND h : others) ::DestroyWindow(h);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    WindowState* w = WindowOf(hwnd);
    if (w == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
    UnitState& self = *w->units.at(w->id);
    switch (msg) {
        case WM_CLOSE:
            if (RaiseEvent(self, kCloseQuery, 0, 0, 0, 1) != 0) ::DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY: {
            RaiseEvent(self, kDestroying);
            const bool isMain = w->isMain;
            const std::uint32_t id = w->id;
            for (auto& [uid, u] : w->units) {
                if (u->timerPeriod != 0) KillTimer(hwnd, ControlId(uid));
                if (u->menu != nullptr) DestroyMenu(u->menu);
                if (u->backBrush != nullptr) DeleteObject(u->backBrush);
                u->player.reset();
            }
            w->hwnd = nullptr;
            g_windows.erase(id);  // the window may be loaded again
            if (isMain) {
                DestroyOtherWindows(id);
                PostQuitMessage(0);
            }
            return 0;
        }
        case WM_COMMAND:
            if (lp == 0 && HIWORD(wp) == 0) {
                RunMenuItem(*w, LOWORD(wp));
            } else if (HIWORD(wp) == BN_CLICKED) {
                if (UnitState* u = FindUnitByHandle(reinterpret_cast<HWND>(lp));
                    u != nullptr && u->type == type::kButton)
                    RaiseEvent(*u, kClick);
            }
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lp);
            UnitState* u = FindUnitByHandle(header->hwndFrom);
            if (u != nullptr && u->type == type::kReportList) {
                if (header->code == NM_RCLICK) RaiseEvent(*u, kListRightClick);
                if (header->code == NM_DBLCLK) RaiseEvent(*u, kDoubleClick);
            }
            return 0;
        }
        case WM_TIMER:
            if (UnitState* u = UnitByControlId(*w, static_cast<WORD>(wp), type::kTimer))
                RaiseEvent(*u, kTick);
            return 0;
        case WM_SIZE:
            // A status bar docks to the bottom edge; it finds its place when told of the size.
            for (auto& [uid, u] : w->units)
                if (u->type == type::kStatusBar && u->hwnd != nullptr)
                    SendMessageW(u->hwnd, WM_SIZE, 0, 0);
            break;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
            if (LRESULT brush =
                    OnCtlColor(*w, reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp), msg))
                return brush;
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

bool RegisterWindowClass() {
    static bool registered = false;
    if (registered) return true;
    INITCOMMONCONTROLSEX icc{sizeof icc,
                             ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kWindowClass;
    registered = RegisterClassExW(&wc) != 0;
    return registered;
}

// The first image of a .ico file as an icon.
HICON IconFromFile(const image::Bytes& ico) {
    if (ico.size() < 22) return nullptr;
    const auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(ico[at] | ico[at + 1] << 8 | ico[at + 2] << 16 |
                                          static_cast<std::uint32_t>(ico[at + 3]) << 24);
    };
    const std::uint32_t size = u32(6 + 8);
    const std::uint32_t offset = u32(6 + 12);
    if (offset > ico.size() || ico.size() - offset < size) return nullptr;
    return CreateIconFromResourceEx(const_cast<BYTE*>(ico.data() + offset), size, TRUE, 0x00030000,
                                    0, 0, LR_DEFAULTCOLOR);
}

HWND CreateChild(const wchar_t* cls, const std::wstring& text, DWORD style, DWORD exStyle,
                 HWND parent, const image::Unit& r, std::uint32_t id) {
    HWND h = CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | style, r.left, r.top, r.width,
                             r.height, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(id))),
                             GetModuleHandleW(nullptr), nullptr);
    if (h != nullptr) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(UnitFont()), FALSE);
    return h;
}

bool CreateFacetUnit(WindowState& w, UnitState& u, const image::Unit& r, DWORD style) {
    const auto& libs = Program().libraries;
    if (libs.size() <= row::kFacet || libs[row::kFacet].createUnit == nullptr) return false;
    std::vector<std::wstring> texts;
    std::vector<FacetColumn> columns;
    std::vector<FacetPane> panes;
    if (const auto* list = std::get_if<image::ReportListProperties>(&r.properties)) {
        for (const auto& c : list->columns) texts.push_back(Wide(c.header));
        for (std::size_t i = 0; i < list->columns.size(); ++i)
            columns.push_back({texts[i].c_str(), static_cast<std::int32_t>(list->columns[i].width),
                               list->columns[i].alignment});
    } else if (const auto* bar = std::get_if<image::StatusBarProperties>(&r.properties)) {
        for (const auto& p : bar->panes) texts.push_back(Wide(p.text));
        for (std::size_t i = 0; i < bar->panes.size(); ++i)
            panes.push_back({texts[i].c_str(), static_cast<std::int32_t>(bar->panes[i].width)});
    }
    const std::wstring name = Wide(r.name);
    const FacetUnitPlacement placement{
        w.hwnd,
        r.type,
        ControlId(u.id),
        r.left,
        r.top,
        r.width,
        r.height,
        style,
        UnitFont(),
        name.c_str(),
        static_cast<std::uint32_t>(columns.empty() ? panes.size() : columns.size()),
        columns.data(),
        panes.data()};
    u.hwnd = static_cast<HWND>(libs[row::kFacet].createUnit(&placement));
    return u.hwnd != nullptr;
}

}  // namespace

std::map<std::uint32_t, std::unique_ptr<WindowState>>& Windows() {
    return g_windows;
}

WindowState* FindWindowState(std::uint32_t windowId) {
    const auto it = g_windows.find(windowId);
    return it == g_windows.end() ? nullptr : it->second.get();
}

UnitState* FindUnit(std::uint32_t window, std::uint32_t unit) {
    WindowState* w = FindWindowState(window);
    if (w == nullptr) return nullptr;
    const auto it = w->units.find(unit);
    return it == w->units.end() ? nullptr : it->second.get();
}

UnitState* FindUnitByHandle(HWND hwnd) {
    if (hwnd == nullptr) return nullptr;
    for (auto& [id, w] : g_windows)
        for (auto& [uid, u] : w->units)
            if (u->hwnd == hwnd) return u.get();
    return nullptr;
}

HFONT UnitFont() {
    static HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                    DEFAULT_PITCH | FF_DONTCARE, L"SimSun");
    return font;
}

std::uint32_t NewCopyId() {
    return 0x7E000000u | g_nextCopy++;
}

int RaiseEvent(UnitState& unit, std::int32_t event, std::int32_t a, std::int32_t b, std::int32_t c,
               int fallback) {
    std::uint32_t offset = image::kNone;
    for (const auto& e : unit.events)
        if (e.number == event) offset = e.codeOffset;
    if (offset == image::kNone) return fallback;
    g_eventUnits.emplace_back(unit.window, unit.id);
    const int result = reinterpret_cast<EventHandler>(Program().codeBase + offset)(a, b, c);
    g_eventUnits.pop_back();
    return result;
}

std::pair<std::uint32_t, std::uint32_t> CurrentEventUnit() {
    return g_eventUnits.empty() ? std::pair<std::uint32_t, std::uint32_t>{0, 0}
                                : g_eventUnits.back();
}

bool CreateUnitControl(WindowState& w, UnitState& u, const image::Unit& r, bool forceHidden) {
    DWORD style = 0;
    if ((r.flags & image::kUnitShown) != 0 && !forceHidden) style |= WS_VISIBLE;
    if ((r.flags & image::kUnitTakesFocus) != 0) style |= WS_TABSTOP;
    switch (r.type) {
        case type::kEditBox: {
            const auto* p = std::get_if<image::EditBoxProperties>(&r.properties);
            u.hwnd = CreateChild(L"Edit", p ? Wide(p->content) : L"", style | ES_AUTOHSCROLL,
                                 WS_EX_CLIENTEDGE, w.hwnd, r, u.id);
            if (p != nullptr) u.backColour = p->backColour;
            break;
        }
        case type::kButton: {
            const auto* p = std::get_if<image::ButtonProperties>(&r.properties);
            u.hwnd = CreateChild(L"Button", p ? Wide(p->caption) : L"", style | BS_PUSHBUTTON, 0,
                                 w.hwnd, r, u.id);
            break;
        }
        case type::kLabel: {
            const auto* p = std::get_if<image::LabelProperties>(&r.properties);
            u.hwnd = CreateChild(L"Static", p ? Wide(p->caption) : L"",
                                 style | SS_NOTIFY | SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS, 0, w.hwnd,
                                 r, u.id);
            if (p != nullptr) {
                u.textColour = p->textColour;
                u.backColour =
                    p->backColour == image::LabelProperties::kNoColour ? CLR_NONE : p->backColour;
            }
            break;
        }
        case type::kTimer: {
            const auto* p = std::get_if<image::TimerProperties>(&r.properties);
            u.timerRect = {r.left, r.top, r.left + r.width, r.top + r.height};
            u.timerPeriod = p ? p->period : 0;
            if (u.timerPeriod != 0) SetTimer(w.hwnd, ControlId(u.id), u.timerPeriod, nullptr);
            return true;
        }
        case type::kReportList:
        case type::kStatusBar:
            return CreateFacetUnit(w, u, r, style);
        case type::kMediaPlayer: {
            PlayerPlacement placement;
            placement.parent = w.hwnd;
            placement.rect = {r.left, r.top, r.left + r.width, r.top + r.height};
            placement.controlId = ControlId(u.id);
            placement.properties = std::get_if<image::MediaPlayerProperties>(&r.properties);
            const std::uint32_t windowId = w.id, unitId = u.id;
            placement.onEvent = [windowId, unitId](int event) {
                if (UnitState* target = FindUnit(windowId, unitId)) RaiseEvent(*target, event);
            };
            u.player = CreatePlayerUnit(placement);
            u.hwnd = u.player ? u.player->Window() : nullptr;
            return u.player != nullptr;
        }
        default:
            return false;
    }
    if (u.hwnd == nullptr) return false;
    if (r.type == type::kEditBox || r.type == type::kLabel)
        SetWindowSubclass(u.hwnd, &UnitSubclass, 1, 0);
    return true;
}

bool LoadWindow(std::uint32_t windowId, bool show) {
    if (WindowState* existing = FindWindowState(windowId)) {
        if (show) ShowWindow(existing->hwnd, SW_SHOW);
        return true;
    }
    const auto& windows = Program().form.windows;
    const image::FormWindow* form = nullptr;
    for (const auto& fw : windows)
        if (fw.id == windowId) form = &fw;
    if (form == nullptr || form->units.empty() || !RegisterWindowClass()) return false;

    auto state = std::make_unique<WindowState>();
    WindowState& w = *state;
    w.id = windowId;
    w.form = form;
    w.isMain = &windows.front() == form;
    const image::Unit& selfRecord = form->units.front();
    const auto* props = std::get_if<image::WindowProperties>(&selfRecord.properties);
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    if (props == nullptr || props->border == 1) style |= WS_THICKFRAME;
    if (props == nullptr || props->minimizeButton != 0) style |= WS_MINIMIZEBOX;
    if (props == nullptr || props->maximizeButton != 0) style |= WS_MAXIMIZEBOX;
    const std::wstring title = props ? Wide(props->title) : L"";
    w.hwnd = CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, title.c_str(), style,
                             selfRecord.left, selfRecord.top, selfRecord.width, selfRecord.height,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (w.hwnd == nullptr) return false;
    if (props != nullptr && !props->icon.empty()) {
        if (HICON icon = IconFromFile(props->icon)) {
            SendMessageW(w.hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
            SendMessageW(w.hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        }
    }
    g_windows[windowId] = std::move(state);

    // Units in stored order: the window's own record, the controls, then the menu items.
    HMENU currentMenu = nullptr;
    UnitState* firstFocus = nullptr;
    for (const auto& r : form->units) {
        auto u = std::make_unique<UnitState>();
        u->window = windowId;
        u->id = &r == &selfRecord ? windowId : r.id;
        u->type = r.type;
        u->record = &r;
        u->events = r.events;
        if (&r == &selfRecord) {
            u->hwnd = w.hwnd;
        } else if (r.type == type::kMenuItem) {
            const auto* p = std::get_if<image::MenuItemProperties>(&r.properties);
            if (p != nullptr && p->level == 0) {
                // A top-level menu is popped up over units, never shown as a menu bar.
                u->menu = currentMenu = CreatePopupMenu();
            } else if (p != nullptr && currentMenu != nullptr) {
                u->clickHandler = p->clickHandler;
                AppendMenuW(currentMenu, MF_STRING, ControlId(r.id), Wide(p->caption).c_str());
            }
        } else {
            CreateUnitControl(w, *u, r, false);
            if (firstFocus == nullptr && u->hwnd != nullptr &&
                (r.flags & image::kUnitTakesFocus) != 0 && (r.flags & image::kUnitShown) != 0)
                firstFocus = u.get();
        }
        w.units[u->id] = std::move(u);
    }
    if (show) {
        ShowWindow(w.hwnd, SW_SHOW);
        UpdateWindow(w.hwnd);
        if (firstFocus != nullptr) SetFocus(firstFocus->hwnd);
    }
    RaiseEvent(*w.units.at(windowId), kCreated);
    return true;
}

void RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Tab moves the focus between the units that take it, in creation order.
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB) {
            HWND root = GetAncestor(msg.hwnd, GA_ROOT);
            if (root != nullptr && WindowOf(root) != nullptr) {
                if (HWND next = GetNextDlgTabItem(root, GetFocus(), GetKeyState(VK_SHIFT) < 0)) {
                    SetFocus(next);
                    continue;
                }
            }
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void* UnitWindow(std::uint32_t window, std::uint32_t unit) {
    UnitState* u = FindUnit(window, unit);
    return u != nullptr ? u->hwnd : nullptr;
}

void* ActiveProgramWindow() {
    HWND active = GetActiveWindow();
    if (active != nullptr && WindowOf(active) != nullptr) return active;
    for (auto& [id, w] : g_windows)
        if (w->isMain) return w->hwnd;
    return nullptr;
}

}  // namespace tessel::basalt
