// The support libraries the native headless runtime answers itself: the transfer engine.
#include "tessel/ferry/commands.h"
#include "tessel/platform/headless.h"
#include "tessel/runtime/value.h"

namespace tessel::headless {

LibraryHandler BuiltInLibrary(std::uint32_t row) {
    return row == tessel::row::kFerry ? &ferry::RunCommand : nullptr;
}

}  // namespace tessel::headless
