#pragma once
// The window system's own records of the windows and units it created.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tessel/basalt/player_slot.h"
#include "tessel/image/form.h"

namespace tessel::basalt {

struct UnitState {
    std::uint32_t window = 0;
    std::uint32_t id = 0;
    std::uint32_t type = 0;
    HWND hwnd = nullptr;  // null for the timer and menu items
    const image::Unit* record = nullptr;
    std::vector<image::FormEvent> events;
    std::string tag;
    std::int32_t attribute24 = 0;
    COLORREF textColour = 0;
    COLORREF backColour = CLR_NONE;  // transparent
    HBRUSH backBrush = nullptr;
    std::uint32_t timerPeriod = 0;
    RECT timerRect{};                         // a timer is never drawn but keeps its geometry
    HMENU menu = nullptr;                     // a top-level menu unit: its pop-up
    std::uint32_t clickHandler = 0xFFFFFFFF;  // a menu item's
    std::unique_ptr<PlayerUnit> player;
};

struct WindowState {
    std::uint32_t id = 0;
    HWND hwnd = nullptr;
    const image::FormWindow* form = nullptr;
    std::map<std::uint32_t, std::unique_ptr<UnitState>> units;  // the window's own under its id
    bool isMain = false;
};

std::map<std::uint32_t, std::unique_ptr<WindowState>>& Windows();
WindowState* FindWindowState(std::uint32_t windowId);
UnitState* FindUnit(std::uint32_t window, std::uint32_t unit);
UnitState* FindUnitByHandle(HWND hwnd);
HFONT UnitFont();

// Runs the unit's handler for `event`, with the unit as the one that raised it. Answers the
// handler's result, or `fallback` when no handler is bound.
int RaiseEvent(UnitState& unit, std::int32_t event, std::int32_t a = 0, std::int32_t b = 0,
               std::int32_t c = 0, int fallback = 0);

// Creates a control for a unit record of a window (also for copies); false when the kind is
// not one this runtime builds.
bool CreateUnitControl(WindowState& window, UnitState& unit, const image::Unit& record,
                       bool forceHidden);
std::uint32_t NewCopyId();
// The unit whose event is being handled: (window, unit), or (0, 0) outside any event.
std::pair<std::uint32_t, std::uint32_t> CurrentEventUnit();

}  // namespace tessel::basalt
