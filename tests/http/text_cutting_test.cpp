// Cutting pieces out of header lines.
#include "tessel/runtime/text_cutting.h"

#include <gtest/gtest.h>

#include "tessel/headless/headless.h"

namespace tessel {
namespace {

class TextCutting : public ::testing::Test {
  protected:
    void SetUp() override { headless::Install(); }
};

TEST_F(TextCutting, TextBetweenTakesWhatLiesBetweenTheMarkers) {
    EXPECT_STREQ(TextBetween("Set-Cookie: a=1; path=/", "Set-Cookie:", ";").c_str(), " a=1");
    EXPECT_STREQ(TextBetween("abc", "x", "c").c_str(), "");  // start marker absent
    EXPECT_STREQ(TextBetween("a;b", "a", "z").c_str(), "");  // end marker absent after it
    EXPECT_STREQ(TextBetween("ab", "a", "b").c_str(), "");   // adjacent markers
    EXPECT_STREQ(TextBetween("b]a[x]", "[", "]").c_str(),
                 "x");  // the end is sought after the start
    EXPECT_STREQ(TextBetween("[1][2]", "[", "]", 3).c_str(), "2");
    EXPECT_STREQ(TextBetween("X-A: v\r\n", "x-a:", "\r\n", 0, true).c_str(), " v");
    EXPECT_STREQ(TextBetween("X-A: v\r\n", "x-a:", "\r\n").c_str(), "");
}

TEST_F(TextCutting, TheQuotePlaceholderStandsForADoubleQuote) {
    // 'x=#引号' and '#引号' cut out v from x="v".
    EXPECT_STREQ(TextBetween("x=\"v\"", "x=#\xD2\xFD\xBA\xC5", "#\xD2\xFD\xBA\xC5").c_str(), "v");
}

TEST_F(TextCutting, TextAfterColon) {
    EXPECT_STREQ(TextAfterColon("a: b: c").c_str(), "b: c");
    EXPECT_STREQ(TextAfterColon("abc").c_str(), "");
    EXPECT_STREQ(TextAfterColon("user-agent:  Foo  ").c_str(), "Foo");
    EXPECT_STREQ(TextAfterColon(nullptr).c_str(), "");
}

TEST_F(TextCutting, TextBeforeAlwaysCutsFromTheStart) {
    EXPECT_STREQ(TextBefore("HTTP/1.1 200 OK", ": ").c_str(), "");
    EXPECT_STREQ(TextBefore("Set-Cookie: x", ": ").c_str(), "Set-Cookie");
    EXPECT_STREQ(TextBefore("a.b.c", ".", 3).c_str(), "a.b");  // search from 3, cut from 1
    EXPECT_STREQ(TextBefore("list[2]", "[").c_str(), "list");
    EXPECT_STREQ(TextBefore("AxB", "x", -5, true).c_str(), "A");
}

}  // namespace
}  // namespace tessel
