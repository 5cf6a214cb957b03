#pragma once
// What every toolkit decides the same way about a unit: the text it starts with, which unit of a
// new window takes the focus, the key states its events report, how a list column is aligned,
// where the toolkit keeps its part of the unit and what the player writes to its trace.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/image/form.h"
#include "tessel/window_core/core.h"

namespace tessel::windows {

// The text a unit shows as the form gives it (GBK): a window's title, a label's or button's
// caption, an edit box's content; empty for the others.
std::string FormText(const image::Unit& record);

// Of the units that take the focus, in creation order, the first the form shows; null if none.
Unit* FirstFocus(const std::vector<Unit*>& focusOrder);

// The keys held while an event happens, as the toolkit reads them.
struct HeldKeys {
    bool shift = false;
    bool control = false;
    bool alt = false;
};

// The key-down event's shift state: shift 1, control 2, alt 4.
std::int32_t ShiftState(HeldKeys keys);
// The key state of a left-button press, in the bits a Windows button message carries: the left
// button itself (MK_LBUTTON), shift (MK_SHIFT) and control (MK_CONTROL).
std::int32_t LeftButtonKeyState(HeldKeys keys);

// A list column's alignment; the values are the list view's column formats.
enum class ColumnAlignment : int { kLeft = 0, kRight = 1, kCentre = 2 };
// The form stores 0 left, 1 centred, 2 right; anything else reads as left.
ColumnAlignment ColumnAlignmentOf(std::uint32_t storedCode);

// The toolkit's part of a unit; a unit the toolkit was never asked to make gets an empty one.
template <class Part>
Part& PartOf(Unit& unit) {
    if (unit.part == nullptr) unit.part = std::make_unique<Part>();
    return static_cast<Part&>(*unit.part);
}
// The part if the toolkit made one, without making it.
template <class Part>
const Part* PartIfMade(const Unit& unit) {
    return static_cast<const Part*>(unit.part.get());
}

// The environment variable naming the file the player appends its trace to, one UTF-8 line each,
// so that tests can follow playback from outside the process.
inline constexpr char kPlayerTraceVariable[] = "TESSEL_PLAYER_LOG";
std::string PlayerUrlTrace(std::string_view utf8Url);  // "url ADDRESS"
std::string PlayerStopTrace();                         // "stop"
// "open-state N" for the open-state event, "play-state N" for the others.
std::string PlayerStateTrace(int event, int value);

}  // namespace tessel::windows
