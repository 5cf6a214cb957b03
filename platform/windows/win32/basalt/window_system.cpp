// Windows and their units as Win32 makes them, the window procedures that turn messages into the
// events the core raises, and the message loop.
#include "window_system.h"

#include "loaded_image.h"
#include "tessel/image/image.h"
#include "tessel/runtime/units.h"
#include "tessel/win32_shared/gbk_win32.h"
#include "win32_toolkit.h"

namespace tessel::basalt {

namespace {

namespace type = image::unit_type;
using namespace image::event;
using windows::Unit;
using windows::Window;

constexpr wchar_t kWindowClass[] = L"TesselWindow";

std::wstring Wide(std::string_view gbk) {
    return platform::WideFromGbk(gbk);
}

windows::HeldKeys Held() {
    return {GetKeyState(VK_SHIFT) < 0, GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_MENU) < 0};
}

HWND HandleOf(const Unit& unit) {
    const auto* part = windows::PartIfMade<Win32Part>(unit);
    return part != nullptr ? part->hwnd : nullptr;
}

// A program window carries its id from the moment it is made, and each of its controls its
// unit's id, so every message finds its window and unit without a search through the units;
// another window's data never names one of ours by handle.
std::uint32_t IdCarriedBy(HWND hwnd) {
    return static_cast<std::uint32_t>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

Window* WindowOf(HWND hwnd) {
    if (hwnd == nullptr) return nullptr;
    Window* w = Windows().LoadedWindow(IdCarriedBy(hwnd));
    return w != nullptr && HandleOf(w->Self()) == hwnd ? w : nullptr;
}

// A control's unit (the player's host keeps its own data there, and is never asked for).
Unit* UnitByHandle(HWND hwnd) {
    Window* w = hwnd != nullptr ? WindowOf(GetParent(hwnd)) : nullptr;
    if (w == nullptr) return nullptr;
    const auto it = w->units.find(IdCarriedBy(hwnd));
    return it != w->units.end() && HandleOf(*it->second) == hwnd ? it->second.get() : nullptr;
}

Unit* UnitByControlId(Window& w, WORD controlId, std::uint32_t wantedType) {
    for (auto& [id, u] : w.units)
        if (ControlId(id) == controlId && u->type == wantedType && id != w.id) return u.get();
    return nullptr;
}

// Edit boxes and labels report keys, double-clicks and button presses through this.
LRESULT CALLBACK UnitSubclass(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
    Unit* unit = UnitByHandle(hwnd);
    if (unit != nullptr) {
        windows::WindowCore& core = Windows();
        switch (msg) {
            case WM_KEYDOWN:
                if (unit->type == type::kEditBox)
                    core.RaiseEvent(*unit, kKeyDown, static_cast<std::int32_t>(wp),
                                    windows::ShiftState(Held()));
                break;
            case WM_CHAR:
                // Enter reached the key-down handler already; a single-line edit would beep.
                if (unit->type == type::kEditBox && wp == VK_RETURN) return 0;
                break;
            case WM_LBUTTONDBLCLK:
                if (unit->type == type::kEditBox) core.RaiseEvent(*unit, kDoubleClick);
                break;
            case WM_LBUTTONDOWN:
                // The message carries the key state in the MK_* bits the event reports.
                if (unit->type == type::kLabel)
                    core.RaiseEvent(*unit, kLeftButtonDown, static_cast<short>(LOWORD(lp)),
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

LRESULT OnCtlColor(Window& w, HDC dc, HWND control) {
    Unit* unit = UnitByHandle(control);
    if (unit == nullptr || unit->window != w.id) return 0;
    SetTextColor(dc, unit->textColour);
    if (unit->backColour == CLR_NONE) {
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    SetBkColor(dc, unit->backColour);
    Win32Part& part = PartOf<Win32Part>(*unit);
    if (part.backBrush == nullptr) part.backBrush = CreateSolidBrush(unit->backColour);
    return reinterpret_cast<LRESULT>(part.backBrush);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = WindowOf(hwnd);
    if (w == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
    windows::WindowCore& core = Windows();
    // A handler may destroy the window: only its id is used after one runs.
    const std::uint32_t id = w->id;
    switch (msg) {
        case WM_CLOSE:
            if (core.MayClose(*w)) core.DestroyWindow(id);
            return 0;
        case WM_DESTROY: {
            // Destroyed by someone else while still loaded: it leaves the core all the same.
            auto& toolkit = static_cast<Win32Toolkit&>(core.toolkit());
            toolkit.DestroyedBySystem(hwnd);
            core.DestroyWindow(id);
            toolkit.DestroyedBySystem(nullptr);
            return 0;
        }
        case WM_COMMAND:
            if (lp == 0 && HIWORD(wp) == 0) {
                if (Unit* item = UnitByControlId(*w, LOWORD(wp), type::kMenuItem))
                    core.RunMenuItem(*item);
            } else if (HIWORD(wp) == BN_CLICKED) {
                if (Unit* u = UnitByHandle(reinterpret_cast<HWND>(lp));
                    u != nullptr && u->type == type::kButton)
                    core.RaiseEvent(*u, kClick);
            }
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lp);
            Unit* u = UnitByHandle(header->hwndFrom);
            if (u != nullptr && u->type == type::kReportList) {
                if (header->code == NM_RCLICK) core.RaiseEvent(*u, kListRightClick);
                if (header->code == NM_DBLCLK) core.RaiseEvent(*u, kDoubleClick);
            }
            return 0;
        }
        case WM_TIMER:
            if (Unit* u = UnitByControlId(*w, static_cast<WORD>(wp), type::kTimer))
                core.RaiseEvent(*u, kTick);
            return 0;
        case WM_SIZE:
            // A status bar docks to the bottom edge; it finds its place when told of the size.
            for (auto& [uid, u] : w->units)
                if (HWND bar = HandleOf(*u); u->type == type::kStatusBar && bar != nullptr)
                    SendMessageW(bar, WM_SIZE, 0, 0);
            break;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
            if (LRESULT brush =
                    OnCtlColor(*w, reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp)))
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

HWND CreateFacetUnit(HWND parent, const Unit& u, DWORD style) {
    const auto& libs = Program().libraries;
    if (libs.size() <= row::kFacet || libs[row::kFacet].createUnit == nullptr) return nullptr;
    const image::Unit& r = *u.record;
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
        parent,
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
    return static_cast<HWND>(libs[row::kFacet].createUnit(&placement));
}

std::unique_ptr<PlayerUnit> CreatePlayer(HWND parent, const Unit& u) {
    const image::Unit& r = *u.record;
    PlayerPlacement placement;
    placement.parent = parent;
    placement.rect = {r.left, r.top, r.left + r.width, r.top + r.height};
    placement.controlId = ControlId(u.id);
    placement.properties = std::get_if<image::MediaPlayerProperties>(&r.properties);
    const UnitRef self{u.window, u.id};
    placement.onEvent = [self](int event, int value) {
        Windows().RaiseIfLoaded(self, event, value);
    };
    return CreatePlayerUnit(placement);
}

}  // namespace

windows::WindowCore& Windows() {
    static Win32Toolkit toolkit;
    static windows::WindowCore core(toolkit, Program().form);
    return core;
}

HFONT UnitFont() {
    static HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                    DEFAULT_PITCH | FF_DONTCARE, L"SimSun");
    return font;
}

bool Win32Toolkit::MakeWindow(Window& w) {
    if (!RegisterWindowClass()) return false;
    Unit& self = w.Self();
    const image::Unit& r = *self.record;
    const auto* props = std::get_if<image::WindowProperties>(&r.properties);
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    if (props == nullptr || props->border == 1) style |= WS_THICKFRAME;
    if (props == nullptr || props->minimizeButton != 0) style |= WS_MINIMIZEBOX;
    if (props == nullptr || props->maximizeButton != 0) style |= WS_MAXIMIZEBOX;
    const std::wstring title = Wide(windows::FormText(r));
    HWND hwnd =
        CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, title.c_str(), style, r.left, r.top,
                        r.width, r.height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (hwnd == nullptr) return false;
    if (props != nullptr && !props->icon.empty()) {
        if (HICON icon = IconFromFile(props->icon)) {
            SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
            SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        }
    }
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, static_cast<LONG_PTR>(w.id));
    PartOf<Win32Part>(self).hwnd = hwnd;
    return true;
}

bool Win32Toolkit::CreateUnit(Window& w, Unit& u, bool shown) {
    Win32Part& part = PartOf<Win32Part>(u);
    HWND parent = PartOf<Win32Part>(w.Self()).hwnd;
    const image::Unit& r = *u.record;
    DWORD style = 0;
    if (shown) style |= WS_VISIBLE;
    if (u.TakesFocus()) style |= WS_TABSTOP;
    const std::wstring text = Wide(windows::FormText(r));
    switch (u.type) {
        case type::kEditBox:
            part.hwnd = CreateChild(L"Edit", text, style | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, parent,
                                    r, u.id);
            break;
        case type::kButton:
            part.hwnd = CreateChild(L"Button", text, style | BS_PUSHBUTTON, 0, parent, r, u.id);
            break;
        case type::kLabel:
            part.hwnd =
                CreateChild(L"Static", text, style | SS_NOTIFY | SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS,
                            0, parent, r, u.id);
            break;
        case type::kTimer:
            if (u.timerPeriod != 0)
                SetTimer(parent, ControlId(u.id), static_cast<UINT>(u.timerPeriod), nullptr);
            return true;
        case type::kReportList:
        case type::kStatusBar:
            part.hwnd = CreateFacetUnit(parent, u, style);
            break;
        case type::kMediaPlayer:
            part.player = CreatePlayer(parent, u);
            part.hwnd = part.player ? part.player->Window() : nullptr;
            return part.player != nullptr;
        default:
            return false;
    }
    if (part.hwnd == nullptr) return false;
    SetWindowLongPtrW(part.hwnd, GWLP_USERDATA, static_cast<LONG_PTR>(u.id));
    if (u.type == type::kEditBox || u.type == type::kLabel)
        SetWindowSubclass(part.hwnd, &UnitSubclass, 1, 0);
    return true;
}

void Win32Toolkit::CreateMenu(Window&, Unit& menu) {
    // A top-level menu is popped up over units, never shown as a menu bar.
    PartOf<Win32Part>(menu).menu = CreatePopupMenu();
}

void Win32Toolkit::AddMenuItem(Window&, Unit& menu, Unit& item) {
    PartOf<Win32Part>(item);
    const auto* p = std::get_if<image::MenuItemProperties>(&item.record->properties);
    AppendMenuW(PartOf<Win32Part>(menu).menu, MF_STRING, ControlId(item.id),
                p != nullptr ? Wide(p->caption).c_str() : L"");
}

void Win32Toolkit::FinishWindow(Window& w, const std::vector<Unit*>& focusOrder, bool show) {
    if (!show) return;
    HWND hwnd = PartOf<Win32Part>(w.Self()).hwnd;
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    if (Unit* first = windows::FirstFocus(focusOrder))
        if (HWND h = PartOf<Win32Part>(*first).hwnd) SetFocus(h);
}

void Win32Toolkit::ShowAgain(Window& w) {
    ShowWindow(PartOf<Win32Part>(w.Self()).hwnd, SW_SHOW);
}

void Win32Toolkit::DestroyWindow(Window& w) {
    HWND hwnd = PartOf<Win32Part>(w.Self()).hwnd;
    for (auto& [uid, u] : w.units) {
        Win32Part& part = PartOf<Win32Part>(*u);
        if (u->timerPeriod != 0) KillTimer(hwnd, ControlId(uid));
        if (part.menu != nullptr) DestroyMenu(part.menu);
        if (part.backBrush != nullptr) DeleteObject(part.backBrush);
        part.player.reset();
    }
    if (hwnd != destroyedBySystem_) ::DestroyWindow(hwnd);
}

void Win32Toolkit::Quit() {
    PostQuitMessage(0);
}

int Win32Toolkit::RunHandler(std::uint32_t codeOffset, std::int32_t a, std::int32_t b,
                             std::int32_t c, int) {
    return reinterpret_cast<EventHandler>(Program().codeBase + codeOffset)(a, b, c);
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
    Unit* u = Windows().FindUnit(UnitRef{window, unit});
    return u != nullptr ? HandleOf(*u) : nullptr;
}

void* ActiveProgramWindow() {
    HWND active = GetActiveWindow();
    if (active != nullptr && WindowOf(active) != nullptr) return active;
    Window* main = Windows().MainWindow();
    return main != nullptr ? HandleOf(main->Self()) : nullptr;
}

}  // namespace tessel::basalt
