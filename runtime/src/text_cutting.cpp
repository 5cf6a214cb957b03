#include "tessel/runtime/text_cutting.h"

#include "tessel/runtime/kernel.h"

namespace tessel {

namespace {
// "#引号" in GBK: a placeholder for the double quote that callers can write without quoting.
constexpr const char kQuotePlaceholder[] = "#\xD2\xFD\xBA\xC5";
}  // namespace

Text TextBetween(const char* text, const char* startMarker, const char* endMarker,
                 std::int32_t startPos, bool ignoreCase) {
    const Text start = ReplaceAll(startMarker, kQuotePlaceholder, "\"");
    const Text end = ReplaceAll(endMarker, kQuotePlaceholder, "\"");
    const std::int32_t found = FindText(text, start.get(), startPos, ignoreCase);
    if (found == -1) return Text::Copy("");
    const std::int32_t content = found + static_cast<std::int32_t>(start.size());
    const std::int32_t endPos = FindText(text, end.get(), content, ignoreCase);
    if (endPos == -1) return Text::Copy("");
    return MidText(text, content, endPos - content);
}

Text TextAfterColon(const char* text) {
    const std::int32_t colon = FindText(text, ":");
    if (colon == -1) return Text::Copy("");
    const Text rest = MidText(text, colon + 1, static_cast<std::int32_t>(TextLength(text)));
    return TrimText(rest.get());
}

Text TextBefore(const char* text, const char* separator, std::int32_t startPos, bool ignoreCase) {
    const std::int32_t from = startPos <= 0 ? 1 : startPos;
    const std::int32_t found = FindText(text, separator, from, ignoreCase);
    if (found == -1) return Text::Copy("");
    return LeftText(text, found - 1);
}

}  // namespace tessel
