// COM object commands natively: none until a stand-in engine is registered here.
#include "tessel/platform/headless.h"

namespace tessel::headless {

bool RunObjectCommand(std::uint32_t, std::uint32_t, const Value*, Value*) {
    return false;
}

}  // namespace tessel::headless
