#include "search_text.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace tessel::catalogue {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
// A token that no gram can equal (grams are an even number of hex digits): it keeps phrases from
// running over a blank or from one field into the next.
constexpr std::string_view kGap = "0";

// Decodes one character at `pos`; malformed bytes decode as U+FFFD one byte at a time.
char32_t DecodeAt(std::string_view text, size_t& pos, bool& valid) {
    const auto lead = static_cast<uint8_t>(text[pos]);
    valid = true;
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    }
    if (length == 0 || pos + length > text.size()) {
        valid = false;
        ++pos;
        return kReplacement;
    }
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<uint8_t>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            valid = false;
            ++pos;
            return kReplacement;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        valid = false;
        ++pos;
        return kReplacement;
    }
    pos += length;
    return value;
}

std::vector<char32_t> Decode(std::string_view text) {
    std::vector<char32_t> characters;
    characters.reserve(text.size());
    size_t pos = 0;
    bool valid = true;
    while (pos < text.size()) characters.push_back(DecodeAt(text, pos, valid));
    return characters;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool IsBlank(char32_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xA0 || c == 0x3000 ||
           (c >= 0x2000 && c <= 0x200A);
}

// Simple lower-casing for the scripts song texts mostly use: ASCII, Latin-1, Greek, Cyrillic and
// the full-width Latin letters of Chinese input methods.
char32_t Fold(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 0x20;
    if (c < 0x80) return c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;
    return c;
}

void AppendHex(std::string& out, char32_t c) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string bytes;
    AppendUtf8(bytes, c);
    for (unsigned char b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
}

void AppendToken(std::string& column, std::string_view token) {
    if (!column.empty()) column += ' ';
    column += token;
}

std::string PairToken(char32_t first, char32_t second) {
    std::string token;
    AppendHex(token, first);
    AppendHex(token, second);
    return token;
}

}  // namespace

SongGrams GramsOf(std::string_view title, std::string_view artist, std::string_view album) {
    SongGrams grams;
    std::vector<char32_t> singles;
    for (std::string_view field : {title, artist, album}) {
        std::vector<char32_t> text = Decode(field);
        std::transform(text.begin(), text.end(), text.begin(), Fold);
        AppendToken(grams.pairs, kGap);
        for (size_t i = 0; i < text.size(); ++i) {
            if (IsBlank(text[i])) {
                AppendToken(grams.pairs, kGap);
                continue;
            }
            singles.push_back(text[i]);
            if (i + 1 < text.size() && !IsBlank(text[i + 1])) {
                AppendToken(grams.pairs, PairToken(text[i], text[i + 1]));
            }
        }
    }
    std::sort(singles.begin(), singles.end());
    singles.erase(std::unique(singles.begin(), singles.end()), singles.end());
    for (char32_t c : singles) {
        std::string token;
        AppendHex(token, c);
        AppendToken(grams.singles, token);
    }
    return grams;
}

std::vector<std::u32string> KeywordTerms(std::string_view keyword) {
    const std::u32string text = FoldedText(keyword);
    std::vector<std::u32string> terms;
    size_t i = 0;
    while (i < text.size()) {
        if (IsBlank(text[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && !IsBlank(text[end])) ++end;
        terms.push_back(text.substr(i, end - i));
        i = end;
    }
    // Of equal terms the first is kept.
    auto needless = [&terms](size_t t) {
        for (size_t other = 0; other < terms.size(); ++other) {
            if (other == t || terms[other].find(terms[t]) == std::u32string::npos) continue;
            if (terms[other].size() > terms[t].size() || other < t) return true;
        }
        return false;
    };
    std::vector<std::u32string> kept;
    for (size_t t = 0; t < terms.size(); ++t) {
        if (!needless(t)) kept.push_back(terms[t]);
    }
    return kept;
}

std::vector<std::string> TermGrams(const std::u32string& term) {
    std::vector<std::string> grams;
    if (term.size() == 1) {
        grams.emplace_back();
        AppendHex(grams.back(), term[0]);
    }
    for (size_t k = 0; k + 1 < term.size(); ++k) grams.push_back(PairToken(term[k], term[k + 1]));
    return grams;
}

std::string MatchExpressionFor(const std::vector<std::u32string>& terms) {
    std::string expression;
    for (const std::u32string& term : terms) {
        if (term.empty()) continue;
        if (!expression.empty()) expression += " AND ";
        expression += term.size() == 1 ? "singles : \"" : "pairs : \"";
        const std::vector<std::string> grams = TermGrams(term);
        for (size_t k = 0; k < grams.size(); ++k) {
            if (k > 0) expression += ' ';
            expression += grams[k];
        }
        expression += '"';
    }
    return expression;
}

std::optional<std::string> MatchExpressionFor(std::string_view keyword) {
    std::string expression = MatchExpressionFor(KeywordTerms(keyword));
    if (expression.empty()) return std::nullopt;
    return expression;
}

std::u32string FoldedText(std::string_view text) {
    std::u32string folded;
    folded.reserve(text.size());
    size_t pos = 0;
    bool valid = true;
    while (pos < text.size()) folded += Fold(DecodeAt(text, pos, valid));
    return folded;
}

bool IsValidUtf8(std::string_view text) {
    size_t pos = 0;
    bool valid = true;
    while (pos < text.size()) {
        DecodeAt(text, pos, valid);
        if (!valid) return false;
    }
    return true;
}

std::string ToValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : Decode(text)) AppendUtf8(out, c);
    return out;
}

size_t CharacterCount(std::string_view text) {
    return Decode(text).size();
}

}  // namespace tessel::catalogue
