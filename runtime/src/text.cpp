#include "tessel/runtime/text.h"

#include <cstring>
#include <limits>

namespace tessel {

int CompareTexts(const char* a, const char* b) {
    if (a == nullptr) return (b == nullptr || *b == '\0') ? 0 : -1;
    if (b == nullptr) return *a == '\0' ? 0 : 1;
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        if (*x != *y) return *x < *y ? -1 : 1;
        if (*x == 0) return 0;
    }
}

std::uint32_t BlockSize(std::uint64_t size) {
    if (size > std::numeric_limits<std::uint32_t>::max())
        RaiseRuntimeError(runtime_error::kOutOfMemory);
    return static_cast<std::uint32_t>(size);
}

std::uint32_t TextLength(const char* text) {
    return text == nullptr ? 0 : BlockSize(std::strlen(text));
}

char* JoinTexts(std::initializer_list<const char*> texts) {
    std::uint64_t total = 0;
    for (const char* t : texts) total += TextLength(t);
    auto* out = static_cast<char*>(Allocate(BlockSize(total + 1)));
    char* p = out;
    for (const char* t : texts) {
        const std::uint32_t n = TextLength(t);
        if (n != 0) std::memcpy(p, t, n);
        p += n;
    }
    *p = '\0';
    return out;
}

void* JoinByteArrays(std::initializer_list<const void*> arrays) {
    std::uint64_t total = 0;
    for (const void* a : arrays) total += ByteArrayLength(a);
    if (total == 0) return nullptr;
    auto* out = static_cast<std::uint8_t*>(Allocate(BlockSize(total + 8)));
    const std::uint32_t header[2] = {1, static_cast<std::uint32_t>(total)};
    std::memcpy(out, header, sizeof header);
    std::uint8_t* p = out + 8;
    for (const void* a : arrays) {
        const std::uint32_t n = ByteArrayLength(a);
        if (n != 0) std::memcpy(p, ByteArrayData(a), n);
        p += n;
    }
    return out;
}

int CompareBytes(const void* a, const void* b, std::uint32_t length) {
    if (length == 0) return 0;
    const int r = std::memcmp(a, b, length);  // memcmp compares as unsigned char
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

std::uint32_t ElementCountOf(const void* block, void** first) {
    const auto* words = static_cast<const std::uint32_t*>(block);
    const std::uint32_t dims = words[0];
    std::uint32_t count = dims == 0 ? 0 : 1;
    for (std::uint32_t i = 0; i < dims; ++i) count *= words[1 + i];
    if (first != nullptr) *first = const_cast<std::uint32_t*>(words + 1 + dims);
    return count;
}

std::uint32_t ElementCount(const void* block, void** first) {
    if (block == nullptr) {
        if (first != nullptr) *first = nullptr;
        return 0;
    }
    return ElementCountOf(block, first);
}

std::int64_t DoubleToInteger(double value) {
    // A C++ conversion truncates toward zero by definition and leaves the rounding mode alone;
    // values it cannot represent are answered before it runs.
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    if (!(value > -kLimit && value < kLimit)) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

void PushOmitted(std::vector<Value>& args, std::uint32_t words) {
    for (std::uint32_t i = 0; i < words / 3; ++i) args.push_back(OmittedValue());
}

void* MakeByteArray(const void* data, std::uint32_t length) {
    auto* out = static_cast<std::uint8_t*>(Allocate(BlockSize(std::uint64_t{length} + 8)));
    const std::uint32_t header[2] = {1, length};
    std::memcpy(out, header, sizeof header);
    if (length != 0) std::memcpy(out + 8, data, length);
    return out;
}

std::uint32_t ByteArrayLength(const void* block) {
    if (block == nullptr) return 0;
    std::uint32_t n;
    std::memcpy(&n, static_cast<const std::uint8_t*>(block) + 4, sizeof n);
    return n;
}

const std::uint8_t* ByteArrayData(const void* block) {
    return block == nullptr ? nullptr : static_cast<const std::uint8_t*>(block) + 8;
}
std::uint8_t* ByteArrayData(void* block) {
    return block == nullptr ? nullptr : static_cast<std::uint8_t*>(block) + 8;
}

char* CopyText(const char* text) {
    return JoinTexts({text});
}

char* CopyText(std::string_view text) {
    auto* out = static_cast<char*>(Allocate(BlockSize(std::uint64_t{text.size()} + 1)));
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return out;
}

}  // namespace tessel
