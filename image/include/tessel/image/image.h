#pragma once
// The program image: header, DLL-command table, support-library table and the section chain
// (`const`, `form`, `help`, `code`, `var`, `@reloc1`), written and read byte by byte.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/image/bytes.h"

namespace tessel::image {

constexpr std::uint32_t kNone = 0xFFFFFFFF;  // "no next header", "nothing stored", "no handler"
constexpr std::uint32_t kHeaderSize = 0x58;
constexpr std::uint32_t kSectionHeaderSize = 56;
constexpr std::size_t kSectionNameSize = 24;
constexpr std::array<std::uint32_t, 4> kReservedWords = {1, 3, 0, 0x1931E};

// Names of the five sections the header reaches directly, in header order, and the sixth.
constexpr std::array<std::string_view, 5> kHeaderSections = {"const", "form", "help", "code",
                                                             "var"};
constexpr std::string_view kReloc1Section = "@reloc1";

enum class RelocationKind : std::uint32_t {
    kService = 0,  // the runtime's service table
    kConst = 1,
    kVar = 2,
    kCode = 3,
};

constexpr std::uint32_t RelocationWord(std::uint32_t position, RelocationKind kind) {
    return position * 8 + static_cast<std::uint32_t>(kind);
}
constexpr std::uint32_t RelocationPosition(std::uint32_t word) {
    return word / 8;
}
constexpr std::uint32_t RelocationKindOf(std::uint32_t word) {
    return word % 8;
}

struct Section {
    std::string name;
    std::uint32_t flags = 1;
    std::uint32_t memorySize = 0;
    bool stored = true;  // false: data offset 0xFFFFFFFF, stored size 0, memory zero-filled
    Bytes data;
    std::vector<std::uint32_t> relocations;
};

// A section whose memory is exactly its stored data.
Section StoredSection(std::string name, std::uint32_t flags, Bytes data,
                      std::vector<std::uint32_t> relocations = {});

// The four `@reloc1` groups: code offsets of window/unit ids, DLL-command indexes, library rows
// and library type tags built into the compiled code.
using Reloc1Groups = std::array<std::vector<std::uint32_t>, 4>;

struct Image {
    std::array<std::uint32_t, 4> reserved = kReservedWords;  // header words 0x28..0x34
    std::uint32_t entryCodeOffset = 0;        // the header stores it as an image offset
    std::vector<std::uint32_t> dllLibraries;  // const offsets of library file names
    std::vector<std::uint32_t> dllFunctions;  // const offsets of exported names
    std::vector<std::string> libraryRows;     // GBK rows, fields split by CR, without NUL
    std::vector<Section> sections;            // chain order
    Reloc1Groups reloc1;                      // decoded from `@reloc1` by the reader

    const Section* Find(std::string_view name) const;
    Section* Find(std::string_view name);
};

// Layout facts the writer settled, handy for the assembler output and for tests.
struct Layout {
    std::vector<std::uint32_t> headerOffsets;  // per section, chain order
    std::vector<std::uint32_t> dataOffsets;    // per section; kNone when nothing stored
    std::uint32_t size = 0;
};

// Serialises the image. Fails (empty result, message in *error) when a header section is
// missing or the entry lies outside `code`.
Bytes WriteImage(const Image& image, Layout* layout = nullptr, std::string* error = nullptr);

struct ReadResult {
    bool ok = false;
    std::string error;
    Image image;
    Layout layout;
};

// Reads and checks a whole image. Safe on any input: every offset, count and size is checked
// against the bytes given.
ReadResult ReadImage(std::span<const std::uint8_t> bytes);

// Finds the start of an image inside a larger file (an executable that carries one): the first
// position whose header reaches a `const` section header the way ReadImage expects.
std::optional<std::size_t> FindImage(std::span<const std::uint8_t> file);

// `@reloc1` data: per group a u32 count and that many u32 code offsets.
Bytes EncodeReloc1(const Reloc1Groups& groups);
// Groups are taken by their counts; `bytes` may run up to 4 bytes past the section's stated
// size (images of the original writer state 4 bytes too few).
bool DecodeReloc1(std::span<const std::uint8_t> bytes, std::size_t statedSize, Reloc1Groups& out,
                  std::string* error);

// Base addresses of the four relocation targets as the 32-bit program sees them.
struct RelocationBases {
    std::uint32_t services = 0;
    std::uint32_t constData = 0;
    std::uint32_t varData = 0;
    std::uint32_t codeData = 0;
    std::uint32_t ForKind(std::uint32_t kind) const;
};

// Adds the target base to the u32 at each word's position. Fails, changing nothing, when a word
// has an unknown kind or a position whose 4 bytes leave `data`.
bool FixUpSection(std::span<std::uint8_t> data, std::span<const std::uint32_t> words,
                  const RelocationBases& bases, std::string* error = nullptr);

// What a runtime places for an image: a service table of `serviceSlots` words and `varSize`
// zeroed bytes of `var` data. The image read, before any fix-up, asks only for that: one section
// per name, a `var` of exactly `varSize` bytes, every relocation word on stored data, kind-0
// values that are slot offsets, and kind-1, -2 and -3 values inside the `const` data, the `var`
// data and the `code` data. Fails with the reason otherwise.
bool CheckPlacement(const Image& image, std::uint32_t serviceSlots, std::uint32_t varSize,
                    std::string* error);

// A NUL-terminated text of the `const` data; nullopt when the offset or the text leaves it.
std::optional<std::string> ConstText(std::span<const std::uint8_t> constData, std::uint32_t offset);

// The fields of a support-library row (split at CR). An ActiveX row has a sixth field: its
// type records one behind the other.
std::vector<std::string> SplitLibraryRow(std::string_view row);
// The records of an ActiveX row's type list, split at their boundaries.
std::vector<std::string> SplitTypeRecords(std::string_view typeList);

}  // namespace tessel::image
