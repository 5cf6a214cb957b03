#include "legacy_text.h"

#include <iconv.h>

#include <algorithm>
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

bool IsAsciiLetter(uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A Latin-1 letter: À to ÿ but for × and ÷.
bool IsLatin1Letter(uint8_t c) {
    return c >= 0xC0 && c != 0xD7 && c != 0xF7;
}

// True when `bytes` read as Latin-1 words: every run of bytes above 0x7F is one or two accented
// letters inside or at the edge of a word of ASCII letters ("Coração": E7 E3 between "Cora" and
// "o"). Chinese text has longer runs, or bytes from 0x80 to 0xBF, where Latin-1 has no letters.
bool LooksLikeLatin1Words(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        if (!IsHigh(bytes[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < bytes.size() && IsHigh(bytes[end])) {
            if (!IsLatin1Letter(static_cast<uint8_t>(bytes[end]))) return false;
            ++end;
        }
        const bool letterBefore = i > 0 && IsAsciiLetter(static_cast<uint8_t>(bytes[i - 1]));
        const bool letterAfter =
            end < bytes.size() && IsAsciiLetter(static_cast<uint8_t>(bytes[end]));
        if (end - i > 2 || !(letterBefore || letterAfter)) return false;
        i = end;
    }
    return true;
}

// `bytes` without a lead byte left alone at the end: ID3v1 fields are cut at 30 bytes, often in
// the middle of a double-byte character.
std::string_view WithoutCutCharacter(std::string_view bytes) {
    size_t i = 0;
    while (i + 1 < bytes.size()) i += IsHigh(bytes[i]) ? 2 : 1;
    return i + 1 == bytes.size() && IsHigh(bytes[i]) ? bytes.substr(0, i) : bytes;
}

// The code page the setting has `bytes` (holding bytes above 0x7F) tried as, if any. Big5 is
// never guessed: its characters share GBK's shape, so only the setting can tell them apart.
const char* TriedCodePage(std::string_view bytes, LegacyEncoding encoding) {
    switch (encoding) {
        case LegacyEncoding::kGbk:
            return "GBK";
        case LegacyEncoding::kBig5:
            return "BIG5-HKSCS";
        case LegacyEncoding::kAuto:
            return HasUnambiguousGbkPair(bytes) && !LooksLikeLatin1Words(bytes) ? "GBK" : nullptr;
        case LegacyEncoding::kLatin1:
            break;
    }
    return nullptr;
}

// True when `bytes` are UTF-8 with a character of three or four bytes (Chinese among them):
// what a tagger that wrote UTF-8 into a field marked ISO-8859-1 left. Short GBK texts can pass as
// UTF-8 of two-byte characters (状态 is D7 B4 CC AC), hardly ever of longer ones.
bool IsWideUtf8(std::string_view bytes) {
    const bool wide = std::any_of(bytes.begin(), bytes.end(),
                                  [](char c) { return static_cast<uint8_t>(c) >= 0xE0; });
    return wide && IsValidUtf8(bytes);
}

class Converter {
  public:
    explicit Converter(const char* codePage) : cd_(::iconv_open("UTF-8", codePage)) {}
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

// `bytes` decoded from a double-byte code page. A byte that starts no character that decodes
// becomes U+FFFD when `replaceInvalid`, and makes the whole text fail otherwise.
std::optional<std::string> LegacyToUtf8(std::string_view bytes, const char* codePage,
                                        bool replaceInvalid) {
    Converter converter(codePage);
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
    if (name == "big5") return LegacyEncoding::kBig5;
    if (name == "latin1") return LegacyEncoding::kLatin1;
    return std::nullopt;
}

const char* LegacyEncodingName(LegacyEncoding encoding) {
    switch (encoding) {
        case LegacyEncoding::kAuto:
            return "auto";
        case LegacyEncoding::kGbk:
            return "gbk";
        case LegacyEncoding::kBig5:
            return "big5";
        case LegacyEncoding::kLatin1:
            break;
    }
    return "latin1";
}

bool CanDecode(LegacyEncoding encoding) {
    switch (encoding) {
        case LegacyEncoding::kBig5:
            return Converter("BIG5-HKSCS").ok();
        case LegacyEncoding::kLatin1:
            return true;
        default:
            return Converter("GBK").ok();
    }
}

std::string DecodeLegacyTagText(std::string_view bytes, LegacyEncoding encoding) {
    bytes = bytes.substr(0, bytes.find('\0'));
    // latin1 asks for no guessing at all.
    if (encoding != LegacyEncoding::kLatin1 && IsWideUtf8(bytes)) return std::string(bytes);
    // A cut character is dropped only from a text that holds others: "Zoé" stays Latin-1.
    const std::string_view whole = WithoutCutCharacter(bytes);
    const char* codePage = HasHighBytes(whole) ? TriedCodePage(whole, encoding) : nullptr;
    if (codePage != nullptr) {
        if (std::optional<std::string> text = LegacyToUtf8(whole, codePage, false)) return *text;
    }
    return Latin1ToUtf8(bytes);
}

std::string DecodeFileName(std::string_view bytes, LegacyEncoding encoding) {
    const char* codePage = IsValidUtf8(bytes) ? nullptr : TriedCodePage(bytes, encoding);
    if (codePage != nullptr) {
        if (std::optional<std::string> text = LegacyToUtf8(bytes, codePage, true)) return *text;
    }
    return ToValidUtf8(bytes);
}

}  // namespace tessel::catalogue
