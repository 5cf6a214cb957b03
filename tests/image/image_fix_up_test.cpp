// The fix-up of relocation words and the check that the runtime can place an image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sample_image.h"
#include "tessel/image/image.h"

namespace tessel::image {
namespace {

TEST(ImageFormat, FixUpAddsTheBaseOfEachKind) {
    auto img = SampleImage();
    RelocationBases bases{0x00500000, 0x00410000, 0x00620000, 0x00730000};
    // The word 0x81B in const turns the first method-table entry into the code address.
    auto& constSection = *img.Find("const");
    ASSERT_EQ(constSection.relocations[0], 0x81Bu);
    ASSERT_TRUE(FixUpSection(constSection.data, constSection.relocations, bases));
    EXPECT_EQ(LoadU32(constSection.data, 0x103), 0x00730000u + 0x10);
    EXPECT_EQ(LoadU32(constSection.data, 0x107), 0x00730000u + 0x15);

    auto& code = *img.Find("code");
    ASSERT_TRUE(FixUpSection(code.data, code.relocations, bases));
    EXPECT_EQ(LoadU32(code.data, 0x1C), 0x00500000u + 0x24);
    EXPECT_EQ(LoadU32(code.data, 0x04), 0x00410000u + 0x103);
    EXPECT_EQ(LoadU32(code.data, 0x08), 0x00620000u + 0x4);
    EXPECT_EQ(LoadU32(code.data, 0x0C), 0x00730000u + 0x15);
}

TEST(ImageFormat, FixUpRefusesWordsOutsideTheDataAndChangesNothing) {
    Bytes data(16, 0);
    const std::vector<std::uint32_t> words = {RelocationWord(0, RelocationKind::kConst),
                                              RelocationWord(13, RelocationKind::kConst)};
    EXPECT_FALSE(FixUpSection(data, words, {0, 0x1000, 0, 0}));
    EXPECT_EQ(data, Bytes(16, 0));
    const std::vector<std::uint32_t> badKind = {RelocationWord(0, RelocationKind::kConst) + 4};
    EXPECT_FALSE(FixUpSection(data, badKind, {}));
}

// What the runtime places: 13 service slots and 16 bytes of var. Each case changes the sample
// image in one way that asks for something else.
TEST(ImagePlacement, RefusesWhatTheRuntimeDoesNotPlace) {
    std::string error;
    ASSERT_TRUE(CheckPlacement(SampleImage(), 13, 16, &error)) << error;
    struct Case {
        const char* what;
        void (*change)(Image&);
        const char* reason;
    };
    const Case cases[] = {
        {"a larger var", [](Image& i) { i.Find("var")->memorySize = 32; }, "var section"},
        {"a smaller var", [](Image& i) { i.Find("var")->memorySize = 8; }, "var section"},
        {"a slot past the table", [](Image& i) { StoreU32(i.Find("code")->data, 0x1C, 0x34); },
         "service table"},
        {"a value between slots", [](Image& i) { StoreU32(i.Find("code")->data, 0x1C, 0x06); },
         "service table"},
        {"a var value past var", [](Image& i) { StoreU32(i.Find("code")->data, 0x08, 16); },
         "outside var"},
        {"a code value past code", [](Image& i) { StoreU32(i.Find("const")->data, 0x103, 0x20); },
         "outside code"},
        {"a const value past const", [](Image& i) { StoreU32(i.Find("code")->data, 0x04, 0x10B); },
         "outside const"},
        {"a word past the stored data",
         [](Image& i) {
             Section& help = *i.Find("help");
             help.memorySize = 64;
             help.relocations.push_back(RelocationWord(56, RelocationKind::kConst));
         },
         "stored data"},
        {"two sections of one name",
         [](Image& i) { i.sections.insert(i.sections.begin() + 3, StoredSection("help", 1, {})); },
         "two sections are named help"},
    };
    for (const auto& c : cases) {
        Image img = SampleImage();
        c.change(img);
        error.clear();
        EXPECT_FALSE(CheckPlacement(img, 13, 16, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

}  // namespace
}  // namespace tessel::image
