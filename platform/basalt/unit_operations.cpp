// Unit properties and the window commands: what the program reads and changes on its units.
#include <windows.h>

#include "tessel/platform/arguments.h"
#include "tessel/platform/gbk_win32.h"
#include "tessel/platform/window_commands.h"
#include "tessel/runtime/units.h"
#include "window_state.h"
#include "window_system.h"

namespace tessel::basalt {

namespace {

namespace type = image::unit_type;
using platform::ArgInt;

// Geometry relative to the parent's client area; a window's on the screen.
RECT UnitRect(const UnitState& u) {
    if (u.type == type::kTimer) return u.timerRect;
    RECT r{};
    GetWindowRect(u.hwnd, &r);
    if (HWND parent = GetParent(u.hwnd);
        parent != nullptr && (GetWindowLongW(u.hwnd, GWL_STYLE) & WS_CHILD))
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void MoveUnit(UnitState& u, std::uint32_t property, std::int32_t v) {
    RECT r = UnitRect(u);
    LONG left = r.left, top = r.top, width = r.right - r.left, height = r.bottom - r.top;
    switch (property) {
        case unit_property::kLeft:
            left = v;
            break;
        case unit_property::kTop:
            top = v;
            break;
        case unit_property::kWidth:
            width = v;
            break;
        default:
            height = v;
            break;
    }
    if (u.type == type::kTimer) {
        u.timerRect = {left, top, left + width, top + height};
        return;
    }
    MoveWindow(u.hwnd, left, top, width, height, TRUE);
}

void SetTimerPeriod(UnitState& u, std::int32_t period) {
    WindowState* w = FindWindowState(u.window);
    if (w == nullptr) return;
    const auto id = static_cast<UINT_PTR>(u.id & 0xFFFF);
    KillTimer(w->hwnd, id);
    u.timerPeriod = period > 0 ? static_cast<std::uint32_t>(period) : 0;
    if (u.timerPeriod != 0) SetTimer(w->hwnd, id, u.timerPeriod, nullptr);
}

Value UnitRecord(const UnitState* u) {
    return u != nullptr ? UnitValue(u->window, u->id, u->type) : OmittedValue();
}

Value CopyUnit(UnitRef source) {
    UnitState* from = FindUnit(source.window, source.unit);
    WindowState* w = from != nullptr ? FindWindowState(from->window) : nullptr;
    if (w == nullptr || from->record == nullptr || from->id == w->id) return OmittedValue();
    auto copy = std::make_unique<UnitState>();
    copy->window = w->id;
    copy->id = NewCopyId();
    copy->type = from->type;
    copy->record = from->record;
    copy->events = from->events;
    if (!CreateUnitControl(*w, *copy, *from->record, true)) return OmittedValue();
    copy->textColour = from->textColour;
    copy->backColour = from->backColour;
    UnitState* made = copy.get();
    w->units[copy->id] = std::move(copy);
    return UnitRecord(made);
}

void PopUpMenu(std::uint32_t windowId, UnitRef menuUnit, std::optional<std::pair<int, int>> at) {
    WindowState* w = FindWindowState(windowId);
    UnitState* menu = FindUnit(menuUnit.window, menuUnit.unit);
    if (w == nullptr || menu == nullptr || menu->menu == nullptr) return;
    POINT point{};
    GetCursorPos(&point);
    if (at) {
        point = {at->first, at->second};
        ClientToScreen(w->hwnd, &point);
    }
    SetForegroundWindow(w->hwnd);
    TrackPopupMenu(menu->menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, point.x, point.y, 0, w->hwnd,
                   nullptr);
    PostMessageW(w->hwnd, WM_NULL, 0, 0);
}

}  // namespace

void ReadUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                      std::int32_t, Value* result) {
    *result = OmittedValue();
    UnitState* u = FindUnit(window, unit);
    const bool isText = property == unit_property::kText || property == unit_property::kTag;
    if (u == nullptr) {
        *result = isText ? platform::NewText("") : IntegerValue(0);
        return;
    }
    switch (property) {
        case unit_property::kText: {
            std::wstring text;
            if (u->hwnd != nullptr) {
                text.resize(static_cast<std::size_t>(GetWindowTextLengthW(u->hwnd)) + 1);
                text.resize(static_cast<std::size_t>(
                    GetWindowTextW(u->hwnd, text.data(), static_cast<int>(text.size()))));
            }
            *result = platform::NewText(platform::GbkFromWide(text));
            return;
        }
        case unit_property::kTag:
            *result = platform::NewText(u->tag);
            return;
        case unit_property::kLeft:
        case unit_property::kTop:
        case unit_property::kWidth:
        case unit_property::kHeight: {
            const RECT r = UnitRect(*u);
            const LONG v = property == unit_property::kLeft    ? r.left
                           : property == unit_property::kTop   ? r.top
                           : property == unit_property::kWidth ? r.right - r.left
                                                               : r.bottom - r.top;
            *result = IntegerValue(v);
            return;
        }
        case unit_property::kShown:
            *result = LogicalValue(u->hwnd != nullptr && IsWindowVisible(u->hwnd));
            return;
        case unit_property::kTextColour:
            *result = IntegerValue(static_cast<std::int32_t>(u->textColour));
            return;
        case unit_property::kBackColour:
            *result = IntegerValue(static_cast<std::int32_t>(u->backColour));
            return;
        case unit_property::kTimerPeriod:
            *result = IntegerValue(static_cast<std::int32_t>(u->timerPeriod));
            return;
        case unit_property::kAttribute24:
            *result = IntegerValue(u->attribute24);
            return;
        default:
            *result = IntegerValue(0);
            return;
    }
}

void WriteUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                       std::int32_t, Word low, std::uint32_t) {
    UnitState* u = FindUnit(window, unit);
    if (u == nullptr) return;
    const auto integer = static_cast<std::int32_t>(static_cast<std::uint32_t>(low));
    const char* text = reinterpret_cast<const char*>(low);
    switch (property) {
        case unit_property::kText:
            if (u->hwnd != nullptr)
                SetWindowTextW(u->hwnd, platform::WideFromGbk(text ? text : "").c_str());
            return;
        case unit_property::kTag:
            u->tag = text != nullptr ? text : "";
            return;
        case unit_property::kLeft:
        case unit_property::kTop:
        case unit_property::kWidth:
        case unit_property::kHeight:
            if (u->hwnd != nullptr || u->type == type::kTimer) MoveUnit(*u, property, integer);
            return;
        case unit_property::kShown:
            if (u->hwnd != nullptr) ShowWindow(u->hwnd, low != 0 ? SW_SHOW : SW_HIDE);
            return;
        case unit_property::kTextColour:
        case unit_property::kBackColour:
            (property == unit_property::kTextColour ? u->textColour : u->backColour) =
                static_cast<COLORREF>(integer);
            if (u->backBrush != nullptr) {
                DeleteObject(u->backBrush);
                u->backBrush = nullptr;
            }
            if (u->hwnd != nullptr) InvalidateRect(u->hwnd, nullptr, TRUE);
            return;
        case unit_property::kTimerPeriod:
            SetTimerPeriod(*u, integer);
            return;
        case unit_property::kAttribute24:
            u->attribute24 = integer;
            return;
        default:
            return;
    }
}

