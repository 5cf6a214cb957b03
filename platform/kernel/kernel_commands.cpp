#include "tessel/kernel/kernel_commands.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/kernel/arguments.h"
#include "tessel/runtime/kernel.h"

namespace tessel::platform {

void* RuntimeAllocate(std::uint32_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) RaiseRuntimeError(runtime_error::kOutOfMemory);
    return p;
}

void* RuntimeResize(void* block, std::uint32_t size) {
    void* p = std::realloc(block, size == 0 ? 1 : size);
    if (p == nullptr) RaiseRuntimeError(runtime_error::kOutOfMemory);
    return p;
}

void RuntimeFree(void* block) {
    std::free(block);
}

std::string_view ArgText(std::uint32_t n, const Value* args, std::uint32_t i) {
    if (i >= n || args[i].tag != tag::kText || args[i].low == 0) return {};
    return AsText(args[i]);
}

bool ArgGiven(std::uint32_t n, const Value* args, std::uint32_t i) {
    return i < n && args[i].tag != tag::kOmitted;
}

double ArgNumber(std::uint32_t n, const Value* args, std::uint32_t i) {
    if (i >= n) return 0;
    switch (args[i].tag) {
        case tag::kDouble:
            return AsDouble(args[i]);
        case tag::kInteger:
            return AsInteger(args[i]);
        case tag::kByte:
            return static_cast<double>(args[i].low & 0xFF);
        case tag::kLogical:
            return args[i].low != 0 ? 1 : 0;
        default:
            return 0;
    }
}

std::int32_t ArgInt(std::uint32_t n, const Value* args, std::uint32_t i, std::int32_t fallback) {
    if (!ArgGiven(n, args, i)) return fallback;
    if (args[i].tag == tag::kInteger) return AsInteger(args[i]);
    const double d = ArgNumber(n, args, i);
    if (!(d > -2147483649.0 && d < 2147483648.0)) return fallback;
    return static_cast<std::int32_t>(d);
}

bool ArgBool(std::uint32_t n, const Value* args, std::uint32_t i) {
    return ArgGiven(n, args, i) && args[i].low != 0;
}

Value NewText(std::string_view s) {
    auto* p = static_cast<char*>(RuntimeAllocate(BlockSize(std::uint64_t{s.size()} + 1)));
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return TextValue(p);
}

Value NewBytes(const void* data, std::uint32_t n) {
    auto* p = static_cast<std::uint8_t*>(RuntimeAllocate(BlockSize(std::uint64_t{n} + 8)));
    const std::uint32_t header[2] = {1, n};
    std::memcpy(p, header, 8);
    if (n != 0) std::memcpy(p + 8, data, n);
    return ByteArrayValue(p);
}

std::string_view ArgBytes(std::uint32_t n, const Value* args, std::uint32_t i) {
    if (i >= n || args[i].tag != tag::kByteArray || args[i].low == 0) return {};
    const auto* block = static_cast<const char*>(AsPointer(args[i]));
    std::uint32_t len;
    std::memcpy(&len, block + 4, 4);
    return {block + 8, len};
}

