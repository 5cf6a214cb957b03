#include "tessel/http/url.h"

#include "tessel/runtime/kernel.h"
#include "tessel/runtime/text_cutting.h"

namespace tessel {

namespace {

bool Contains(const char* text, const char* sought) {
    return FindText(text, sought) != -1;
}

// The standard way: the text between the scheme and the first "/" after it.
Text HostBetweenSchemeAndSlash(const char* url) {
    Text u = LowerText(url);
    if (CompareTexts(RightText(u.get(), 1).get(), "/") != 0) u = Text(JoinTexts({u.get(), "/"}));
    if (CompareTexts(LeftText(u.get(), 8).get(), "https://") == 0) {
        return TextBetween(u.get(), "https://", "/");
    }
    if (!Contains(u.get(), "http://")) u = Text(JoinTexts({"http://", u.get()}));
    return TextBetween(u.get(), "http://", "/");
}

Text LastTwoLabels(Text host) {
    const TextArray labels = SplitText(host.get(), ".");
    const std::uint32_t n = labels.size();
    if (n <= 1) return host;
    return Text(JoinTexts({labels.at(n - 1), ".", labels.at(n)}));
}

Text TextAfter(const char* text, std::int32_t position) {
    return MidText(text, position + 1, static_cast<std::int32_t>(TextLength(text)));
}

// The label-counting way. The kernel's backward search never answers a match that begins at its
// start position, so each search from the last answer finds the "." before it: `domainOnly`
// keeps the last levels + 1 labels, the other setting levels + 2.
Text HostByLevels(const char* url, std::int32_t levels, bool domainOnly) {
    Text u = LowerText(url);
    u = ReplaceAll(u.get(), "http://", "");
    u = ReplaceAll(u.get(), "https://", "");
    const std::int32_t slash = FindText(u.get(), "/");
    if (slash != -1) u = LeftText(u.get(), slash - 1);

    std::int32_t p = static_cast<std::int32_t>(u.size());
    // A search that found nothing leaves nothing to search before.
    for (std::int32_t i = 0; i < levels && p != -1; ++i) p = FindTextBackward(u.get(), ".", p);
    const std::int32_t q = p == -1 ? -1 : FindTextBackward(u.get(), ".", p);
    if (domainOnly) return q == -1 ? std::move(u) : TextAfter(u.get(), q);
    if (q == -1) return u;
    const std::int32_t r = FindTextBackward(u.get(), ".", q);
    return r == -1 ? std::move(u) : TextAfter(u.get(), r);
}

}  // namespace

Text UrlHost(const char* url, bool domainOnly, bool keepPort, std::optional<std::int32_t> levels) {
    Text u;
    if (levels.has_value()) {
        u = HostByLevels(url, *levels, domainOnly);
    } else {
        u = HostBetweenSchemeAndSlash(url);
        if (domainOnly) u = LastTwoLabels(std::move(u));
    }
    if (keepPort || !Contains(u.get(), ":")) return u;
    return TextBefore(u.get(), ":");
}

std::int32_t UrlPort(const char* url) {
    const Text hostAndPort = UrlHost(url, false, true);
    const std::int32_t colon = FindTextBackward(hostAndPort.get(), ":");
    if (colon != -1) return TextToInteger(TextAfter(hostAndPort.get(), colon).get());
    const Text scheme = LeftText(LowerText(url).get(), 5);
    return CompareTexts(scheme.get(), "https") == 0 ? 443 : 80;
}

Text UrlPath(const char* url) {
    const Text host = UrlHost(url);
    const std::int32_t hostPos = FindText(url, host.get(), 1, true);
    const std::int32_t slash = FindText(url, "/", hostPos);
    if (slash == -1) return Text::Copy("/");
    return MidText(url, slash, static_cast<std::int32_t>(TextLength(url)));
}

}  // namespace tessel
