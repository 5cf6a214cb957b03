// The kernel's text and number commands as the program's wrappers reach them.
#include <gtest/gtest.h>

#include <memory>

#include "runtime_errors.h"
#include "tessel/headless/headless.h"
#include "tessel/runtime/kernel.h"

namespace tessel {
namespace {

class KernelCommands : public ::testing::Test {
  protected:
    void SetUp() override { headless::Install(); }
};

TEST_F(KernelCommands, FindTextIsOneBasedAndStepsOverDoubleByteCharacters) {
    EXPECT_EQ(FindText("abcabc", "c"), 3);
    EXPECT_EQ(FindText("abcabc", "c", 4), 6);
    EXPECT_EQ(FindText("abc", "x"), -1);
    EXPECT_EQ(FindText("abc", ""), -1);
    EXPECT_EQ(FindText("abc", "a", 9), -1);
    EXPECT_EQ(FindText("ABC", "b", 0, true), 2);
    EXPECT_EQ(FindText("ABC", "b"), -1);
    // 0x955C holds a backslash as its trail byte: it is not a backslash.
    EXPECT_EQ(FindText("\x95\x5C\\", "\\"), 3);
}

TEST_F(KernelCommands, FindTextBackwardFindsOnlyBeforeItsStart) {
    EXPECT_EQ(FindTextBackward("a.b.c", "."), 4);
    EXPECT_EQ(FindTextBackward("a.b.c", ".", 4), 2);  // a match at the start itself is not taken
    EXPECT_EQ(FindTextBackward("a.b.c", ".", 2), -1);
    EXPECT_EQ(FindTextBackward("abc", "."), -1);
}

TEST_F(KernelCommands, CuttingAndTrimming) {
    EXPECT_STREQ(LeftText("hello", 2).c_str(), "he");
    EXPECT_STREQ(LeftText("hello", 99).c_str(), "hello");
    EXPECT_STREQ(LeftText("hello", -1).c_str(), "");
    EXPECT_STREQ(RightText("hello", 3).c_str(), "llo");
    EXPECT_STREQ(MidText("hello", 2, 3).c_str(), "ell");
    EXPECT_STREQ(MidText("hello", 9, 3).c_str(), "");
    EXPECT_STREQ(TrimText("  a b  ").c_str(), "a b");
    EXPECT_STREQ(TrimText("\xA1\xA1x\xA1\xA1").c_str(), "x");
    EXPECT_STREQ(TrimText(nullptr).c_str(), "");
}

TEST_F(KernelCommands, CaseChangesLeaveDoubleByteCharactersAlone) {
    EXPECT_STREQ(LowerText("HTTP://Ex.COM").c_str(), "http://ex.com");
    // 0xB0 0x41 is one character whose trail byte looks like 'A'.
    EXPECT_STREQ(LowerText("\xB0\x41Z").c_str(), "\xB0\x41z");
    EXPECT_STREQ(UpperText("ab\xB0\x61").c_str(), "AB\xB0\x61");
}

TEST_F(KernelCommands, ReplaceAllAndSplit) {
    EXPECT_STREQ(ReplaceAll("a#q#b", "#q#", "\"").c_str(), "a\"b");
    EXPECT_STREQ(ReplaceAll("xAxa", "a", "-", true).c_str(), "x-x-");
    EXPECT_STREQ(ReplaceAll("abc", "", "z").c_str(), "abc");

    auto parts = SplitText("a;;b", ";");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_STREQ(parts.at(1), "a");
    EXPECT_STREQ(parts.at(2), "");
    EXPECT_STREQ(parts.at(3), "b");
    EXPECT_EQ(SplitText("", ";").size(), 0u);
    EXPECT_EQ(SplitText("x,y,", ",").size(), 2u);
    EXPECT_EQ(SplitText("a\r\nb", "\r\n").size(), 2u);
}

TEST_F(KernelCommands, NumbersAndTexts) {
    EXPECT_EQ(TextToInteger("8080"), 8080);
    EXPECT_EQ(TextToInteger(" -12x"), -12);
    EXPECT_EQ(TextToInteger("abc"), 0);
    EXPECT_EQ(TextToInteger(""), 0);
    EXPECT_EQ(TextToInteger("99999999999"), 2147483647);
    EXPECT_DOUBLE_EQ(TextToDouble("2.5"), 2.5);
    EXPECT_STREQ(NumberToText(215.0).c_str(), "215");
    EXPECT_STREQ(NumberToText(0.0).c_str(), "0");
    EXPECT_STREQ(NumberToText(-0.0).c_str(), "0");
    EXPECT_STREQ(NumberToText(0.5).c_str(), "0.5");
    EXPECT_STREQ(NumberToText(1.5).c_str(), "1.5");
    EXPECT_STREQ(IntegerToText(-40).c_str(), "-40");
    EXPECT_DOUBLE_EQ(RoundNumber(512000 / 1024000.0, 2), 0.5);
    EXPECT_DOUBLE_EQ(RoundNumber(5119 / 1024000.0, 2), 0.0);
    EXPECT_STREQ(HexText(9).c_str(), "9");
    EXPECT_STREQ(HexText(0xD6).c_str(), "D6");
    EXPECT_STREQ(Blanks(3).c_str(), "   ");
}

TEST_F(KernelCommands, BytesAndTexts) {
    ByteArray b = TextToBytes("ab");
    EXPECT_EQ(b.size(), 2u);
    EXPECT_EQ(b.view(), "ab");
    ByteArray withNul = ByteArray::Copy("x\0y", 3);
    EXPECT_STREQ(BytesToText(withNul.get()).c_str(), "x");
    EXPECT_STREQ(BytesToText(nullptr).c_str(), "");
    EXPECT_EQ(TextToBytes("").size(), 0u);
}

TEST(KernelCommandErrors, ArrayIndexOutsideItsRangeRaisesTheRuntimeErrors) {
    headless::Install();
    auto parts = SplitText("a,b", ",");
    EXPECT_EQ(testing::CatchRuntimeError([&] { parts.at(3); }), runtime_error::kIndexAboveCount);
    EXPECT_EQ(testing::CatchRuntimeError([&] { parts.at(0); }), runtime_error::kIndexBelowOne);
    EXPECT_EQ(testing::CatchRuntimeError([&] { parts.at(2); }), 0);
}

TEST(KernelCommandErrors, AResultOfAnotherTypeRaisesError5) {
    // Asking a text command for a number: the command answers a text, which the code refuses.
    EXPECT_EQ(
        testing::CatchRuntimeError([] {
            const Value arg = TextValue("x");
            const Value answer = CallKernel(kernel::kTrimText, std::span<const Value>(&arg, 1));
            const Text owned(const_cast<char*>(AsText(answer)));  // freed as the error unwinds
            Expect(answer, tag::kInteger);
        }),
        runtime_error::kUnexpectedType);
}

}  // namespace
}  // namespace tessel