namespace {

Value NewTextArray(const std::vector<std::string_view>& pieces) {
    const auto n = static_cast<std::uint32_t>(pieces.size());
    auto* block = static_cast<std::uint8_t*>(
        RuntimeAllocate(BlockSize(8 + std::uint64_t{n} * sizeof(char*))));
    const std::uint32_t header[2] = {1, n};
    std::memcpy(block, header, 8);
    for (std::uint32_t i = 0; i < n; ++i) {
        char* t = const_cast<char*>(AsText(NewText(pieces[i])));
        std::memcpy(block + 8 + i * sizeof(char*), &t, sizeof t);
    }
    return {reinterpret_cast<Word>(block), 0, tag::kTextArray};
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool MatchesAt(std::string_view text, std::size_t pos, std::string_view sought, bool ignoreCase) {
    if (pos + sought.size() > text.size()) return false;
    for (std::size_t k = 0; k < sought.size(); ++k) {
        char a = text[pos + k], b = sought[k];
        if (ignoreCase) a = FoldCase(a), b = FoldCase(b);
        if (a != b) return false;
    }
    return true;
}

// Starting positions of characters (0-based), stepping over double-byte characters whole.
std::size_t NextChar(std::string_view text, std::size_t pos) {
    const auto c = static_cast<unsigned char>(text[pos]);
    return (IsLeadByte(c) && pos + 1 < text.size()) ? pos + 2 : pos + 1;
}

// 0-based position of the first match at or after `from`, or npos.
std::size_t Find(std::string_view text, std::string_view sought, std::size_t from,
                 bool ignoreCase) {
    if (sought.empty()) return std::string_view::npos;
    for (std::size_t i = 0; i + sought.size() <= text.size(); i = NextChar(text, i)) {
        if (i >= from && MatchesAt(text, i, sought, ignoreCase)) return i;
    }
    return std::string_view::npos;
}

std::string ChangeCase(std::string_view text, bool lower) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); i = NextChar(out, i)) {
        char& c = out[i];
        if (lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (!lower && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return out;
}

// Blanks are the ASCII space and the double-byte full-width space.
std::string_view Trim(std::string_view t) {
    for (;;) {
        if (!t.empty() && t.front() == ' ')
            t.remove_prefix(1);
        else if (t.size() >= 2 && t.substr(0, 2) == "\xA1\xA1")
            t.remove_prefix(2);
        else
            break;
    }
    for (;;) {
        if (!t.empty() && t.back() == ' ')
            t.remove_suffix(1);
        else if (t.size() >= 2 && t.substr(t.size() - 2) == "\xA1\xA1")
            t.remove_suffix(2);
        else
            break;
    }
    return t;
}

std::string FormatNumber(double d) {
    if (d == 0) return "0";
    char buf[64];
    if (std::fabs(d) < 1e15 && d == std::trunc(d)) {
        std::snprintf(buf, sizeof buf, "%.0f", d);
    } else {
        std::snprintf(buf, sizeof buf, "%.15g", d);
    }
    return buf;
}

std::int32_t ParseInteger(std::string_view t) {
    std::size_t i = 0;
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    std::int64_t v = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
        v = v * 10 + (t[i] - '0');
        if (v > 2147483648LL) v = 2147483648LL;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) v = 2147483647LL;
    return static_cast<std::int32_t>(v);
}

double ParseDouble(std::string_view t) {
    std::size_t i = 0;
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
    if (i < t.size() && t[i] == '+') ++i;
    double d = 0;
    const auto r = std::from_chars(t.data() + i, t.data() + t.size(), d);
    return r.ec == std::errc() ? d : 0.0;
}

}  // namespace

