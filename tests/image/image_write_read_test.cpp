// The image written and read back: every table, section and word kept, the header fields and the
// section chain as laid out, the stored sizes, and finding and splitting what an image holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <span>
#include <string>

#include "sample_image.h"
#include "tessel/image/image.h"

namespace tessel::image {
namespace {

TEST(ImageFormat, RoundTripKeepsEveryTableSectionAndWord) {
    const auto img = SampleImage();
    Layout layout;
    const auto bytes = Written(img, &layout);
    const auto r = ReadImage(bytes);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.image.reserved, kReservedWords);
    EXPECT_EQ(r.image.entryCodeOffset, 0x15u);
    EXPECT_EQ(r.image.dllLibraries, img.dllLibraries);
    EXPECT_EQ(r.image.dllFunctions, img.dllFunctions);
    EXPECT_EQ(r.image.libraryRows, img.libraryRows);
    EXPECT_EQ(r.image.reloc1, img.reloc1);
    ASSERT_EQ(r.image.sections.size(), img.sections.size());
    for (std::size_t i = 0; i < img.sections.size(); ++i) {
        SCOPED_TRACE(img.sections[i].name);
        EXPECT_EQ(r.image.sections[i].name, img.sections[i].name);
        EXPECT_EQ(r.image.sections[i].flags, img.sections[i].flags);
        EXPECT_EQ(r.image.sections[i].memorySize, img.sections[i].memorySize);
        EXPECT_EQ(r.image.sections[i].stored, img.sections[i].stored);
        EXPECT_EQ(r.image.sections[i].data, img.sections[i].data);
        EXPECT_EQ(r.image.sections[i].relocations, img.sections[i].relocations);
    }
    EXPECT_EQ(r.layout.headerOffsets, layout.headerOffsets);
    EXPECT_EQ(r.layout.dataOffsets, layout.dataOffsets);
    EXPECT_EQ(r.layout.size, bytes.size());
    // Writing what was read gives the same bytes.
    EXPECT_EQ(Written(r.image), bytes);
}

TEST(ImageFormat, HeaderFieldsAndChainAsLaidOut) {
    Layout layout;
    const auto bytes = Written(SampleImage(), &layout);
    EXPECT_EQ(LoadU32(bytes, 0x28), 1u);
    EXPECT_EQ(LoadU32(bytes, 0x2C), 3u);
    EXPECT_EQ(LoadU32(bytes, 0x30), 0u);
    EXPECT_EQ(LoadU32(bytes, 0x34), 0x1931Eu);
    EXPECT_EQ(LoadU32(bytes, 0x38), 2u);
    for (int i = 0; i < 36; ++i) EXPECT_EQ(bytes[i], 0) << i;
    // The first header follows the library table's empty row directly.
    EXPECT_EQ(LoadU32(bytes, 0x24), layout.headerOffsets[0]);
    EXPECT_EQ(bytes[layout.headerOffsets[0] - 1], 0);
    EXPECT_EQ(bytes[layout.headerOffsets[0] - 2], 0);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(LoadU32(bytes, 0x40 + 4 * k), layout.headerOffsets[k]);
    EXPECT_EQ(LoadU32(bytes, 0x54), layout.headerOffsets[0]);
    EXPECT_EQ(LoadU32(bytes, 0x3C), layout.dataOffsets[3] + 0x15);
    // Each next field reaches the following header; the last one holds 0xFFFFFFFF and only the
    // @reloc1 data follows it.
    for (std::size_t i = 0; i + 1 < layout.headerOffsets.size(); ++i)
        EXPECT_EQ(LoadU32(bytes, layout.headerOffsets[i] + 4), layout.headerOffsets[i + 1]);
    const auto last = layout.headerOffsets.back();
    EXPECT_EQ(LoadU32(bytes, last + 4), kNone);
    EXPECT_EQ(layout.dataOffsets.back() + 4 * 8, bytes.size());
    // Header size counts the relocation words.
    EXPECT_EQ(LoadU32(bytes, layout.headerOffsets[3]), 56u + 4 * 4);
}

TEST(ImageFormat, VarHasMemoryButNoStoredData) {
    Layout layout;
    const auto bytes = Written(SampleImage(), &layout);
    const auto var = layout.headerOffsets[4];
    EXPECT_EQ(LoadU32(bytes, var + 0x08), 19u);
    EXPECT_EQ(LoadU32(bytes, var + 0x24), 16u);
    EXPECT_EQ(LoadU32(bytes, var + 0x28), 0u);
    EXPECT_EQ(LoadU32(bytes, var + 0x2C), kNone);
    // Its next header follows the 56-byte header directly.
    EXPECT_EQ(LoadU32(bytes, var + 4), var + 56);
    const auto r = ReadImage(bytes);
    ASSERT_TRUE(r.ok) << r.error;
    const auto* s = r.image.Find("var");
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(s->stored);
    EXPECT_EQ(s->memorySize, 16u);
    EXPECT_TRUE(s->data.empty());
}

TEST(ImageFormat, ConstOffsetZeroIsTheEmptyText) {
    const auto r = ReadImage(Written(SampleImage()));
    ASSERT_TRUE(r.ok) << r.error;
    const auto& data = r.image.Find("const")->data;
    EXPECT_EQ(ConstText(data, 0), std::optional<std::string>(""));
    EXPECT_EQ(ConstText(data, 1), std::optional<std::string>("kernel32.dll"));
    EXPECT_EQ(ConstText(data, static_cast<std::uint32_t>(data.size())), std::nullopt);
}

TEST(ImageFormat, Reloc1StatedSizeMayBeUpToFourBytesShort) {
    Layout layout;
    auto bytes = Written(SampleImage(), &layout);
    const auto header = layout.headerOffsets.back();
    const auto trueSize = LoadU32(bytes, header + 0x28);
    for (std::uint32_t shortBy : {0u, 4u}) {
        StoreU32(bytes, header + 0x24, trueSize - shortBy);
        StoreU32(bytes, header + 0x28, trueSize - shortBy);
        const auto r = ReadImage(bytes);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.image.reloc1, SampleImage().reloc1);
    }
    StoreU32(bytes, header + 0x24, trueSize - 8);
    StoreU32(bytes, header + 0x28, trueSize - 8);
    EXPECT_FALSE(ReadImage(bytes).ok);
}

