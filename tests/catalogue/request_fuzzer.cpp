// Fuzzes what a client controls before it reaches the index: the query, Range headers, and the
// keyword's way into a full-text expression. Any broken invariant aborts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "request.h"
#include "search_text.h"

namespace {

using namespace tessel::catalogue;

// Match expressions and gram texts may hold nothing but hex tokens, column names and syntax.
bool OnlyExpressionCharacters(std::string_view text) {
    for (char c : text) {
        const bool allowed = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == ' ' ||
                             c == '"' || c == ':' || c == 'A' || c == 'N' || c == 'D';
        if (!allowed) return false;
    }
    return true;
}

void CheckRange(std::string_view header, int64_t size) {
    ByteRange range;
    if (ReadRange(header, size, range) == RangeAnswer::kPart &&
        !(range.first >= 0 && range.first <= range.last && range.last < size)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    QueryValues values;
    ParseQuery(text, values);

    const int64_t fileSize = static_cast<int64_t>(size % 7 == 0 ? 0 : size * 977);
    CheckRange(text, fileSize);
    CheckRange("bytes=" + std::string(text), fileSize);

    if (!IsValidUtf8(ToValidUtf8(text))) std::abort();
    if (IsValidUtf8(text) && ToValidUtf8(text) != text) std::abort();
    const std::optional<std::string> expression = MatchExpressionFor(text);
    if (expression && !OnlyExpressionCharacters(*expression)) std::abort();
    const SongGrams grams = GramsOf(text, text, text);
    if (!OnlyExpressionCharacters(grams.singles) || !OnlyExpressionCharacters(grams.pairs)) {
        std::abort();
    }
    return 0;
}
