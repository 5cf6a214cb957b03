#pragma once
// The value record: the form in which arguments and results travel between the program and the
// runtime library and its support libraries.
#include <cstdint>

namespace tessel {

// On the 32-bit target every word is 32 bits. Native 64-bit builds never load an image, and there
// the low word, which may carry a pointer, is pointer-sized.
using Word = std::uintptr_t;

struct Value {
    Word low = 0;
    std::uint32_t high = 0;
    std::uint32_t tag = 0;
};

namespace tag {
constexpr std::uint32_t kOmitted = 0;
constexpr std::uint32_t kByte = 0x80000101;
constexpr std::uint32_t kLogical = 0x80000002;
constexpr std::uint32_t kInteger = 0x80000301;
constexpr std::uint32_t kDouble = 0x80000601;
constexpr std::uint32_t kText = 0x80000004;
constexpr std::uint32_t kByteArray = 0x80000005;
// The runtime's own kinds beyond the basic ones: an array block of texts (elements are text
// pointers) and a COM object reference (low = the object, 0 for an empty reference).
constexpr std::uint32_t kTextArray = 0x80000014;
constexpr std::uint32_t kObject = 0x80000007;

// A type of a support library: high half = library row + 1, low half = the type's number.
constexpr std::uint32_t LibraryType(std::uint32_t row, std::uint32_t type) {
    return ((row + 1) << 16) | type;
}
constexpr bool IsLibraryType(std::uint32_t t) {
    return (t >> 16) != 0 && (t & 0x80000000u) == 0;
}

constexpr std::uint32_t kWindow = 0x00010001;
constexpr std::uint32_t kMenuItem = 0x00010003;
constexpr std::uint32_t kEditBox = 0x00010005;
constexpr std::uint32_t kLabel = 0x0001000A;
constexpr std::uint32_t kButton = 0x0001000B;
constexpr std::uint32_t kTimer = 0x00010020;
constexpr std::uint32_t kStatusBar = 0x00020002;
constexpr std::uint32_t kReportList = 0x00020004;
constexpr std::uint32_t kTransferObject = 0x00030001;
constexpr std::uint32_t kTransferSettings = 0x00030004;
constexpr std::uint32_t kMediaPlayer = 0x00050003;
constexpr std::uint32_t kMediaPlayerControls = 0x00050008;
}  // namespace tag

// Library rows: positions in the image's support-library table.
namespace row {
constexpr std::uint32_t kBasalt = 0;
constexpr std::uint32_t kFacet = 1;
constexpr std::uint32_t kFerry = 2;
constexpr std::uint32_t kVestry = 3;
constexpr std::uint32_t kMediaPlayer = 4;
}  // namespace row

inline Value IntegerValue(std::int32_t v) {
    return {static_cast<Word>(static_cast<std::uint32_t>(v)), 0, tag::kInteger};
}
inline Value LogicalValue(bool v) {
    return {v ? 1u : 0u, 0, tag::kLogical};
}
Value DoubleValue(double v);
inline Value TextValue(const char* text) {
    return {reinterpret_cast<Word>(text), 0, tag::kText};
}
inline Value ByteArrayValue(const void* block) {
    return {reinterpret_cast<Word>(block), 0, tag::kByteArray};
}
inline Value ObjectValue(void* object) {
    return {reinterpret_cast<Word>(object), 0, tag::kObject};
}
inline Value UnitValue(std::uint32_t window, std::uint32_t unit, std::uint32_t type) {
    return {window, unit, type};
}
inline Value OmittedValue() {
    return {};
}

inline std::int32_t AsInteger(const Value& v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v.low));
}
inline bool AsLogical(const Value& v) {
    return v.low != 0;
}
double AsDouble(const Value& v);
inline const char* AsText(const Value& v) {
    return reinterpret_cast<const char*>(v.low);
}
inline void* AsPointer(const Value& v) {
    return reinterpret_cast<void*>(v.low);
}

}  // namespace tessel