bool RunPortableKernelCommand(std::uint32_t command, std::uint32_t n, const Value* a,
                              Value* result) {
    using namespace kernel;
    switch (command) {
        case kFindText: {
            const auto text = ArgText(n, a, 0);
            const std::int32_t start = std::max(ArgInt(n, a, 2, 1), 1);
            if (static_cast<std::size_t>(start) > text.size()) {
                *result = IntegerValue(-1);
                return true;
            }
            const auto pos = Find(text, ArgText(n, a, 1), start - 1, ArgBool(n, a, 3));
            *result = IntegerValue(pos == std::string_view::npos ? -1 : static_cast<int>(pos) + 1);
            return true;
        }
        case kFindTextBackward: {
            // The last match that begins before position `start` (1-based); an omitted start
            // searches the whole text. A match beginning at `start` itself is not found, so
            // repeated searches from the last answer walk backwards.
            const auto text = ArgText(n, a, 0);
            const auto sought = ArgText(n, a, 1);
            const std::int64_t limit =
                ArgGiven(n, a, 2) ? ArgInt(n, a, 2, 0) - 1 : static_cast<std::int64_t>(text.size());
            std::int32_t found = -1;
            if (!sought.empty()) {
                for (std::size_t i = 0; i + sought.size() <= text.size(); i = NextChar(text, i)) {
                    if (static_cast<std::int64_t>(i) >= limit) break;
                    if (MatchesAt(text, i, sought, ArgBool(n, a, 3)))
                        found = static_cast<int>(i) + 1;
                }
            }
            *result = IntegerValue(found);
            return true;
        }
        case kLeftText: {
            const auto text = ArgText(n, a, 0);
            const std::int32_t k = ArgInt(n, a, 1, 0);
            *result = NewText(k <= 0 ? std::string_view() : text.substr(0, k));
            return true;
        }
        case kRightText: {
            const auto text = ArgText(n, a, 0);
            const std::int32_t k = ArgInt(n, a, 1, 0);
            *result =
                NewText(k <= 0 ? std::string_view()
                               : text.substr(text.size() - std::min<std::size_t>(k, text.size())));
            return true;
        }
        case kMidText: {
            const auto text = ArgText(n, a, 0);
            const std::int32_t start = std::max(ArgInt(n, a, 1, 1), 1);
            const std::int32_t k = ArgInt(n, a, 2, 0);
            if (k <= 0 || static_cast<std::size_t>(start) > text.size())
                *result = NewText("");
            else
                *result = NewText(text.substr(start - 1, k));
            return true;
        }
        case kTrimText:
            *result = NewText(Trim(ArgText(n, a, 0)));
            return true;
        case kLowerText:
            *result = NewText(ChangeCase(ArgText(n, a, 0), true));
            return true;
        case kUpperText:
            *result = NewText(ChangeCase(ArgText(n, a, 0), false));
            return true;
        case kReplaceAll: {
            const auto text = ArgText(n, a, 0);
            const auto sought = ArgText(n, a, 1);
            const auto repl = ArgText(n, a, 2);
            const bool ic = ArgBool(n, a, 3);
            std::string out;
            std::size_t i = 0;
            while (i < text.size()) {
                if (!sought.empty() && MatchesAt(text, i, sought, ic)) {
                    out.append(repl);
                    i += sought.size();
                } else {
                    const std::size_t next = NextChar(text, i);
                    out.append(text.substr(i, next - i));
                    i = next;
                }
            }
            *result = NewText(out);
            return true;
        }
        case kSplitText: {
            // An empty text has no piece; a separator at the very end adds no empty last piece.
            const auto text = ArgText(n, a, 0);
            const auto sep = ArgText(n, a, 1);
            std::vector<std::string_view> pieces;
            std::size_t from = 0;
            while (from < text.size()) {
                const auto pos = Find(text, sep, from, false);
                if (pos == std::string_view::npos) {
                    pieces.push_back(text.substr(from));
                    break;
                }
                pieces.push_back(text.substr(from, pos - from));
                from = pos + sep.size();
            }
            *result = NewTextArray(pieces);
            return true;
        }
        case kBlanks: {
            const std::int32_t k = ArgInt(n, a, 0, 0);
            *result = NewText(std::string(k > 0 ? k : 0, ' '));
            return true;
        }
        case kTextToInteger:
            *result = IntegerValue(ParseInteger(ArgText(n, a, 0)));
            return true;
        case kTextToDouble:
            *result = DoubleValue(ParseDouble(ArgText(n, a, 0)));
            return true;
        case kNumberToText:
            if (n > 0 && a[0].tag == tag::kInteger) {
                *result = NewText(std::to_string(AsInteger(a[0])));
            } else {
                *result = NewText(FormatNumber(ArgNumber(n, a, 0)));
            }
            return true;
        case kRound: {
            const double v = ArgNumber(n, a, 0);
            const double scale = std::pow(10.0, ArgInt(n, a, 1, 0));
            *result = DoubleValue(std::round(v * scale) / scale);
            return true;
        }
        case kHexText: {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(ArgInt(n, a, 0, 0)));
            *result = NewText(buf);
            return true;
        }
        case kBytesToText: {
            const auto bytes = ArgBytes(n, a, 0);
            *result = NewText(bytes.substr(0, bytes.find('\0')));
            return true;
        }
        case kTextToBytes: {
            const auto text = ArgText(n, a, 0);
            *result = NewBytes(text.data(), static_cast<std::uint32_t>(text.size()));
            return true;
        }
        default:
            return false;
    }
}

}  // namespace tessel::platform
