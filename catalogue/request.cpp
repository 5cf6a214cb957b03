#include "request.h"

#include <charconv>

namespace tessel::catalogue {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool PercentDecode(std::string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high < 0 || low < 0) return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i] == '+' ? ' ' : text[i];
        }
    }
    return true;
}

std::optional<std::string> ParseQuery(std::string_view query, QueryValues& values) {
    while (!query.empty()) {
        const size_t end = query.find('&');
        const std::string_view pair = query.substr(0, end);
        query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
        if (pair.empty()) continue;
        const size_t equals = pair.find('=');
        std::string name;
        std::string value;
        if (!PercentDecode(pair.substr(0, equals), name) ||
            (equals != std::string_view::npos && !PercentDecode(pair.substr(equals + 1), value))) {
            return "the query holds a broken percent escape";
        }
        if (!values.emplace(std::move(name), std::move(value)).second) {
            return "a query parameter is given twice";
        }
    }
    return std::nullopt;
}

std::optional<int64_t> ParseNumber(std::string_view text) {
    if (text.empty() || text.size() > kMaxDigits) return std::nullopt;
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    if (text.front() == '-' || text.front() == '+') return std::nullopt;
    return value;
}

RangeAnswer ReadRange(std::string_view header, int64_t size, ByteRange& range) {
    constexpr std::string_view kUnit = "bytes=";
    std::string_view bounds = header;
    if (!bounds.starts_with(kUnit) || bounds.find(',') != std::string_view::npos) {
        return RangeAnswer::kWhole;
    }
    bounds.remove_prefix(kUnit.size());
    const size_t dash = bounds.find('-');
    if (dash == std::string_view::npos) return RangeAnswer::kUnsatisfiable;
    const std::string_view firstText = bounds.substr(0, dash);
    const std::string_view lastText = bounds.substr(dash + 1);
    const std::optional<int64_t> first = ParseNumber(firstText);
    const std::optional<int64_t> last = ParseNumber(lastText);
    if (firstText.empty()) {
        if (!last || *last == 0 || size == 0) return RangeAnswer::kUnsatisfiable;
        range.first = *last >= size ? 0 : size - *last;
        range.last = size - 1;
        return RangeAnswer::kPart;
    }
    if (!first || (!lastText.empty() && (!last || *last < *first)) || *first >= size) {
        return RangeAnswer::kUnsatisfiable;
    }
    range.first = *first;
    range.last = lastText.empty() || *last >= size ? size - 1 : *last;
    return RangeAnswer::kPart;
}

bool IsHostName(std::string_view host) {
    if (host.empty() || host.size() > 255) return false;
    for (char c : host) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' ||
                             c == ':' || c == '[' || c == ']';
        if (!allowed) return false;
    }
    return true;
}

}  // namespace tessel::catalogue
