#include <iconv.h>

#include <cerrno>
#include <cstdio>

#include "tessel/image_tool/program.h"

namespace tessel::image_tool {

namespace {

// One conversion with iconv; nullopt when a character has no mapping or the input is invalid.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view in,
                                   std::size_t* stoppedAt = nullptr) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const auto rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (stoppedAt != nullptr) *stoppedAt = in.size() - srcLeft;
    if (rc == static_cast<std::size_t>(-1)) return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
}

}  // namespace

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
    return Convert("CP936", "UTF-8", utf8);
}

std::string GbkToUtf8(std::string_view gbk) {
    std::string out;
    while (!gbk.empty()) {
        std::size_t done = 0;
        if (auto whole = Convert("UTF-8", "CP936", gbk, &done)) return out + *whole;
        // Convert the good part, show the byte that stopped it, go on behind it.
        if (auto part = Convert("UTF-8", "CP936", gbk.substr(0, done))) out += *part;
        if (done < gbk.size()) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(gbk[done]));
            out += hex;
            ++done;
        }
        gbk.remove_prefix(done);
    }
    return out;
}

}  // namespace tessel::image_tool
