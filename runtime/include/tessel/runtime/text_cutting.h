#pragma once
// Cutting pieces out of header lines and URLs. Each routine answers a new text and leaves its
// arguments alone; positions are 1-based.
#include <cstdint>

#include "tessel/runtime/text.h"

namespace tessel {

// The text between the first `startMarker` (searched from `startPos`, the beginning when 0) and
// the first `endMarker` after it; empty when either is missing. "#引号" in a marker stands for '"'.
Text TextBetween(const char* text, const char* startMarker, const char* endMarker,
                 std::int32_t startPos = 0, bool ignoreCase = false);
// Everything after the first ':', blanks trimmed at both ends; empty when there is no ':'.
Text TextAfterColon(const char* text);
// The text from the start up to the first `separator` found from `startPos`; empty when none.
Text TextBefore(const char* text, const char* separator, std::int32_t startPos = 0,
                bool ignoreCase = false);

}  // namespace tessel
