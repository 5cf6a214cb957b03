// A reader that stays safe on damaged input: truncated, looped, out of reach and randomly
// damaged images give an error or an image that reads the same once written, never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "sample_image.h"
#include "tessel/image/image.h"

namespace tessel::image {
namespace {

TEST(ImageFormat, DamagedImagesGiveAnErrorNotACrash) {
    const auto bytes = Written(SampleImage());
    // Every truncation is refused with a message.
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        const auto r = ReadImage(std::span(bytes).first(n));
        EXPECT_FALSE(r.ok) << n;
        EXPECT_FALSE(r.error.empty()) << n;
    }
    // A chain that loops, a header out of reach, and an absurd DLL count.
    Layout layout;
    auto looped = Written(SampleImage(), &layout);
    StoreU32(looped, layout.headerOffsets[2] + 4, layout.headerOffsets[0]);
    EXPECT_NE(ReadImage(looped).error.find("loops"), std::string::npos);
    auto far = looped;
    StoreU32(far, layout.headerOffsets[2] + 4, 0x7FFFFFF0);
    EXPECT_FALSE(ReadImage(far).ok);
    auto count = Written(SampleImage());
    StoreU32(count, 0x38, 0xFFFFFFFF);
    EXPECT_FALSE(ReadImage(count).ok);
    // Random damage never reads outside the buffer (the sanitizer build checks that), and the
    // verdict holds: damage only to data the reader does not interpret (help and code) still
    // reads, with the damaged bytes; any other verdict is a refusal with its reason, or an image
    // that writes back to one that reads the same.
    const auto sample = ReadImage(bytes);
    ASSERT_TRUE(sample.ok);
    std::vector<bool> plainData(bytes.size(), false);
    for (std::size_t i = 0; i < sample.image.sections.size(); ++i) {
        const auto& s = sample.image.sections[i];
        if (s.name != "help" && s.name != "code") continue;
        std::fill_n(plainData.begin() + sample.layout.dataOffsets[i], s.data.size(), true);
    }
    std::mt19937 random(1931);
    int refused = 0;
    for (int round = 0; round < 2000; ++round) {
        auto damaged = bytes;
        bool onlyPlainData = true;
        for (int k = 0; k < 4; ++k) {
            const auto at = random() % damaged.size();
            damaged[at] = static_cast<std::uint8_t>(random());
            onlyPlainData = onlyPlainData && plainData[at];
        }
        const auto r = ReadImage(damaged);
        EXPECT_EQ(r.ok, r.error.empty()) << round << ": " << r.error;
        if (onlyPlainData) {
            ASSERT_TRUE(r.ok) << round << ": " << r.error;
            const auto* code = r.image.Find("code");
            EXPECT_TRUE(std::equal(code->data.begin(), code->data.end(),
                                   damaged.begin() + sample.layout.dataOffsets[3]))
                << round;
        } else if (r.ok) {
            const auto again = ReadImage(WriteImage(r.image));
            ASSERT_TRUE(again.ok) << round << ": " << again.error;
            EXPECT_EQ(again.image.sections.size(), r.image.sections.size()) << round;
            EXPECT_EQ(again.image.entryCodeOffset, r.image.entryCodeOffset) << round;
            EXPECT_EQ(again.image.libraryRows, r.image.libraryRows) << round;
        } else {
            ++refused;
        }
    }
    EXPECT_GT(refused, 100);  // damage to headers and tables is found
}

}  // namespace
}  // namespace tessel::image