namespace {

// The window commands and the player's on basalt's windows.
class BasaltWindowOperations final : public platform::WindowOperations {
  public:
    Value CopyUnit(UnitRef source) override { return basalt::CopyUnit(source); }
    void RouteEvents(UnitRef unit, UnitRef source) override {
        UnitState* to = FindUnit(unit.window, unit.unit);
        const UnitState* from = FindUnit(source.window, source.unit);
        if (to != nullptr && from != nullptr) to->events = from->events;
    }
    Value EventUnit() override {
        const auto [w, u] = CurrentEventUnit();
        return UnitRecord(FindUnit(w, u));
    }
    bool IsCreated(UnitRef unit) override { return FindUnit(unit.window, unit.unit) != nullptr; }
    bool LoadWindow(std::uint32_t windowId) override { return basalt::LoadWindow(windowId, true); }
    void DestroyWindow(std::uint32_t windowId) override {
        if (WindowState* w = FindWindowState(windowId)) ::DestroyWindow(w->hwnd);
    }
    void PopUpMenu(std::uint32_t windowId, UnitRef menu,
                   std::optional<std::pair<int, int>> at) override {
        basalt::PopUpMenu(windowId, menu, at);
    }
    bool IsPlayer(UnitRef unit) override { return Player(unit) != nullptr; }
    void SetPlayerUrl(UnitRef player, std::string_view url) override {
        Player(player)->SetUrl(platform::WideFromGbk(url).c_str());
    }
    void StopPlayer(UnitRef player) override { Player(player)->Stop(); }

  private:
    static PlayerUnit* Player(UnitRef unit) {
        const UnitState* u = FindUnit(unit.window, unit.unit);
        return u != nullptr ? u->player.get() : nullptr;
    }
};

BasaltWindowOperations g_operations;

}  // namespace

bool RunWindowCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result) {
    return platform::RunWindowCommand(g_operations, command, n, args, result);
}

void RunPlayerCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result) {
    platform::RunPlayerCommand(g_operations, command, n, args, result);
}

}  // namespace tessel::basalt