TEST(ImageFormat, FindsAnImageInsideALargerFile) {
    const auto bytes = Written(SampleImage());
    Bytes file(1000 + bytes.size() + 300, 0);
    std::fill_n(file.begin(), 1000, 0xCC);
    std::copy(bytes.begin(), bytes.end(), file.begin() + 1000);
    const auto at = FindImage(file);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(*at, 1000u);
    EXPECT_TRUE(ReadImage(std::span(file).subspan(*at)).ok);
    EXPECT_FALSE(FindImage(Bytes(5000, 0)).has_value());
}

TEST(ImageFormat, SplitsLibraryRowsAndTypeRecords) {
    const auto img = SampleImage();
    const auto fields = SplitLibraryRow(img.libraryRows[1]);
    ASSERT_EQ(fields.size(), 6u);
    EXPECT_EQ(fields[0], "@@wmp.dll");
    EXPECT_EQ(fields[1], "{6BF52A52-394A-11d3-B153-00C04F79FAA6}##0");
    const auto records = SplitTypeRecords(fields[5]);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0],
              "0,{74C09E02-F828-11D2-A74B-00A0C905F36E},IWMPControls,{62,51,},{61,},{}");
    EXPECT_EQ(records[1].substr(0, 13), "2,{00000000-0");
    EXPECT_EQ(SplitLibraryRow(img.libraryRows[0]).size(), 5u);
}

}  // namespace
}  // namespace tessel::image
