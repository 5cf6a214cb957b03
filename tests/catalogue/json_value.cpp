#include "json_value.h"

#include <cstdlib>

namespace tessel::catalogue::testing {
namespace {

class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    std::optional<JsonValue> Document() {
        std::optional<JsonValue> value = Value(0);
        SkipBlanks();
        if (!value || pos_ != text_.size()) return std::nullopt;
        return value;
    }

  private:
    void SkipBlanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\n' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }
    bool Take(char c) {
        SkipBlanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool Word(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    std::optional<JsonValue> Value(int depth) {
        if (depth > 64) return std::nullopt;
        SkipBlanks();
        if (pos_ >= text_.size()) return std::nullopt;
        JsonValue value;
        const char c = text_[pos_];
        if (c == '{') {
            ++pos_;
            value.kind = JsonValue::Kind::kObject;
            if (Take('}')) return value;
            do {
                SkipBlanks();
                std::optional<std::string> name = String();
                if (!name || !Take(':')) return std::nullopt;
                std::optional<JsonValue> member = Value(depth + 1);
                if (!member || !value.members.emplace(*name, std::move(*member)).second) {
                    return std::nullopt;
                }
            } while (Take(','));
            return Take('}') ? std::optional(value) : std::nullopt;
        }
        if (c == '[') {
            ++pos_;
            value.kind = JsonValue::Kind::kArray;
            if (Take(']')) return value;
            do {
                std::optional<JsonValue> item = Value(depth + 1);
                if (!item) return std::nullopt;
                value.items.push_back(std::move(*item));
            } while (Take(','));
            return Take(']') ? std::optional(value) : std::nullopt;
        }
        if (c == '"') {
            std::optional<std::string> text = String();
            if (!text) return std::nullopt;
            value.kind = JsonValue::Kind::kString;
            value.text = std::move(*text);
            return value;
        }
        if (Word("true") || Word("false")) {
            value.kind = JsonValue::Kind::kBool;
            value.boolean = text_[pos_ - 1] == 'e' && text_[pos_ - 2] == 'u';
            return value;
        }
        if (Word("null")) return value;
        const std::string rest(text_.substr(pos_, 40));
        char* end = nullptr;
        value.number = std::strtod(rest.c_str(), &end);
        if (end == rest.c_str()) return std::nullopt;
        pos_ += static_cast<size_t>(end - rest.c_str());
        value.kind = JsonValue::Kind::kNumber;
        return value;
    }

    static void AppendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    std::optional<std::string> String() {
        if (pos_ >= text_.size() || text_[pos_] != '"') return std::nullopt;
        ++pos_;
        std::string out;
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) return std::nullopt;
            const char escaped = text_[pos_++];
            switch (escaped) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    if (pos_ + 4 > text_.size()) return std::nullopt;
                    const std::string hex(text_.substr(pos_, 4));
                    char* end = nullptr;
                    const unsigned long code = std::strtoul(hex.c_str(), &end, 16);
                    if (end != hex.c_str() + 4) return std::nullopt;
                    AppendUtf8(out, static_cast<unsigned>(code));
                    pos_ += 4;
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& name) const {
    static const JsonValue kMissing;
    const auto found = members.find(name);
    return found == members.end() ? kMissing : found->second;
}

std::optional<JsonValue> ParseJson(std::string_view text) {
    return Reader(text).Document();
}

}  // namespace tessel::catalogue::testing
