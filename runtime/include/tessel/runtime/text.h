#pragma once
// Texts, byte arrays and array blocks as the runtime keeps them, and the helpers every routine
// uses on them. A text is a NUL-terminated GBK byte string in a heap block of the runtime's
// allocator, or null; null and the empty text are alike everywhere.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "tessel/runtime/services.h"
#include "tessel/runtime/value.h"

namespace tessel {

// --- GBK bytes -----------------------------------------------------------------------------
// A double-byte character is a lead byte and a trail byte; a trail byte may look like an ASCII
// character ('\\', '|', letters), so text scans step over whole characters.
constexpr bool IsGbkLeadByte(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}
constexpr bool IsGbkTrailByte(unsigned char b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// --- the helpers ---------------------------------------------------------------------------
// -1, 0 or +1; bytes compare unsigned; null equals the empty text.
int CompareTexts(const char* a, const char* b);
// A block size worked out in 64 bits, as the 32-bit allocator takes it. A size 32 bits cannot
// hold raises the out-of-memory error: a sum or product that wrapped around would otherwise give
// a block shorter than what is then copied into it.
std::uint32_t BlockSize(std::uint64_t size);
// Bytes before the NUL; 0 for null. A text no block could hold is the out-of-memory error.
std::uint32_t TextLength(const char* text);
// A new text holding the texts in argument order (null counts as empty); never null.
char* JoinTexts(std::initializer_list<const char*> texts);
// A new byte array of the arrays' bytes in argument order, or null when they hold no byte.
void* JoinByteArrays(std::initializer_list<const void*> arrays);
// -1, 0 or +1 over the first `length` bytes, unsigned.
int CompareBytes(const void* a, const void* b, std::uint32_t length);
// Element count of an array block (0 for null) and the address of its first element.
std::uint32_t ElementCount(const void* block, void** first = nullptr);
// The same for a block known to exist.
std::uint32_t ElementCountOf(const void* block, void** first = nullptr);
// Truncation toward zero whatever rounding mode is in force; NaN and out-of-range values give
// the integer indefinite (INT64_MIN), as the x87 conversion does.
std::int64_t DoubleToInteger(double value);
// Adds `words` zero words (words / 3 omitted records) to an argument list being built.
void PushOmitted(std::vector<Value>& args, std::uint32_t words);

// --- byte arrays -----------------------------------------------------------------------------
// A byte array block is (u32 1, u32 length, bytes).
void* MakeByteArray(const void* data, std::uint32_t length);
std::uint32_t ByteArrayLength(const void* block);  // 0 for null
const std::uint8_t* ByteArrayData(const void* block);
std::uint8_t* ByteArrayData(void* block);

// A new heap copy of a text (null gives a new empty text).
char* CopyText(const char* text);
char* CopyText(std::string_view text);

// --- owners ----------------------------------------------------------------------------------
// Move-only owners that free their block through the runtime when they go.
class Text {
  public:
    Text() = default;
    explicit Text(char* owned) : p_(owned) {}
    static Text Copy(std::string_view s) { return Text(CopyText(s)); }
    Text(Text&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Text& operator=(Text&& o) noexcept {
        if (this != &o) {
            Free(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text() { Free(p_); }

    const char* get() const { return p_; }
    char* get() { return p_; }
    const char* c_str() const { return p_ ? p_ : ""; }
    std::string_view view() const { return p_ ? std::string_view(p_) : std::string_view(); }
    std::uint32_t size() const { return TextLength(p_); }
    bool empty() const { return p_ == nullptr || *p_ == '\0'; }
    char* release() { return std::exchange(p_, nullptr); }
    char** out() {
        Free(p_);
        p_ = nullptr;
        return &p_;
    }

  private:
    char* p_ = nullptr;
};

class ByteArray {
  public:
    ByteArray() = default;
    explicit ByteArray(void* owned) : p_(owned) {}
    static ByteArray Copy(const void* data, std::uint32_t n) {
        return ByteArray(MakeByteArray(data, n));
    }
    ByteArray(ByteArray&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ByteArray& operator=(ByteArray&& o) noexcept {
        if (this != &o) {
            Free(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ByteArray(const ByteArray&) = delete;
    ByteArray& operator=(const ByteArray&) = delete;
    ~ByteArray() { Free(p_); }

    const void* get() const { return p_; }
    void* get() { return p_; }
    std::uint32_t size() const { return ByteArrayLength(p_); }
    const std::uint8_t* data() const { return ByteArrayData(p_); }
    bool empty() const { return size() == 0; }
    std::string_view view() const {
        return {reinterpret_cast<const char*>(data()), static_cast<std::size_t>(size())};
    }
    void* release() { return std::exchange(p_, nullptr); }

  private:
    void* p_ = nullptr;
};

}  // namespace tessel
