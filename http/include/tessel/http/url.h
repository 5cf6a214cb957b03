#pragma once
// Cutting a request URL into the pieces WinInet wants separately. Nothing is validated: an odd URL
// still yields some host, port and path.
#include <cstdint>
#include <optional>

#include "tessel/runtime/text.h"

namespace tessel {

// The host in lower case. `domainOnly` keeps the last two labels; `keepPort` keeps ":port".
// `levels`, when given, selects the label-counting form (see url.cpp).
Text UrlHost(const char* url, bool domainOnly = false, bool keepPort = false,
             std::optional<std::int32_t> levels = std::nullopt);
// The explicit port, else 443 for an "https" URL and 80 for any other.
std::int32_t UrlPort(const char* url);
// The object path with query and fragment, letter case kept; "/" when the URL has none.
Text UrlPath(const char* url);

}  // namespace tessel
