// Reading what a client sends: the query of a request target, numbers, Range headers and Host
// names. Everything here is strict: what does not follow the expected form is refused.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tessel::catalogue {

// Longest number text accepted for an id, a count, an offset or a range bound.
inline constexpr size_t kMaxDigits = 18;

// Percent-decodes one query component ('+' is a blank); false on a broken escape.
bool PercentDecode(std::string_view text, std::string& out);

using QueryValues = std::map<std::string, std::string, std::less<>>;

// Splits and decodes the query part of a raw request target; an error message when an escape is
// broken or a name is given twice.
std::optional<std::string> ParseQuery(std::string_view query, QueryValues& values);

// A decimal number of 1 to kMaxDigits digits, nothing else (no sign, no blank).
std::optional<int64_t> ParseNumber(std::string_view text);

// The bytes a Range header asks for, within the file.
struct ByteRange {
    int64_t first = 0;
    int64_t last = 0;
};

enum class RangeAnswer { kWhole, kPart, kUnsatisfiable };

// One range of the forms "bytes=a-b", "bytes=a-" and "bytes=-n" clipped to a file of `size`
// bytes; a list of ranges or another unit is answered with the whole file, which a client must
// accept.
RangeAnswer ReadRange(std::string_view header, int64_t size, ByteRange& range);

// True for a Host header value that can go into an address: letters, digits, '.', '-', '_',
// and the ':' and brackets of ports and IPv6 literals; at most 255 characters.
bool IsHostName(std::string_view host);

}  // namespace tessel::catalogue
