#pragma once
// Little-endian byte building and bounds-checked reading. The image is a 32-bit format: every
// word is a u32 little-endian whatever the host, and nothing in it is aligned.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::image {

using Bytes = std::vector<std::uint8_t>;

class ByteWriter {
  public:
    explicit ByteWriter(Bytes& out) : out_(out) {}
    void U8(std::uint8_t v) { out_.push_back(v); }
    void U16(std::uint16_t v);
    void U32(std::uint32_t v);
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void F64(double v);
    void Raw(std::span<const std::uint8_t> bytes);
    void Raw(std::string_view bytes);
    void Zeros(std::size_t count) { out_.insert(out_.end(), count, 0); }
    void CString(std::string_view text);    // bytes and a NUL
    void SizedText(std::string_view text);  // u32 byte count, then the bytes, no NUL
    std::size_t Size() const { return out_.size(); }
    void PatchU32(std::size_t at, std::uint32_t v);

  private:
    Bytes& out_;
};

// Every read is checked; the first one that would leave the span marks the reader failed and
// later reads return zeros, so a parser can test Failed() once per record.
class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U32();
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    double F64();
    std::span<const std::uint8_t> Raw(std::size_t count);
    std::string CString();  // up to the NUL, which must be there
    std::string SizedText();
    void Skip(std::size_t count) { Raw(count); }
    bool Failed() const { return failed_; }
    std::size_t Position() const { return pos_; }
    std::size_t Remaining() const { return failed_ ? 0 : bytes_.size() - pos_; }
    void Fail() { failed_ = true; }

  private:
    bool Take(std::size_t count);
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

// "0x1F" style, and with `digits` the hexadecimal digits padded to that width.
std::string HexText(std::uint64_t v, int digits = 1);

std::uint32_t LoadU32(std::span<const std::uint8_t> bytes, std::size_t at);  // caller checks range
void StoreU32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t v);

}  // namespace tessel::image
