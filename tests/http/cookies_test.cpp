// Merging the server's cookies into the caller's list.
#include "tessel/http/cookies.h"

#include <gtest/gtest.h>

#include <vector>

#include "tessel/headless/headless.h"

namespace tessel {
namespace {

class Cookies : public ::testing::Test {
  protected:
    void SetUp() override { headless::Install(); }
    static std::string Merge(const char* send, const char* returned,
                             std::string* sendAfter = nullptr,
                             std::string* returnedAfter = nullptr) {
        Text s = Text::Copy(send);
        Text r = Text::Copy(returned);
        const Text merged = MergeCookies(s, r);
        if (sendAfter != nullptr) *sendAfter = s.c_str();
        if (returnedAfter != nullptr) *returnedAfter = r.c_str();
        return merged.c_str();
    }
};

TEST_F(Cookies, ServerItemsComeFirstAndReplaceOldOnes) {
    std::string send, returned;
    EXPECT_EQ(Merge("x=9; a=0", "a=1; b=2", &send, &returned), "a=1; b=2;x=9");
    EXPECT_EQ(send, "a=1; b=2;x=9");
    EXPECT_EQ(returned, "a=1; b=2");
    EXPECT_EQ(Merge("  a=1  ", "  b=2 ", &send, &returned), "b=2;a=1");  // both trimmed first
    EXPECT_EQ(returned, "b=2");
}

TEST_F(Cookies, DeletedItemsAndTheirOldValuesGo) {
    EXPECT_EQ(Merge("a=1", "a=deleted; b=2"), " b=2");
    EXPECT_EQ(Merge("a=1;b=deleted", ""), "a=1");
}

TEST_F(Cookies, OnlyExactRepeatsAreDropped) {
    EXPECT_EQ(Merge("", "k=v; k=v"), "k=v; k=v");
    EXPECT_EQ(Merge("", "k=v;k=v"), "k=v");
    EXPECT_EQ(Merge("a=1; a=2", ""), "a=1");  // of two old items with one name the first stays
    EXPECT_EQ(Merge("SID=1", "sid=2"), "sid=2;SID=1");  // names are case-sensitive
    EXPECT_EQ(Merge("", ""), "");
}

TEST_F(Cookies, ListRoutines) {
    EXPECT_STREQ(CookieName(" a = 1").c_str(), "a");
    EXPECT_STREQ(CookieName("flag").c_str(), "flag");
    EXPECT_STREQ(CookieName("=v").c_str(), "");
    std::vector<Text> items;
    items.push_back(Text::Copy("a=1"));
    items.push_back(Text::Copy(" b=2"));
    EXPECT_TRUE(HasCookieName(items, "b"));
    EXPECT_FALSE(HasCookieName(items, "B"));
    EXPECT_EQ(FindItem(items, " b=2"), 2);
    EXPECT_EQ(FindItem(items, "b=2"), -1);
    EXPECT_STREQ(RemoveDuplicateItems("a, b, a, c", ", ").c_str(), "a, b, c");
    EXPECT_STREQ(RemoveDuplicateItems("x;x;x", ";").c_str(), "x");
    EXPECT_STREQ(RemoveDuplicateItems("", ";").c_str(), "");
}

}  // namespace
}  // namespace tessel
