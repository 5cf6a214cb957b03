#pragma once
// The unit property services, the window commands of the kernel and the media player's
// commands, decoded once for every runtime with windows: each runtime says what the operations
// do on its own windows.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "tessel/runtime/units.h"

namespace tessel::platform {

// A unit's place: relative to its parent's client area, a window's on the screen with its frame.
struct UnitPlace {
    std::int32_t left = 0, top = 0, width = 0, height = 0;
};

class WindowOperations {
  public:
    virtual ~WindowOperations() = default;
    // Unit properties; the unit exists (IsCreated) when they are called.
    virtual std::string Text(UnitRef unit) = 0;  // GBK
    virtual void SetText(UnitRef unit, std::string_view gbk) = 0;
    virtual UnitPlace Place(UnitRef unit) = 0;
    virtual void SetPlace(UnitRef unit, UnitPlace place) = 0;
    virtual bool Shown(UnitRef unit) = 0;
    virtual void SetShown(UnitRef unit, bool shown) = 0;
    // Tag, colours (0x00BBGGRR, kTextColour or kBackColour), attribute 24: kept per unit.
    virtual std::string& Tag(UnitRef unit) = 0;
    virtual std::uint32_t Colour(UnitRef unit, std::uint32_t property) = 0;
    virtual void SetColour(UnitRef unit, std::uint32_t property, std::uint32_t colour) = 0;
    virtual std::int32_t& Attribute24(UnitRef unit) = 0;
    virtual std::int32_t TimerPeriod(UnitRef unit) = 0;  // 0 while it stands still
    virtual void SetTimerPeriod(UnitRef unit, std::int32_t period) = 0;

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

// The unit property services: reading an unknown unit answers the empty text or 0; writing one
// does nothing.
void ReadUnitProperty(WindowOperations& windows, UnitRef unit, std::uint32_t property,
                      Value* result);
void WriteUnitProperty(WindowOperations& windows, UnitRef unit, std::uint32_t property, Word low);

// Runs a window command; false when `command` is not one of them.
bool RunWindowCommand(WindowOperations& windows, std::uint32_t command, std::uint32_t argCount,
                      const Value* args, Value* result);
// Runs a command of the media player control (library row 4).
void RunPlayerCommand(WindowOperations& windows, std::uint32_t command, std::uint32_t argCount,
                      const Value* args, Value* result);

}  // namespace tessel::platform
