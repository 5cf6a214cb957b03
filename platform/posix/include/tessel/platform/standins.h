#pragma once
// POSIX stand-ins for the Windows functions the program declares as DLL commands. Each takes the
// program's argument words and answers as the Windows function would.
#include <cstdint>

#include "tessel/runtime/value.h"

namespace tessel::posix {

using StandInFunction = Word (*)(const Word* args);

struct StandIn {
    const char* function;      // the exported name it stands in for
    std::uint32_t argCount;    // the real function's argument count
    StandInFunction call;
};

// The stand-in for a declared function, or null when there is none.
const StandIn* FindStandIn(const char* function);

}  // namespace tessel::posix
