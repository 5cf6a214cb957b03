// The gram texts keyword searches are made of, and the UTF-8 checks keywords and tags go through.
#include "search_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tessel::catalogue::testing {
namespace {

TEST(CatalogueSearchText, KeywordsBecomeGramQueries) {
    EXPECT_EQ(MatchExpressionFor("  \t"), std::nullopt);
    // 中 is e4 b8 ad; "Ab" folds to "ab", one pair.
    EXPECT_EQ(MatchExpressionFor("中 Ab"), "singles : \"e4b8ad\" AND pairs : \"6162\"");
    EXPECT_EQ(MatchExpressionFor("ABC"), "pairs : \"6162 6263\"");
    const SongGrams grams = GramsOf("Ab c", "", "中");
    EXPECT_EQ(grams.singles, "61 62 63 e4b8ad");
    // Gaps ("0") stand between fields and at blanks, so phrases cannot run over them.
    EXPECT_EQ(grams.pairs, "0 6162 0 0 0");
}

TEST(CatalogueSearchText, TermsThatAddNothingAreLookedUpOnce) {
    std::string fiftyLetters = "n";
    for (int i = 1; i < 50; ++i) fiftyLetters += i % 2 ? " N" : " n";
    const struct {
        std::string keyword;
        std::string expression;
    } cases[] = {
        // Repeats, whatever their case, cost one lookup.
        {"a A  a a", "singles : \"61\""},
        {fiftyLetters, "singles : \"6e\""},
        // A term inside a longer one is met wherever the longer one is, in either order.
        {"a and an", "pairs : \"616e 6e64\""},
        {"中国 中", "pairs : \"e4b8ade59bbd\""},
        // Terms that only share characters are all kept.
        {"ab ba b", "pairs : \"6162\" AND pairs : \"6261\""},
    };
    for (const auto& c : cases) EXPECT_EQ(MatchExpressionFor(c.keyword), c.expression) << c.keyword;
}

TEST(CatalogueSearchText, Utf8IsCheckedStrictly) {
    EXPECT_TRUE(IsValidUtf8("中文 text"));
    const struct {
        const char* bytes;
        const char* fault;
    } broken[] = {
        {"\xE4\xB8", "cut short"},
        {"\xC0\x80", "overlong"},
        {"\xED\xA0\x80", "surrogate"},
        {"\xF4\x90\x80\x80", "beyond U+10FFFF"},
    };
    for (const auto& b : broken) EXPECT_FALSE(IsValidUtf8(b.bytes)) << b.fault;
    EXPECT_EQ(ToValidUtf8("a\xFF"
                          "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(CharacterCount("中a"), 2u);
}

}  // namespace
}  // namespace tessel::catalogue::testing
