#pragma once
// Calls a stdcall function of the 32-bit target with an argument array and checks that it
// removed exactly its arguments from the stack (runtime error 6 otherwise).
#include <cstdint>

#include "tessel/runtime/value.h"

namespace tessel::platform {

// The raw call: returns EAX and stores how far the stack pointer moved (0 when balanced).
extern "C" std::uint32_t tessel_call_stdcall(void* function, std::uint32_t argCount,
                                             const std::uint32_t* args, std::int32_t* stackDelta);

Word CallStdcallChecked(void* function, std::uint32_t argCount, const Word* args);

}  // namespace tessel::platform
