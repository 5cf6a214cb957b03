#pragma once
// The way from a code offset the form binds to the program's handler.
#include "tessel/runtime/units.h"

namespace tessel::qt {

EventHandler LookUpHandler(std::uint32_t codeOffset);

}  // namespace tessel::qt
