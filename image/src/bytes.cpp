#include "tessel/image/bytes.h"

#include <bit>
#include <cstring>

namespace tessel::image {

void ByteWriter::U16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void ByteWriter::U32(std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out_.push_back(static_cast<std::uint8_t>(v >> shift));
}

void ByteWriter::F64(double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    U32(static_cast<std::uint32_t>(bits));
    U32(static_cast<std::uint32_t>(bits >> 32));
}

void ByteWriter::Raw(std::span<const std::uint8_t> bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
}

void ByteWriter::Raw(std::string_view bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
}

void ByteWriter::CString(std::string_view text) {
    Raw(text);
    U8(0);
}

void ByteWriter::SizedText(std::string_view text) {
    U32(static_cast<std::uint32_t>(text.size()));
    Raw(text);
}

void ByteWriter::PatchU32(std::size_t at, std::uint32_t v) {
    StoreU32(out_, at, v);
}

bool ByteReader::Take(std::size_t count) {
    if (failed_ || count > bytes_.size() - pos_) {
        failed_ = true;
        return false;
    }
    return true;
}

std::uint8_t ByteReader::U8() {
    if (!Take(1)) return 0;
    return bytes_[pos_++];
}

std::uint16_t ByteReader::U16() {
    if (!Take(2)) return 0;
    const auto v = static_cast<std::uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
}

std::uint32_t ByteReader::U32() {
    if (!Take(4)) return 0;
    const auto v = LoadU32(bytes_, pos_);
    pos_ += 4;
    return v;
}

double ByteReader::F64() {
    const std::uint64_t low = U32();
    const std::uint64_t high = U32();
    return std::bit_cast<double>(low | high << 32);
}

std::span<const std::uint8_t> ByteReader::Raw(std::size_t count) {
    if (!Take(count)) return {};
    auto part = bytes_.subspan(pos_, count);
    pos_ += count;
    return part;
}

std::string ByteReader::CString() {
    if (failed_) return {};
    const auto rest = bytes_.subspan(pos_);
    const void* nul = std::memchr(rest.data(), 0, rest.size());
    if (nul == nullptr) {
        failed_ = true;
        return {};
    }
    const auto length =
        static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - rest.data());
    std::string text(reinterpret_cast<const char*>(rest.data()), length);
    pos_ += length + 1;
    return text;
}

std::string ByteReader::SizedText() {
    const auto length = U32();
    const auto bytes = Raw(length);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string HexText(std::uint64_t v, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), kDigits[v & 0xF]);
        v >>= 4;
    } while (v != 0 || static_cast<int>(s.size()) < digits);
    return "0x" + s;
}

std::uint32_t LoadU32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

void StoreU32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace tessel::image
