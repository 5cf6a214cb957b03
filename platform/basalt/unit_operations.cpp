// Unit properties and the window commands: what the program reads and changes on its units.
#include <windows.h>

#include "tessel/platform/gbk_win32.h"
#include "tessel/platform/window_commands.h"
#include "tessel/runtime/units.h"
#include "window_state.h"
#include "window_system.h"

namespace tessel::basalt {

namespace {

namespace type = image::unit_type;
using platform::UnitPlace;

Value UnitRecord(const UnitState* u) {
    return u != nullptr ? UnitValue(u->window, u->id, u->type) : OmittedValue();
}

// The window commands, the unit properties and the player's commands on basalt's windows.
// Units named by a property service exist (the shared decoding asks IsCreated first).
class BasaltWindowOperations final : public platform::WindowOperations {
  public:
    std::string Text(UnitRef unit) override {
        const UnitState& u = Unit(unit);
        std::wstring text;
        if (u.hwnd != nullptr) {
            text.resize(static_cast<std::size_t>(GetWindowTextLengthW(u.hwnd)) + 1);
            text.resize(static_cast<std::size_t>(
                GetWindowTextW(u.hwnd, text.data(), static_cast<int>(text.size()))));
        }
        return platform::GbkFromWide(text);
    }
    void SetText(UnitRef unit, std::string_view gbk) override {
        if (HWND h = Unit(unit).hwnd) SetWindowTextW(h, platform::WideFromGbk(gbk).c_str());
    }
    // Relative to the parent's client area; a window's on the screen.
    UnitPlace Place(UnitRef unit) override {
        const UnitState& u = Unit(unit);
        RECT r = u.timerRect;  // a timer is never drawn but keeps its place
        if (u.type != type::kTimer) {
            r = {};
            GetWindowRect(u.hwnd, &r);
            if (HWND parent = GetParent(u.hwnd);
                parent != nullptr && (GetWindowLongW(u.hwnd, GWL_STYLE) & WS_CHILD))
                MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
        }
        return {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
    void SetPlace(UnitRef unit, UnitPlace p) override {
        UnitState& u = Unit(unit);
        if (u.type == type::kTimer)
            u.timerRect = {p.left, p.top, p.left + p.width, p.top + p.height};
        else if (u.hwnd != nullptr)
            MoveWindow(u.hwnd, p.left, p.top, p.width, p.height, TRUE);
    }
    bool Shown(UnitRef unit) override {
        const UnitState& u = Unit(unit);
        return u.hwnd != nullptr && IsWindowVisible(u.hwnd);
    }
    void SetShown(UnitRef unit, bool shown) override {
        if (HWND h = Unit(unit).hwnd) ShowWindow(h, shown ? SW_SHOW : SW_HIDE);
    }
    std::string& Tag(UnitRef unit) override { return Unit(unit).tag; }
    std::uint32_t Colour(UnitRef unit, std::uint32_t property) override {
        const UnitState& u = Unit(unit);
        return property == unit_property::kTextColour ? u.textColour : u.backColour;
    }
    void SetColour(UnitRef unit, std::uint32_t property, std::uint32_t colour) override {
        UnitState& u = Unit(unit);
        (property == unit_property::kTextColour ? u.textColour : u.backColour) = colour;
        if (u.backBrush != nullptr) {
            DeleteObject(u.backBrush);
            u.backBrush = nullptr;
        }
        if (u.hwnd != nullptr) InvalidateRect(u.hwnd, nullptr, TRUE);
    }
    std::int32_t& Attribute24(UnitRef unit) override { return Unit(unit).attribute24; }
    std::int32_t TimerPeriod(UnitRef unit) override {
        return static_cast<std::int32_t>(Unit(unit).timerPeriod);
    }
    void SetTimerPeriod(UnitRef unit, std::int32_t period) override {
        UnitState& u = Unit(unit);
        WindowState* w = FindWindowState(u.window);
        if (w == nullptr) return;
        const auto id = static_cast<UINT_PTR>(u.id & 0xFFFF);
        KillTimer(w->hwnd, id);
        u.timerPeriod = period > 0 ? static_cast<std::uint32_t>(period) : 0;
        if (u.timerPeriod != 0) SetTimer(w->hwnd, id, u.timerPeriod, nullptr);
    }

    Value CopyUnit(UnitRef source) override {
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
    void PopUpMenu(std::uint32_t windowId, UnitRef menuUnit,
                   std::optional<std::pair<int, int>> at) override {
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
    bool IsPlayer(UnitRef unit) override { return Player(unit) != nullptr; }
    void SetPlayerUrl(UnitRef player, std::string_view url) override {
        Player(player)->SetUrl(platform::WideFromGbk(url).c_str());
    }
    void StopPlayer(UnitRef player) override { Player(player)->Stop(); }

  private:
    static UnitState& Unit(UnitRef unit) { return *FindUnit(unit.window, unit.unit); }
    static PlayerUnit* Player(UnitRef unit) {
        const UnitState* u = FindUnit(unit.window, unit.unit);
        return u != nullptr ? u->player.get() : nullptr;
    }
};

BasaltWindowOperations g_operations;

}  // namespace

void ReadUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                      std::int32_t, Value* result) {
    platform::ReadUnitProperty(g_operations, {window, unit}, property, result);
}

void WriteUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                       std::int32_t, Word low, std::uint32_t) {
    platform::WriteUnitProperty(g_operations, {window, unit}, property, low);
}

bool RunWindowCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result) {
    return platform::RunWindowCommand(g_operations, command, n, args, result);
}

void RunPlayerCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result) {
    platform::RunPlayerCommand(g_operations, command, n, args, result);
}

}  // namespace tessel::basalt
