#include "tessel/http/url_encode.h"

#include <string>

#include "tessel/http/code_pages.h"
#include "tessel/runtime/kernel.h"

namespace tessel {

namespace {
constexpr bool IsSafe(unsigned char c) {
    return c == '-' || c == '.' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
           (c >= 'a' && c <= 'z');
}
}  // namespace

Text UrlEncode(const char* text, bool keepSafe, bool asUtf8) {
    if (TextLength(text) == 0) return Text::Copy("");
    Text utf8;
    if (asUtf8) utf8 = GbkToUtf8(text);
    const char* bytes = asUtf8 ? utf8.c_str() : text;
    std::string encoded;
    encoded.reserve(TextLength(bytes) * 3);
    for (const char* p = bytes; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (keepSafe && IsSafe(byte)) {
            encoded.push_back(static_cast<char>(byte));
            continue;
        }
        const Text digits = HexText(byte);
        encoded.push_back('%');
        if (digits.size() < 2) encoded.push_back('0');
        encoded.append(digits.view());
    }
    return Text::Copy(encoded);
}

}  // namespace tessel
