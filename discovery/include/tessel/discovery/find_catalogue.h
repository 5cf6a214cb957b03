#pragma once
// Finding a catalogue on the local network when bc.ini names none.
#include <cstdint>

#include "tessel/runtime/text.h"

namespace tessel::discovery {

// Browses the local network for a catalogue announced as _tessel._tcp with TXT path=/tessel/,
// for at most boundMs milliseconds. The first one found as "address:port" text
// (e.g. "169.254.77.1:8765"), or the empty text when none answered in time.
Text FindCatalogue(std::uint32_t boundMs);

}  // namespace tessel::discovery
