// What the program reads and changes on its units, as Win32 keeps it: text, place, shown state,
// colours, timers, pop-up menus and the player.
#include "tessel/win32_shared/gbk_win32.h"
#include "win32_toolkit.h"
#include "window_system.h"

namespace tessel::basalt {

std::string Win32Toolkit::Text(windows::Unit& unit) {
    std::wstring text;
    if (HWND h = PartOf<Win32Part>(unit).hwnd) {
        text.resize(static_cast<std::size_t>(GetWindowTextLengthW(h)) + 1);
        text.resize(static_cast<std::size_t>(
            GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
    }
    return platform::GbkFromWide(text);
}

void Win32Toolkit::SetText(windows::Unit& unit, std::string_view gbk) {
    if (HWND h = PartOf<Win32Part>(unit).hwnd)
        SetWindowTextW(h, platform::WideFromGbk(gbk).c_str());
}

windows::UnitPlace Win32Toolkit::Place(windows::Unit& unit) {
    HWND h = PartOf<Win32Part>(unit).hwnd;
    RECT r{};
    GetWindowRect(h, &r);
    if (HWND parent = GetParent(h); parent != nullptr && (GetWindowLongW(h, GWL_STYLE) & WS_CHILD))
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void Win32Toolkit::SetPlace(windows::Unit& unit, windows::UnitPlace p) {
    if (HWND h = PartOf<Win32Part>(unit).hwnd)
        MoveWindow(h, p.left, p.top, p.width, p.height, TRUE);
}

bool Win32Toolkit::Shown(windows::Unit& unit) {
    HWND h = PartOf<Win32Part>(unit).hwnd;
    return h != nullptr && IsWindowVisible(h);
}

void Win32Toolkit::SetShown(windows::Unit& unit, bool shown) {
    if (HWND h = PartOf<Win32Part>(unit).hwnd) ShowWindow(h, shown ? SW_SHOW : SW_HIDE);
}

// The next WM_CTLCOLOR* paints with the new colours and makes the brush again.
void Win32Toolkit::ColoursChanged(windows::Unit& unit) {
    Win32Part& part = PartOf<Win32Part>(unit);
    if (part.backBrush != nullptr) {
        DeleteObject(part.backBrush);
        part.backBrush = nullptr;
    }
    if (part.hwnd != nullptr) InvalidateRect(part.hwnd, nullptr, TRUE);
}

void Win32Toolkit::TimerChanged(windows::Unit& unit) {
    windows::Window* w = Windows().LoadedWindow(unit.window);
    if (w == nullptr) return;
    HWND owner = PartOf<Win32Part>(w->Self()).hwnd;
    KillTimer(owner, ControlId(unit.id));
    if (unit.timerPeriod != 0)
        SetTimer(owner, ControlId(unit.id), static_cast<UINT>(unit.timerPeriod), nullptr);
}

void Win32Toolkit::PopUpMenu(windows::Window& w, windows::Unit& menu,
                             std::optional<std::pair<int, int>> at) {
    HMENU popUp = PartOf<Win32Part>(menu).menu;
    HWND owner = PartOf<Win32Part>(w.Self()).hwnd;
    if (popUp == nullptr) return;
    POINT point{};
    GetCursorPos(&point);
    if (at) {
        point = {at->first, at->second};
        ClientToScreen(owner, &point);
    }
    SetForegroundWindow(owner);
    TrackPopupMenu(popUp, TPM_LEFTALIGN | TPM_RIGHTBUTTON, point.x, point.y, 0, owner, nullptr);
    PostMessageW(owner, WM_NULL, 0, 0);
}

bool Win32Toolkit::IsPlayer(windows::Unit& unit) {
    return PartOf<Win32Part>(unit).player != nullptr;
}

void Win32Toolkit::SetPlayerUrl(windows::Unit& player, std::string_view gbk) {
    PartOf<Win32Part>(player).player->SetUrl(platform::WideFromGbk(gbk).c_str());
}

void Win32Toolkit::StopPlayer(windows::Unit& player) {
    PartOf<Win32Part>(player).player->Stop();
}

// Their copies of songs go after them, so that no control holds one open.
void Win32Toolkit::ReleasePlayers() {
    Windows().ForEachUnit([](windows::Unit& u) { PartOf<Win32Part>(u).player.reset(); });
    DeletePlayerCopies();
}

}  // namespace tessel::basalt
