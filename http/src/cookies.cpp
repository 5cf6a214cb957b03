#include "tessel/http/cookies.h"

#include <string>
#include <vector>

#include "tessel/runtime/kernel.h"

namespace tessel {

namespace {

std::vector<Text> Pieces(const char* text, const char* separator) {
    const TextArray pieces = SplitText(text, separator);
    std::vector<Text> out;
    out.reserve(pieces.size());
    for (std::uint32_t i = 1; i <= pieces.size(); ++i) out.push_back(Text(CopyText(pieces.at(i))));
    return out;
}

bool IsDeleted(const char* item) {
    return CompareTexts(RightText(item, 8).get(), "=deleted") == 0;
}

// Each piece followed by `separator`, the last separator removed.
Text JoinWithSeparator(const std::vector<const char*>& pieces, const char* separator) {
    std::string joined;
    for (const char* p : pieces) joined.append(p != nullptr ? p : "").append(separator);
    joined.resize(joined.size() - std::min<std::size_t>(joined.size(), TextLength(separator)));
    return Text::Copy(joined);
}

}  // namespace

Text MergeCookies(Text& sendCookies, Text& returnedCookies) {
    sendCookies = TrimText(sendCookies.get());
    returnedCookies = TrimText(returnedCookies.get());
    const std::vector<Text> oldItems = Pieces(sendCookies.get(), ";");
    std::vector<Text> items = Pieces(returnedCookies.get(), ";");
    for (const Text& old : oldItems) {
        const Text name = CookieName(old.get());
        if (!HasCookieName(items, name.get())) items.push_back(Text(CopyText(old.get())));
    }
    std::vector<const char*> kept;
    for (const Text& item : items) {
        if (!IsDeleted(item.get())) kept.push_back(item.get());
    }
    const Text merged = JoinWithSeparator(kept, ";");
    Text result = RemoveDuplicateItems(merged.get(), ";");
    sendCookies = Text(CopyText(result.get()));
    return result;
}

Text CookieName(const char* item) {
    const std::int32_t equals = FindText(item, "=");
    if (equals == -1) return TrimText(item);
    return TrimText(LeftText(item, equals - 1).get());
}

bool HasCookieName(std::span<const Text> items, const char* name) {
    for (const Text& item : items) {
        if (CompareTexts(CookieName(item.get()).get(), name) == 0) return true;
    }
    return false;
}

Text RemoveDuplicateItems(const char* list, const char* separator) {
    std::vector<Text> kept;
    for (Text& piece : Pieces(list, separator)) {
        if (FindItem(kept, piece.get()) == -1) kept.push_back(std::move(piece));
    }
    std::vector<const char*> pieces;
    for (const Text& k : kept) pieces.push_back(k.get());
    return JoinWithSeparator(pieces, separator);
}

std::int32_t FindItem(std::span<const Text> items, const char* text) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (CompareTexts(items[i].get(), text) == 0) return static_cast<std::int32_t>(i) + 1;
    }
    return -1;
}

}  // namespace tessel
