#pragma once
// Builds the program's image from its sources: the constant table, the window description,
// the generated icon and sound, and the list of routines that get a stub in `code`.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/image/image.h"

namespace tessel::image_tool {

// Routines the image names, in code order: each gets a 5-byte stub `E9 rel32` that jumps to
// the C++ routine `tessel_<name>` (a '.' in the name becomes '_'). The entry routine comes last,
// right before the 13 service entries.
std::span<const std::string_view> RoutineNames();
std::string RoutineSymbol(std::string_view routine);  // C name, without the target's '_' prefix
constexpr std::uint32_t kStubSize = 5;
constexpr std::uint32_t kServiceEntrySize = 6;
constexpr std::uint32_t kVarAddressWordSize = 4;  // after the service entries: kind-2 word
// The service slots in the order their entries follow each other at the end of `code`.
std::span<const std::uint32_t> ServiceEntryOrder();
// The 25 routines of JsonDocument's class method table: construction, destruction and the
// operations in declaration order.
std::span<const std::string_view> JsonDocumentMethods();

// Name of a routine whose stub starts at `codeOffset` in an image laid out by this builder,
// nullopt when the code is not laid out that way or the offset is no stub.
std::optional<std::string> RoutineAt(std::span<const std::uint8_t> code, std::uint32_t codeOffset);

struct NamedConstant {
    std::string name;
    std::uint32_t offset = 0;
    std::string kind;   // text, double, bytes, table
    std::string value;  // a text's GBK bytes, a byte array's bytes; empty for the other kinds
};

struct ProgramImage {
    image::Image image;
    std::vector<NamedConstant> constants;        // every named const offset
    std::map<std::string, std::uint32_t> stubs;  // routine name -> code offset
    image::Bytes icon;                           // the window and executable icon (.ico)
    std::uint32_t varAddressWord = 0;            // code offset of the `var` address word
};

struct BuildResult {
    bool ok = false;
    std::string error;
    ProgramImage program;
};

// `textsTsv` is the content of the constant table (app/texts.tsv), `wmpTypes` the media player's
// type records one a line (image/data/wmp_types.txt; '#' lines are notes).
BuildResult BuildProgram(std::string_view textsTsv, std::string_view wmpTypes);

// The generated outputs.
std::string AssemblyFor(const image::Bytes& bytes, const image::Layout& layout,
                        const ProgramImage& program);
std::string ConstantsHeader(const ProgramImage& program);
// The texts (GBK) and byte arrays of the const pool as C++ constants, so the program's C++ code
// uses the very bytes the image stores.
std::string ConstantValuesHeader(const ProgramImage& program);
// The routines the form binds to events, by stub offset, for the native window runtime.
std::string NativeHandlersHeader(const ProgramImage& program);

// Readable text of any image; `error` when it cannot be read.
std::string DumpImage(std::span<const std::uint8_t> bytes, std::string* error);

// Code page 936 conversions (iconv).
std::optional<std::string> Utf8ToGbk(std::string_view utf8);
std::string GbkToUtf8(std::string_view gbk);  // undecodable bytes become \xNN

// Generated assets.
image::Bytes MakeIcon();             // 128x128, 32 bits per pixel, one image
image::Bytes MakeCompletionSound();  // RIFF WAVE, PCM 2 x 16 bits, 44100 Hz, ~0.78 s

}  // namespace tessel::image_tool
