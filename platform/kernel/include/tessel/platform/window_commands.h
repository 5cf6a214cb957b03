#pragma once
// The window commands of the kernel and the media player's commands, decoded once for every
// runtime with windows: each runtime says what the operations do on its own windows.
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "tessel/runtime/units.h"

namespace tessel::platform {

class WindowOperations {
  public:
    virtual ~WindowOperations() = default;
    // A new unit of the same kind and window, not shown; omitted when it cannot be made.
    virtual Value CopyUnit(UnitRef source) = 0;
    // `unit`'s events run `source`'s handlers from now on.
    virtual void RouteEvents(UnitRef unit, UnitRef source) = 0;
    // The unit whose event is being handled, as a unit record; omitted outside any event.
    virtual Value EventUnit() = 0;
    virtual bool IsCreated(UnitRef unit) = 0;
    virtual bool LoadWindow(std::uint32_t windowId) = 0;
    virtual void DestroyWindow(std::uint32_t windowId) = 0;
    // At `at` in the window's client area, or at the mouse pointer.
    virtual void PopUpMenu(std::uint32_t windowId, UnitRef menu,
                           std::optional<std::pair<int, int>> at) = 0;
    // The player unit's commands; a unit that is no player unit is passed over.
    virtual bool IsPlayer(UnitRef unit) = 0;
    virtual void SetPlayerUrl(UnitRef player, std::string_view url) = 0;
    virtual void StopPlayer(UnitRef player) = 0;
};

// Runs a window command; false when `command` is not one of them.
bool RunWindowCommand(WindowOperations& windows, std::uint32_t command, std::uint32_t argCount,
                      const Value* args, Value* result);
// Runs a command of the media player control (library row 4).
void RunPlayerCommand(WindowOperations& windows, std::uint32_t command, std::uint32_t argCount,
                      const Value* args, Value* result);

}  // namespace tessel::platform
