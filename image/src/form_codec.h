#pragma once
// The two directions of the `form` codec. form_records.h walks a record's fields once; handed a
// FormEncoder the walk writes them, handed a FormDecoder it reads them. Each operation here is
// one kind of stored field, so the order of fields lives in the walk alone.
#include <array>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tessel/image/form.h"

namespace tessel::image::form_codec {

// What a walk may change: the encoder only reads the unit, the decoder fills it in.
template <class Codec, class T>
using Field = typename Codec::template Field<T>;

// The properties, still empty, that a unit of this type stores (form.cpp).
UnitProperties EmptyPropertiesOf(std::uint32_t type);

class FormEncoder {
  public:
    template <class T>
    using Field = const T&;

    explicit FormEncoder(ByteWriter& w) : w_(w) {}

    void Word(std::uint32_t v) { w_.U32(v); }
    void Signed(std::int32_t v) { w_.I32(v); }
    void HalfWord(std::uint16_t v) { w_.U16(v); }
    void Double(double v) { w_.F64(v); }
    void Logical(bool v) { w_.U16(v ? 0xFFFF : 0); }  // two bytes, -1 true
    void Text(const std::string& v) { w_.CString(v); }
    void SizedText(const std::string& v) { w_.SizedText(v); }
    void SizedBytes(const Bytes& v) {
        w_.U32(static_cast<std::uint32_t>(v.size()));
        w_.Raw(v);
    }
    template <std::size_t N>
    void FixedBytes(const std::array<std::uint8_t, N>& v) {
        w_.Raw(v);
    }
    // Byte length, UTF-16 units, a terminator.
    void Utf16Text(const std::u16string& v) {
        w_.U32(static_cast<std::uint32_t>(2 * (v.size() + 1)));
        for (char16_t c : v) w_.U16(c);
        w_.U16(0);
    }
    void Rest(const Bytes& v) { w_.Raw(v); }
    // Bytes that carry nothing: written as given, skipped when read.
    void Zeros(std::size_t count) { w_.Zeros(count); }
    void Constant(std::span<const std::uint8_t> bytes) { w_.Raw(bytes); }
    void Version(std::uint32_t expected) { w_.U32(expected); }

    // A count word, then the items.
    template <class Item, class Each>
    void Counted(const std::vector<Item>& items, Each each) {
        w_.U32(static_cast<std::uint32_t>(items.size()));
        for (const auto& item : items) each(*this, item);
    }
    template <class Item, class Each>
    void CountedOfSize(const std::vector<Item>& items, std::size_t, const char*, Each each) {
        Counted(items, each);
    }
    // Items with no count, up to the last `trailer` bytes of the record.
    template <class Item, class Each>
    void RunBefore(const std::vector<Item>& items, std::size_t, Each each) {
        for (const auto& item : items) each(*this, item);
    }

    // The decoder's choices and checks; the encoder writes what the unit holds.
    void ChooseProperties(const Unit&) {}
    void UnknownValueType() {}
    void PartRead(const char*) {}
    template <class Describe>
    void RecordEnds(Describe) {}

  private:
    ByteWriter& w_;
};

class FormDecoder {
  public:
    template <class T>
    using Field = T&;

    explicit FormDecoder(std::span<const std::uint8_t> record) : r_(record) {}

    void Word(std::uint32_t& v) { v = r_.U32(); }
    void Signed(std::int32_t& v) { v = r_.I32(); }
    void HalfWord(std::uint16_t& v) { v = r_.U16(); }
    void Double(double& v) { v = r_.F64(); }
    void Logical(bool& v) { v = r_.U16() != 0; }
    void Text(std::string& v) { v = r_.CString(); }
    void SizedText(std::string& v) { v = r_.SizedText(); }
    void SizedBytes(Bytes& v) {
        const auto bytes = r_.Raw(r_.U32());
        v.assign(bytes.begin(), bytes.end());
    }
    template <std::size_t N>
    void FixedBytes(std::array<std::uint8_t, N>& v) {
        const auto bytes = r_.Raw(N);
        if (!r_.Failed()) std::memcpy(v.data(), bytes.data(), N);
    }
    void Utf16Text(std::u16string& v) {
        const auto length = r_.U32();
        const auto bytes = r_.Raw(length);
        if (length < 2 || length % 2 != 0) r_.Fail();
        for (std::size_t i = 0; !r_.Failed() && i + 2 < bytes.size(); i += 2)
            v.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
    }
    void Rest(Bytes& v) {
        const auto rest = r_.Raw(r_.Remaining());
        v.assign(rest.begin(), rest.end());
    }
    void Zeros(std::size_t count) { r_.Skip(count); }
    void Constant(std::span<const std::uint8_t> bytes) { r_.Skip(bytes.size()); }
    void Version(std::uint32_t expected) {
        if (r_.U32() != expected) r_.Fail();
    }

    template <class Item, class Each>
    void Counted(std::vector<Item>& items, Each each) {
        const auto count = r_.U32();
        for (std::uint32_t i = 0; i < count && !r_.Failed(); ++i) each(*this, items.emplace_back());
    }
    // Items of a fixed size: a count they cannot fit is refused before any is read.
    template <class Item, class Each>
    void CountedOfSize(std::vector<Item>& items, std::size_t itemSize, const char* tooMany,
                       Each each) {
        const auto count = r_.U32();
        if (count > r_.Remaining() / itemSize) return Refuse(tooMany);
        items.resize(count);
        for (auto& item : items) each(*this, item);
    }
    template <class Item, class Each>
    void RunBefore(std::vector<Item>& items, std::size_t trailer, Each each) {
        while (!r_.Failed() && r_.Remaining() > trailer) each(*this, items.emplace_back());
    }

    // The type word just read decides which properties follow.
    void ChooseProperties(Unit& u) { u.properties = EmptyPropertiesOf(u.type); }
    void UnknownValueType() { r_.Fail(); }
    // A part of the record that must have been there in full.
    void PartRead(const char* error) {
        if (r_.Failed()) Refuse(error);
    }
    // The record must end exactly here.
    template <class Describe>
    void RecordEnds(Describe describe) {
        if (r_.Failed() || r_.Remaining() != 0) Refuse(describe());
    }

    // Empty when the record read in full; else why not (the first reason found).
    const std::string& Error() const { return error_; }

  private:
    void Refuse(std::string error) {
        if (error_.empty()) error_ = std::move(error);
        r_.Fail();
    }

    ByteReader r_;
    std::string error_;
};

}  // namespace tessel::image::form_codec
