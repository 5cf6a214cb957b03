#pragma once
// What the runtime is told of this program when it starts it, and the program's own words of
// the globals.
#include "tessel/app/window_units.h"
#include "tessel/runtime/program.h"
#include "tessel/runtime/units.h"

namespace tessel::app {

// The transfer settings' anonymous-login password at start: an e-mail form, 17 characters.
inline constexpr char kAnonymousPassword[] = "tessel@example.cn";

inline constexpr ProgramFacts kProgramFacts{kMainWindowId, kAnonymousPassword};

// currentTag: the tag label highlighted last, kept in words 0-1 of the globals from one window
// event to the next.
inline UnitRef CurrentTag() {
    const Globals& globals = ProgramGlobals();
    return {globals.programWords[0], globals.programWords[1]};
}
inline void SetCurrentTag(UnitRef tag) {
    Globals& globals = ProgramGlobals();
    globals.programWords[0] = tag.window;
    globals.programWords[1] = tag.unit;
}

}  // namespace tessel::app
