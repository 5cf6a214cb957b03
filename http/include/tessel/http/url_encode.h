#pragma once
// Percent encoding for URL queries.
#include "tessel/runtime/text.h"

namespace tessel {

// Every byte of `text` (of its UTF-8 form when `asUtf8`) as "%" and two upper-case hexadecimal
// digits; with `keepSafe`, ASCII letters, digits, '-' and '.' stay as they are.
Text UrlEncode(const char* text, bool keepSafe = false, bool asUtf8 = false);

}  // namespace tessel
