// The text, byte-array and array helpers every routine relies on.
#include <gtest/gtest.h>

#include <cfenv>
#include <cstring>

#include "recording_services.h"
#include "tessel/runtime/text.h"

namespace tessel {
namespace {

TEST(CompareTexts, NullAndEmptyAreAlike) {
    testing::RecordingServices rs;
    EXPECT_EQ(CompareTexts(nullptr, nullptr), 0);
    EXPECT_EQ(CompareTexts(nullptr, ""), 0);
    EXPECT_EQ(CompareTexts("", nullptr), 0);
    EXPECT_EQ(CompareTexts(nullptr, "a"), -1);
    EXPECT_EQ(CompareTexts("a", nullptr), 1);
}

TEST(CompareTexts, BytesCompareUnsignedAndExactly) {
    testing::RecordingServices rs;
    EXPECT_EQ(CompareTexts("ab", "abc"), -1);  // the shorter text's NUL is the smaller byte
    EXPECT_EQ(CompareTexts("abc", "ab"), 1);
    EXPECT_EQ(CompareTexts("\xB0", "A"), 1);  // 0xB0 > 0x41 as unsigned bytes
    EXPECT_EQ(CompareTexts("A", "a"), -1);    // letter case counts
    EXPECT_EQ(CompareTexts("\xD6\xD0", "\xD6\xD0"), 0);
    EXPECT_TRUE(rs.calls.empty());  // comparing needs no service
}

TEST(TextLength, CountsBytes) {
    testing::RecordingServices rs;
    EXPECT_EQ(TextLength(nullptr), 0u);
    EXPECT_EQ(TextLength(""), 0u);
    EXPECT_EQ(TextLength("\xD6\xD0x"), 3u);
}

TEST(JoinTexts, JoinsInArgumentOrderIntoOneBlock) {
    testing::RecordingServices rs;
    char* t = JoinTexts({"a", nullptr, "bc"});
    EXPECT_STREQ(t, "abc");
    EXPECT_EQ(rs.SizeOf(t), 4u);  // the lengths plus one
    Free(t);
    char* e = JoinTexts({nullptr, ""});
    ASSERT_NE(e, nullptr);  // joining empties gives a new empty text, never null
    EXPECT_STREQ(e, "");
    EXPECT_EQ(rs.SizeOf(e), 1u);
    Free(e);
    EXPECT_TRUE(rs.liveBlocks.empty());
}

TEST(JoinByteArrays, EmptiesGiveNullAndBytesKeepOrder) {
    testing::RecordingServices rs;
    void* empty1 = MakeByteArray(nullptr, 0);
    void* empty2 = MakeByteArray(nullptr, 0);
    const auto allocationsBefore = rs.calls.size();
    EXPECT_EQ(JoinByteArrays({empty1, empty2}), nullptr);
    EXPECT_EQ(rs.calls.size(), allocationsBefore);  // nothing allocated
    EXPECT_EQ(JoinByteArrays({nullptr}), nullptr);

    void* two = MakeByteArray("\x01\xFF", 2);
    void* joined = JoinByteArrays({two, nullptr});
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(rs.SizeOf(joined), 10u);
    EXPECT_EQ(ByteArrayLength(joined), 2u);
    EXPECT_EQ(std::memcmp(ByteArrayData(joined), "\x01\xFF", 2), 0);
    std::uint32_t dims;
    std::memcpy(&dims, joined, 4);
    EXPECT_EQ(dims, 1u);

    void* three = MakeByteArray("xyz", 3);
    void* all = JoinByteArrays({three, two, empty1});
    EXPECT_EQ(ByteArrayLength(all), 5u);
    EXPECT_EQ(std::memcmp(ByteArrayData(all), "xyz\x01\xFF", 5), 0);
    for (void* p : {empty1, empty2, two, joined, three, all}) Free(p);
    EXPECT_TRUE(rs.liveBlocks.empty());
}

TEST(CompareBytes, UnsignedOverTheLength) {
    EXPECT_EQ(CompareBytes("a", "b", 0), 0);
    EXPECT_EQ(CompareBytes("\x80", "\x7F", 1), 1);
    EXPECT_EQ(CompareBytes("ab", "ac", 2), -1);
    EXPECT_EQ(CompareBytes("abX", "abY", 2), 0);
}

TEST(ElementCount, ProductOfDimensions) {
    const std::uint32_t block[] = {2, 2, 3, 7, 7, 7, 7, 7, 7};
    void* first = nullptr;
    EXPECT_EQ(ElementCount(block, &first), 6u);
    EXPECT_EQ(first, static_cast<const void*>(block + 3));
    EXPECT_EQ(ElementCountOf(block), 6u);
    EXPECT_EQ(ElementCount(nullptr, &first), 0u);
    const std::uint32_t noDims[] = {0};
    EXPECT_EQ(ElementCount(noDims), 0u);
    const std::uint32_t bytes[] = {1, 0};
    EXPECT_EQ(ElementCount(bytes), 0u);
}

TEST(DoubleToInteger, TruncatesUnderEveryRoundingMode) {
    for (int mode : {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO}) {
        ASSERT_EQ(std::fesetround(mode), 0);
        EXPECT_EQ(DoubleToInteger(-2.7), -2) << mode;
        EXPECT_EQ(DoubleToInteger(2.7), 2) << mode;
        EXPECT_EQ(DoubleToInteger(-0.5), 0) << mode;
        EXPECT_EQ(DoubleToInteger(4294967296.9), 4294967296LL) << mode;
        EXPECT_EQ(std::fegetround(), mode);  // the mode in force is kept
    }
    std::fesetround(FE_TONEAREST);
}

TEST(DoubleToInteger, UnrepresentableGivesIndefinite) {
    constexpr auto kIndefinite = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(DoubleToInteger(std::numeric_limits<double>::quiet_NaN()), kIndefinite);
    EXPECT_EQ(DoubleToInteger(1e30), kIndefinite);
    EXPECT_EQ(DoubleToInteger(-1e30), kIndefinite);
}

TEST(PushOmitted, ThreeWordsMakeOneOmittedRecord) {
    std::vector<Value> args{IntegerValue(5)};
    PushOmitted(args, 6);
    ASSERT_EQ(args.size(), 3u);
    for (std::size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(args[i].tag, tag::kOmitted);
        EXPECT_EQ(args[i].low, 0u);
        EXPECT_EQ(args[i].high, 0u);
    }
}

TEST(ValueRecords, DoubleTravelsAsItsTwoHalves) {
    const Value v = DoubleValue(1.5);
    EXPECT_EQ(v.tag, tag::kDouble);
    EXPECT_EQ(static_cast<std::uint32_t>(v.low), 0u);
    EXPECT_EQ(v.high, 0x3FF80000u);
    EXPECT_EQ(AsDouble(v), 1.5);
    EXPECT_EQ(tag::LibraryType(0, 0xA), tag::kLabel);
    EXPECT_EQ(tag::LibraryType(4, 8), tag::kMediaPlayerControls);
}

}  // namespace
}  // namespace tessel
