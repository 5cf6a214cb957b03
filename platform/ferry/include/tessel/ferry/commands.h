#pragma once
// ferry's library commands (numbered in tessel/runtime/library_commands.h) over the transfer
// engine. One engine serves the process: the start command makes it and keeps its address in
// the caller's holder; the release command cancels what still runs, frees it and empties the
// holder. ferry.fnr exports this as its command routine; the native headless runtime answers
// library row 2 with it.
#include <cstdint>

#include "tessel/runtime/value.h"

namespace tessel::ferry {

void RunCommand(std::uint32_t command, std::uint32_t argCount, const Value* args, Value* result);

}  // namespace tessel::ferry
