#include "legacy_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "search_text.h"

namespace tessel::catalogue {
namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

bool IsHigh(char c) {
    return (static_cast<uint8_t>(c) & 0x80) != 0;
}

bool HasHighBytes(std::string_view bytes) {
    for (char c : bytes) {
        if (IsHigh(c)) return true;
    }
    return false;
}

// The shape of a GBK double-byte character: lead 81-FE, trail 40-7E or 80-FE.
bool IsGbkPair(uint8_t lead, uint8_t trail) {
    return lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
}

// True when some double-byte character of `bytes` has a trail byte above 0x7F. Without one, every
// pair is a high byte before a plain ASCII letter, as accented Latin-1 letters inside words are.
bool HasUnambiguousGbkPair(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<uint8_t>(bytes[i]);
        if (lead < 0x80 || i + 1 == bytes.size()) {
            ++i;
            continue;
        }
        const auto trail = static_cast<uint8_t>(bytes[i + 1]);
        if (!IsGbkPair(lead, trail)) {
            ++i;
            continue;
        }
        if (trail >= 0x80) return true;
        i += 2;
    }
    return false;
}

// `bytes` without a lead byte left alone at the end: ID3v1 fields are cut at 30 bytes, often in
// the middle of a double-byte character.
std::string_view WithoutCutCharacter(std::string_view bytes) {
    size_t i = 0;
    while (i + 1 < bytes.size()) i += IsHigh(bytes[i]) ? 2 : 1;
    return i + 1 == bytes.size() && IsHigh(bytes[i]) ? bytes.substr(0, i) : bytes;
}

// Whether the setting has `bytes` (holding bytes above 0x7F) tried as GBK at all.
bool TriesGbk(std::string_view bytes, LegacyEncoding encoding) {
    return encoding == LegacyEncoding::kGbk ||
           (encoding == LegacyEncoding::kAuto && HasUnambiguousGbkPair(bytes));
}

class Converter {
  public:
    Converter() : cd_(::iconv_open("UTF-8", "GBK")) {}
    ~Converter() {
        if (ok()) ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

// `bytes` decoded as GBK. A byte that starts no character that decodes becomes U+FFFD when
// `replaceInvalid`, and makes the whole text fail otherwise.
std::optional<std::string> GbkToUtf8(std::string_view bytes, bool replaceInvalid) {
    Converter converter;
    if (!converter.ok()) return std::nullopt;
    std::string out;
    // Two GBK bytes make at most three UTF-8 bytes, one ASCII byte one.
    std::string buffer(bytes.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outStart = buffer.data();
        size_t outLeft = buffer.size();
        const size_t result = ::iconv(converter.get(), &in, &inLeft, &outStart, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (result != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // EILSEQ (no such character) or EINVAL (cut short at the end).
        if (!replaceInvalid) return std::nullopt;
        out += kReplacementUtf8;
        ++in;
        --inLeft;
        ::iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::optional<LegacyEncoding> ParseLegacyEncoding(std::string_view name) {
    if (name == "auto") return LegacyEncoding::kAuto;
    if (name == "gbk") return LegacyEncoding::kGbk;
    if (name == "latin1") return LegacyEncoding::kLatin1;
    return std::nullopt;
}

const char* LegacyEncodingName(LegacyEncoding encoding) {
    switch (encoding) {
        case LegacyEncoding::kAuto:
            return "auto";
        case LegacyEncoding::kGbk:
            return "gbk";
        case LegacyEncoding::kLatin1:
            break;
    }
    return "latin1";
}

bool CanDecodeGbk() {
    return Converter().ok();
}

std::string DecodeLegacyTagText(std::string_view bytes, LegacyEncoding encoding) {
    bytes = bytes.substr(0, bytes.find('\0'));
    // A cut character is dropped only from a text that holds others: "Zoé" stays Latin-1.
    const std::string_view whole = WithoutCutCharacter(bytes);
    if (HasHighBytes(whole) && TriesGbk(whole, encoding)) {
        if (std::optional<std::string> text = GbkToUtf8(whole, false)) return *text;
    }
    return Latin1ToUtf8(bytes);
}

std::string DecodeFileName(std::string_view bytes, LegacyEncoding encoding) {
    if (!IsValidUtf8(bytes) && TriesGbk(bytes, encoding)) {
        if (std::optional<std::string> text = GbkToUtf8(bytes, true)) return *text;
    }
    return ToValidUtf8(bytes);
}

}  // namespace tessel::catalogue
