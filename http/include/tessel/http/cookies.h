#pragma once
// Cookie lists carried by the caller from request to request: items "name=value" separated by ";".
#include <cstdint>
#include <span>

#include "tessel/runtime/text.h"

namespace tessel {

// Folds the server's cookies into the caller's list: the server's items first, in their order,
// then the caller's items whose names the server did not send; "=deleted" items and exact
// repeats are dropped. Both arguments are trimmed in place; the result is also written into
// `sendCookies`.
Text MergeCookies(Text& sendCookies, Text& returnedCookies);
// The item's text before its first "=" (the whole item without one), blanks trimmed.
Text CookieName(const char* item);
// Whether some item's name equals `name` exactly.
bool HasCookieName(std::span<const Text> items, const char* name);
// The list without pieces that repeat an earlier piece exactly; pieces joined by `separator`.
Text RemoveDuplicateItems(const char* list, const char* separator);
// 1-based index of the first element equal to `text`, -1 when none is.
std::int32_t FindItem(std::span<const Text> items, const char* text);

}  // namespace tessel
