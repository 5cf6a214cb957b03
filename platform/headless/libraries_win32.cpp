// On Windows the headless runtime answers no support library itself: basalt.fnr loads the real
// ones, and tests register what they need.
#include "tessel/headless/headless.h"

namespace tessel::headless {

LibraryHandler BuiltInLibrary(std::uint32_t) {
    return nullptr;
}

}  // namespace tessel::headless
