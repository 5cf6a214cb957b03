#pragma once
// Window units: the numbering of their properties, of the window commands of the kernel and of
// the unit commands of the support libraries, the parameters each event handler receives, and
// typed wrappers for the operations the application performs on its units.
#include <cstdint>

#include "tessel/runtime/text.h"
#include "tessel/runtime/value.h"

namespace tessel {

// A unit is addressed by (window id, unit id); a window's own record uses the window id twice.
struct UnitRef {
    std::uint32_t window = 0;
    std::uint32_t unit = 0;
    bool IsSet() const { return window != 0 || unit != 0; }
};

// Properties of the read/write unit property slots.
namespace unit_property {
enum : std::uint32_t {
    kText = 1,  // text: edit box content, label or button caption, window title
    kLeft = 2,  // integer pixels, relative to the parent's client area
    kTop = 3,
    kWidth = 4,  // integer; for a window its outer width
    kHeight = 5,
    kShown = 6,         // logical
    kTag = 7,           // text kept with the unit for the program
    kTextColour = 8,    // integer RGB as 0x00BBGGRR
    kBackColour = 9,    // integer RGB; -1 transparent
    kTimerPeriod = 10,  // integer milliseconds; 0 stops the timer
    kTagMark = 24,  // an integer kept for the program alone; tags set it to 1 to mark themselves
};
}  // namespace unit_property

// Window commands of the kernel-command slot. A unit argument is a record (window, unit, type).
namespace window_command {
enum : std::uint32_t {
    kCopyUnit = 300,       // (unit) -> a new unit of the same kind and window, not shown
    kRouteEvents = 301,    // (unit, source unit) -> omitted: unit's events run source's handlers
    kEventUnit = 302,      // () -> the unit that raised the event being handled
    kIsCreated = 303,      // (unit) -> logical; false for a reference never set
    kLoadWindow = 304,     // (window id integer, modal logical) -> logical
    kDestroyWindow = 305,  // (window id integer) -> omitted
    kPopUpMenu = 306,      // (window unit, menu unit, x integer|omitted, y integer|omitted)
};
}  // namespace window_command

// Commands of the extended interface library `facet` (row 1); the first argument is the unit.
namespace facet {
enum Command : std::uint32_t {
    kListDeleteAll = 1,    // (list) -> omitted
    kListAppendRow = 2,    // (list, insertion arguments omitted) -> integer index of the new row
    kListRowCount = 3,     // (list) -> integer
    kListSetCell = 4,      // (list, row, column, text) -> logical
    kListReadCell = 5,     // (list, row, column) -> text
    kListSelectedRow = 6,  // (list) -> integer; -1 when nothing is selected
    kStatusSetPane = 10,   // (status bar, pane, text) -> logical
    kStatusReadPane = 11,  // (status bar, pane) -> text
};
}  // namespace facet

// Commands of the operating-system interface library `vestry` (row 3).
namespace vestry {
enum Command : std::uint32_t {
    kBrowseForFolder = 1,  // (title text, option logical) -> text path; empty when cancelled
};
}  // namespace vestry

// Commands of the media player control (row 4).
namespace player {
enum Command : std::uint32_t {
    kSetUrl = 1,    // (player 0x50003, address text) -> omitted; starts playback
    kControls = 2,  // (player) -> the controls object, a record of type 0x50008
    kStop = 3,      // (controls 0x50008) -> omitted
};
}  // namespace player

// Handlers bound in the form are called as `int handler(int, int, int)` (cdecl). Parameters by
// event:
//   key down (-9)             key code, shift state (1 shift, 2 control, 4 alt), 0
//   left button pressed (-1)  x, y in the unit's client area, the MK_* key state
//   close query (1)           0, 0, 0; the result is a logical: 0 keeps the window open
//   every other event         0, 0, 0; the result is not used
using EventHandler = int (*)(std::int32_t, std::int32_t, std::int32_t);

// --- typed wrappers -----------------------------------------------------------------------
Text ReadUnitText(UnitRef unit);
void SetUnitText(UnitRef unit, const char* text);
std::int32_t ReadUnitInteger(UnitRef unit, std::uint32_t property);
void SetUnitInteger(UnitRef unit, std::uint32_t property, std::int32_t value);
void SetUnitShown(UnitRef unit, bool shown);
Text ReadUnitTag(UnitRef unit);
void SetUnitTag(UnitRef unit, const char* tag);

UnitRef CopyUnit(UnitRef unit, std::uint32_t type);
void RouteEvents(UnitRef unit, UnitRef source, std::uint32_t type);
UnitRef EventUnit();
bool IsUnitCreated(UnitRef unit);
bool LoadWindow(std::uint32_t windowId, bool modal);
void DestroyWindow(std::uint32_t windowId);
void PopUpMenu(std::uint32_t windowId, UnitRef menu);

void ListDeleteAll(UnitRef list);
std::int32_t ListAppendRow(UnitRef list);
std::int32_t ListRowCount(UnitRef list);
bool ListSetCell(UnitRef list, std::int32_t row, std::int32_t column, const char* text);
Text ListReadCell(UnitRef list, std::int32_t row, std::int32_t column);
std::int32_t ListSelectedRow(UnitRef list);
bool StatusSetPane(UnitRef bar, std::int32_t pane, const char* text);
Text StatusReadPane(UnitRef bar, std::int32_t pane);

Text BrowseForFolder(const char* title, bool option = false);
void PlayerSetUrl(UnitRef player, const char* url);
void PlayerStop(UnitRef player);

}  // namespace tessel
