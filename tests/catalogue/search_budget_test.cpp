// What one keyword search may cost: its song checks, the walks common and rare terms take, and
// the songs those walks find, compared with the songs whose texts hold the terms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "catalogue_fixture.h"
#include "search_text.h"

namespace tessel::catalogue::testing {
namespace {

// The ids (from 1, in the order the songs were added) of the songs whose text, lower-cased,
// holds every blank-separated term of `keyword` as a plain substring: the songs a search must
// find, worked out without the index.
std::vector<int64_t> SongsHoldingEvery(const std::vector<std::string>& texts,
                                       const std::string& keyword) {
    std::vector<std::string> terms;
    for (size_t at = 0; at < keyword.size();) {
        const size_t end = std::min(keyword.find(' ', at), keyword.size());
        terms.push_back(keyword.substr(at, end - at));
        at = end + 1;
    }
    std::vector<int64_t> ids;
    for (size_t i = 0; i < texts.size(); ++i) {
        std::string text = texts[i];
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (std::all_of(terms.begin(), terms.end(),
                        [&](const std::string& t) { return text.find(t) != std::string::npos; })) {
            ids.push_back(static_cast<int64_t>(i) + 1);
        }
    }
    return ids;
}

// The page of `expected` that a search for `count` songs from `offset` answers with.
std::vector<int64_t> PageOf(const std::vector<int64_t>& expected, int count, int offset) {
    const auto from = std::min(expected.size(), static_cast<size_t>(offset));
    const auto to = std::min(expected.size(), from + static_cast<size_t>(count));
    return std::vector<int64_t>(expected.begin() + from, expected.begin() + to);
}

std::vector<int64_t> IdsOf(const std::vector<SongRow>& songs) {
    std::vector<int64_t> ids;
    for (const SongRow& song : songs) ids.push_back(song.id);
    return ids;
}

// A search needs a song check for each song that holds every gram of a common term of several
// characters; past its checks it is refused, the same way every time, and the next is served.
TEST(CatalogueSearchBudget, SearchPastItsChecksIsRefusedAlikeEveryTime) {
    TempFolder folder;
    std::unique_ptr<Database> database = GeneratedIndex(folder.path() / "index.db", 5000);
    ASSERT_TRUE(database);
    const std::vector<std::u32string> vol = KeywordTerms("vol");

    std::vector<SongRow> songs;
    ASSERT_EQ(database->Search(vol, 3, 4990, songs), SearchOutcome::kAnswered);
    ASSERT_EQ(songs.size(), 3u);
    EXPECT_EQ(songs[0].title, "Vol 4990");
    EXPECT_EQ(songs[2].title, "Vol 4992");

    database->SetSongChecks(4000);
    for (int run = 0; run < 3; ++run) {
        songs.clear();
        EXPECT_EQ(database->Search(vol, 3, 4990, songs), SearchOutcome::kTooMuchWork);
        EXPECT_TRUE(songs.empty());
        ASSERT_EQ(database->Search(vol, 3, 20, songs), SearchOutcome::kAnswered);
        EXPECT_EQ(songs[0].title, "Vol 20");
    }
    database->SetSongChecks(kDefaultSongChecks);
    songs.clear();
    ASSERT_EQ(database->Search(vol, 3, 4990, songs), SearchOutcome::kAnswered);
    ASSERT_EQ(songs.size(), 3u);
    EXPECT_EQ(songs[0].title, "Vol 4990");
}

// Half the titles hold "the", the other half 的: common terms that never meet are answered,
// without reading one song's text, and every search finds exactly the songs whose texts hold
// its terms, page after page.
TEST(CatalogueSearchBudget, CommonTermsThatNeverMeetAreAnsweredWithoutChecks) {
    TempFolder folder;
    std::string error;
    std::unique_ptr<Database> database = Database::Open((folder.path() / "i.db").string(), error);
    ASSERT_TRUE(database && database->Begin());
    std::vector<std::string> titles;
    for (int i = 0; i < 6000; ++i) {
        SongRecord song;
        song.path = std::to_string(i) + ".mp3";
        song.collectionName = "c";
        song.title = i % 2 ? "The Rain " + std::to_string(i) : "雨的故事 " + std::to_string(i);
        song.artist = i % 2 ? "Love" : "爱";
        song.album = i % 3 ? "Sunny Days" : "";
        titles.push_back(song.title + "\n" + song.artist + "\n" + song.album);
        ASSERT_TRUE(database->AddSong(song));
    }
    ASSERT_TRUE(database->Commit());
    database->SetSongChecks(0);
    for (const char* keyword : {"the 的", "rain 故事", "love 的", "the 爱"}) {
        std::vector<SongRow> songs;
        for (int offset : {0, 20, 40}) {
            EXPECT_EQ(database->Search(KeywordTerms(keyword), 21, offset, songs),
                      SearchOutcome::kAnswered)
                << keyword;
            EXPECT_TRUE(songs.empty()) << keyword;
        }
    }
    database->SetSongChecks(kDefaultSongChecks);
    // Lower-case ASCII keywords, so the expected songs are found with plain substrings.
    for (const std::string keyword : {"the 的", "rain 7", "the 3 love", "的 故事 爱 5", "e r",
                                      "ra 1", "ain 99", "e 2 3 4", "事 1", "sunny 7", "s d"}) {
        const std::vector<int64_t> expected = SongsHoldingEvery(titles, keyword);
        for (int offset : {0, 20, 40, 2000}) {
            std::vector<SongRow> songs;
            ASSERT_EQ(database->Search(KeywordTerms(keyword), 20, offset, songs),
                      SearchOutcome::kAnswered)
                << keyword;
            EXPECT_EQ(IdsOf(songs), PageOf(expected, 20, offset)) << keyword << " at " << offset;
        }
    }
}

// Terms nearly every song holds are checked on the songs the rarer terms find rather than
// matched through the index; the songs found and their order stay those of a full match.
TEST(CatalogueSearchBudget, CommonTermsCheckedOnTheFoundSongsFindTheSameSongs) {
    TempFolder folder;
    std::unique_ptr<Database> database = GeneratedIndex(folder.path() / "index.db", 5000);
    ASSERT_TRUE(database);
    std::vector<std::string> expected;
    for (int i = 0; i < 5000; ++i) {
        const std::string number = std::to_string(i);
        if (number.find('3') != std::string::npos && number.find('7') != std::string::npos &&
            number.find('9') != std::string::npos) {
            expected.push_back("Vol " + number);
        }
    }
    ASSERT_GT(expected.size(), 40u);
    for (const char* keyword : {"VOL 7 3 9", "3 l 9 v 7 o", "37 9 vol", "ol 7 9 3 Vo"}) {
        std::vector<std::string> found;
        for (int offset = 0; offset < static_cast<int>(expected.size()) + 20; offset += 20) {
            std::vector<SongRow> page;
            ASSERT_EQ(database->Search(KeywordTerms(keyword), 20, offset, page),
                      SearchOutcome::kAnswered);
            for (const SongRow& song : page) found.push_back(song.title);
        }
        if (std::string(keyword) == "37 9 vol") {
            std::vector<std::string> with37;
            for (const std::string& title : expected) {
                if (title.find("37") != std::string::npos) with37.push_back(title);
            }
            EXPECT_EQ(found, with37) << keyword;
        } else {
            EXPECT_EQ(found, expected) << keyword;
        }
    }
}

// Terms of rare and common grams are found through their rare grams, the common ones tried on
// their bits and the term on the text; whether that walk runs to the end, stops at once and
// leaves the rest to the full match, or stops part way, every page holds the songs whose texts
// hold the terms, in index order, and a deep page is refused as before.
TEST(CatalogueSearchBudget, TermsOfRareAndCommonGramsFindTheSongsOfTheirFullMatch) {
    TempFolder folder;
    std::string error;
    std::unique_ptr<Database> database = Database::Open((folder.path() / "i.db").string(), error);
    ASSERT_TRUE(database && database->Begin());
    // Every album holds "kx", every other title "the" or 故事 (common); the letters and Chinese
    // characters after them change every few songs (rare), and some titles and artists hold
    // them apart from the common grams, so that only the text tells such songs from the others.
    const std::vector<std::string> chinese = {"月", "光", "城", "市", "海", "边", "小", "雨",
                                              "青", "春", "梦", "想", "旅", "行", "日", "记"};
    std::vector<std::string> texts;
    for (int i = 0; i < 6000; ++i) {
        SongRecord song;
        song.path = std::to_string(i) + ".mp3";
        song.collectionName = "c";
        const std::string& mark = chinese[static_cast<size_t>(i / 3) % chinese.size()];
        const std::string& other = chinese[static_cast<size_t>(i / 3 + 5) % chinese.size()];
        const char first = static_cast<char>('a' + i / 7 % 26);
        const char second = static_cast<char>('a' + i / 181 % 26);
        song.title = i % 2 ? std::string("The Rain X") + second + first : "雨的故事" + mark;
        song.artist = i % 5 ? "Love" : "事" + other + "的爱";
        song.album = std::string("KX") + first + second + " " + std::to_string(i % 97);
        texts.push_back(song.title + "\n" + song.artist + "\n" + song.album);
        ASSERT_TRUE(database->AddSong(song));
    }
    ASSERT_TRUE(database->Commit());
    // Lower-case keywords, so the expected songs are found with plain substrings.
    const std::vector<std::string> keywords = {
        "kxa",    "kxab",     "kxba",   "xab",       "kxc 5",     "the kxb",  "rain kxd",
        "的 kxe", "kxf 故事", "故事月", "故事光",    "事月",      "的故事光", "月",
        "事城的", "的爱",     "kxz 的", "kxq the 1", "kxab 故事", "nokx"};
    for (const std::string& keyword : keywords) {
        const std::vector<int64_t> expected = SongsHoldingEvery(texts, keyword);
        for (int narrowed : {kDefaultNarrowedChecks, 0, 1, 7}) {
            database->SetNarrowedChecks(narrowed);
            for (int offset : {0, 20, 40, 5990}) {
                std::vector<SongRow> songs;
                ASSERT_EQ(database->Search(KeywordTerms(keyword), 20, offset, songs),
                          SearchOutcome::kAnswered)
                    << keyword << " at " << offset;
                EXPECT_EQ(IdsOf(songs), PageOf(expected, 20, offset))
                    << keyword << " at " << offset << ", " << narrowed << " narrowed checks";
            }
        }
    }
    // "the" is checked on the text of every song "kxa" finds: past its checks a page is refused,
    // however the songs of "kxa" are found.
    const std::vector<int64_t> both = SongsHoldingEvery(texts, "the kxa");
    ASSERT_GT(both.size(), 30u);
    database->SetSongChecks(2 * static_cast<int>(both.size()) / 3);
    for (int narrowed : {kDefaultNarrowedChecks, 0, 5}) {
        database->SetNarrowedChecks(narrowed);
        std::vector<SongRow> songs;
        ASSERT_EQ(database->Search(KeywordTerms("the kxa"), 10, 0, songs),
                  SearchOutcome::kAnswered);
        EXPECT_EQ(songs.size(), 10u);
        songs.clear();
        EXPECT_EQ(
            database->Search(KeywordTerms("the kxa"), 10, static_cast<int>(both.size()) - 5, songs),
            SearchOutcome::kTooMuchWork)
            << narrowed;
        EXPECT_TRUE(songs.empty());
    }
    database->SetSongChecks(kDefaultSongChecks);
    database->SetNarrowedChecks(kDefaultNarrowedChecks);
}

}  // namespace
}  // namespace tessel::catalogue::testing
