// The index: what the scan takes from files, how a restart brings it up to date, and the gram
// texts keyword searches are made of.
#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/stat.h>
#include <sqlite3.h>

#include <cstdlib>
#include <fstream>

#include "catalogue_fixture.h"
#include "search_text.h"

namespace tessel::catalogue::testing {
namespace {

namespace fs = std::filesystem;

struct Found {
    std::string id;
    std::string title;
    std::string author;
    int duration = -1;
};

std::vector<Found> SearchAll(RunningCatalogue& catalogue, const std::string& keyword) {
    std::vector<Found> found;
    const std::optional<JsonValue> answer =
        catalogue.GetJson("/tessel/song/search/?q=" + keyword + "&count=100");
    EXPECT_TRUE(answer) << keyword;
    if (!answer) return found;
    for (const JsonValue& song : (*answer)["data"].items) {
        found.push_back({song["id_str"].text, song["title"].text, song["author"].text,
                         static_cast<int>(song["duration"].number)});
    }
    return found;
}

std::vector<std::string> CollectionNames(RunningCatalogue& catalogue) {
    std::vector<std::string> names;
    const std::optional<JsonValue> answer = catalogue.GetJson("/tessel/music/collections/");
    EXPECT_TRUE(answer);
    if (answer) {
        for (const JsonValue& c : (*answer)["data"].items) names.push_back(c["name"].text);
    }
    return names;
}

TEST(CatalogueIndex, RestartTakesInNewChangedAndRemovedFiles) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    const fs::path index = folder.path() / "index.db";
    ASSERT_TRUE(AddSong(library / "a" / "1.mp3", {"Alpha", "Singer A", ""}));
    ASSERT_TRUE(AddSong(library / "a" / "2.mp3", {"Beta", "Old Voice", ""}));
    ASSERT_TRUE(AddSong(library / "b" / "3.mp3", {"Gamma", "Singer C", ""}));
    std::string betaId;
    std::string gammaId;
    {
        RunningCatalogue first(library, index);
        ASSERT_TRUE(first.ok());
        EXPECT_EQ(first.report().added, 3);
        ASSERT_EQ(SearchAll(first, "beta").size(), 1u);
        betaId = SearchAll(first, "beta")[0].id;
        ASSERT_EQ(SearchAll(first, "gamma").size(), 1u);
        gammaId = SearchAll(first, "gamma")[0].id;
    }
    ASSERT_TRUE(AddSong(library / "c" / "4.mp3", {"Delta", "Singer D", ""}));
    ASSERT_TRUE(AddSong(library / "a" / "2.mp3", {"Beta Retitled", "Singer Changed", ""}));
    fs::remove(library / "b" / "3.mp3");
    {
        RunningCatalogue second(library, index);
        ASSERT_TRUE(second.ok());
        EXPECT_EQ(second.report().added, 1);
        EXPECT_EQ(second.report().changed, 1);
        EXPECT_EQ(second.report().removed, 1);
        EXPECT_EQ(second.report().unchanged, 1);

        const std::vector<Found> beta = SearchAll(second, "beta");
        ASSERT_EQ(beta.size(), 1u);
        EXPECT_EQ(beta[0].title, "Beta Retitled");
        EXPECT_EQ(beta[0].author, "Singer Changed");
        EXPECT_EQ(beta[0].id, betaId);  // addresses handed out before stay valid
        EXPECT_TRUE(SearchAll(second, "old+voice").empty());  // the old tag text is forgotten
        EXPECT_TRUE(SearchAll(second, "gamma").empty());
        EXPECT_EQ(SearchAll(second, "delta").size(), 1u);
        const httplib::Result gone = second.Get("/media/" + gammaId + ".mp3");
        ASSERT_TRUE(gone);
        EXPECT_EQ(gone->status, 404);
        EXPECT_EQ(CollectionNames(second), (std::vector<std::string>{"a", "c"}));
    }
    {
        RunningCatalogue third(library, index);
        ASSERT_TRUE(third.ok());
        EXPECT_EQ(third.report().unchanged, 3);
        EXPECT_EQ(third.report().added + third.report().changed + third.report().removed, 0);
        EXPECT_EQ(SearchAll(third, "singer").size(), 3u);  // A, Changed, D
    }
}

TEST(CatalogueIndex, ScanTakesMp3FilesAndFallsBackToTheFileName) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    ASSERT_TRUE(AddSong(library / "My Untagged Song.mp3", {}));
    ASSERT_TRUE(AddSong(library / "LOUD.MP3", {"Upper Case Extension", "X", ""}));
    ASSERT_TRUE(AddSong(library / ".hidden" / "secret.mp3", {"Hidden", "X", ""}));
    ASSERT_TRUE(AddSong(library / "notes.mp3.txt", {"Not Audio", "X", ""}));
    std::ofstream(library / "broken.mp3") << "this is not an mp3 file";
    RunningCatalogue catalogue(library, folder.path() / "index.db");
    ASSERT_TRUE(catalogue.ok());
    EXPECT_EQ(catalogue.report().added, 3);

    const std::vector<Found> untagged = SearchAll(catalogue, "untagged");
    ASSERT_EQ(untagged.size(), 1u);
    EXPECT_EQ(untagged[0].title, "My Untagged Song");
    EXPECT_EQ(untagged[0].author, "");
    EXPECT_EQ(untagged[0].duration, 1);
    EXPECT_EQ(SearchAll(catalogue, "upper").size(), 1u);
    const std::vector<Found> broken = SearchAll(catalogue, "broken");
    ASSERT_EQ(broken.size(), 1u);
    EXPECT_EQ(broken[0].duration, 0);
    EXPECT_TRUE(SearchAll(catalogue, "hidden").empty());
    EXPECT_TRUE(SearchAll(catalogue, "not").empty());
}

TEST(CatalogueIndex, AFileThatIsNoIndexIsRefusedNotOverwritten) {
    TempFolder folder;
    const fs::path index = folder.path() / "index.db";
    std::ofstream(index) << std::string(4096, 'x');
    std::string error;
    EXPECT_EQ(Database::Open(index.string(), error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(fs::file_size(index), 4096u);

    // Another program's database keeps its tables.
    const fs::path foreign = folder.path() / "foreign.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE songs(x); INSERT INTO songs VALUES(1);", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(Database::Open(foreign.string(), error), nullptr);
    ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "SELECT x FROM songs", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

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
    // Repeats, whatever their case, cost one lookup.
    EXPECT_EQ(MatchExpressionFor("a A  a a"), "singles : \"61\"");
    std::string fiftyLetters = "n";
    for (int i = 1; i < 50; ++i) fiftyLetters += i % 2 ? " N" : " n";
    EXPECT_EQ(MatchExpressionFor(fiftyLetters), "singles : \"6e\"");
    // A term inside a longer one is met wherever the longer one is, in either order.
    EXPECT_EQ(MatchExpressionFor("a and an"), "pairs : \"616e 6e64\"");
    EXPECT_EQ(MatchExpressionFor("中国 中"), "pairs : \"e4b8ade59bbd\"");
    // Terms that only share characters are all kept.
    EXPECT_EQ(MatchExpressionFor("ab ba b"), "pairs : \"6162\" AND pairs : \"6261\"");
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
                      SearchOutcome::kAnswered) << keyword;
            EXPECT_TRUE(songs.empty()) << keyword;
        }
    }
    database->SetSongChecks(kDefaultSongChecks);
    // Lower-case ASCII keywords, so the expected songs are found with plain substrings.
    for (const std::string keyword : {"the 的", "rain 7", "the 3 love", "的 故事 爱 5", "e r",
                                      "ra 1", "ain 99", "e 2 3 4", "事 1", "sunny 7", "s d"}) {
        std::vector<std::string> terms;
        for (size_t at = 0; at < keyword.size();) {
            const size_t end = std::min(keyword.find(' ', at), keyword.size());
            terms.push_back(keyword.substr(at, end - at));
            at = end + 1;
        }
        std::vector<int64_t> expected;
        for (size_t i = 0; i < titles.size(); ++i) {
            std::string text = titles[i];
            for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (std::all_of(terms.begin(), terms.end(), [&](const std::string& t) {
                    return text.find(t) != std::string::npos;
                })) {
                expected.push_back(static_cast<int64_t>(i) + 1);
            }
        }
        for (int offset : {0, 20, 40, 2000}) {
            std::vector<SongRow> songs;
            ASSERT_EQ(database->Search(KeywordTerms(keyword), 20, offset, songs),
                      SearchOutcome::kAnswered) << keyword;
            std::vector<int64_t> ids;
            for (const SongRow& song : songs) ids.push_back(song.id);
            const auto from = std::min(expected.size(), static_cast<size_t>(offset));
            const auto to = std::min(expected.size(), from + 20);
            EXPECT_EQ(ids, std::vector<int64_t>(expected.begin() + from, expected.begin() + to))
                << keyword << " at " << offset;
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
    for (std::string& text : texts) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    auto expectedFor = [&texts](const std::string& keyword) {
        std::vector<std::string> terms;
        for (size_t at = 0; at < keyword.size();) {
            const size_t end = std::min(keyword.find(' ', at), keyword.size());
            terms.push_back(keyword.substr(at, end - at));
            at = end + 1;
        }
        std::vector<int64_t> ids;
        for (size_t i = 0; i < texts.size(); ++i) {
            if (std::all_of(terms.begin(), terms.end(), [&](const std::string& t) {
                    return texts[i].find(t) != std::string::npos;
                })) {
                ids.push_back(static_cast<int64_t>(i) + 1);
            }
        }
        return ids;
    };
    // Lower-case keywords, so the expected songs are found with plain substrings.
    const std::vector<std::string> keywords = {
        "kxa", "kxab", "kxba", "xab", "kxc 5", "the kxb", "rain kxd", "的 kxe", "kxf 故事",
        "故事月", "故事光", "事月", "的故事光", "月", "事城的", "的爱", "kxz 的", "kxq the 1",
        "kxab 故事", "nokx"};
    for (const std::string& keyword : keywords) {
        const std::vector<int64_t> expected = expectedFor(keyword);
        for (int narrowed : {kDefaultNarrowedChecks, 0, 1, 7}) {
            database->SetNarrowedChecks(narrowed);
            for (int offset : {0, 20, 40, 5990}) {
                std::vector<SongRow> songs;
                ASSERT_EQ(database->Search(KeywordTerms(keyword), 20, offset, songs),
                          SearchOutcome::kAnswered) << keyword << " at " << offset;
                std::vector<int64_t> ids;
                for (const SongRow& song : songs) ids.push_back(song.id);
                const auto from = std::min(expected.size(), static_cast<size_t>(offset));
                const auto to = std::min(expected.size(), from + 20);
                EXPECT_EQ(ids, std::vector<int64_t>(expected.begin() + from, expected.begin() + to))
                    << keyword << " at " << offset << ", " << narrowed << " narrowed checks";
            }
        }
    }
    // "the" is checked on the text of every song "kxa" finds: past its checks a page is refused,
    // however the songs of "kxa" are found.
    const std::vector<int64_t> both = expectedFor("the kxa");
    ASSERT_GT(both.size(), 30u);
    database->SetSongChecks(2 * static_cast<int>(both.size()) / 3);
    for (int narrowed : {kDefaultNarrowedChecks, 0, 5}) {
        database->SetNarrowedChecks(narrowed);
        std::vector<SongRow> songs;
        ASSERT_EQ(database->Search(KeywordTerms("the kxa"), 10, 0, songs), SearchOutcome::kAnswered);
        EXPECT_EQ(songs.size(), 10u);
        songs.clear();
        EXPECT_EQ(database->Search(KeywordTerms("the kxa"), 10, static_cast<int>(both.size()) - 5,
                                   songs),
                  SearchOutcome::kTooMuchWork) << narrowed;
        EXPECT_TRUE(songs.empty());
    }
    database->SetSongChecks(kDefaultSongChecks);
    database->SetNarrowedChecks(kDefaultNarrowedChecks);
}

// An index of a later layout is refused, never rebuilt (its songs would get new ids); a corrupt one
// is named with the way to build it again.
TEST(CatalogueIndex, ANewerOrCorruptIndexIsRefusedWithWhatToDo) {
    TempFolder folder;
    const fs::path file = folder.path() / "index.db";
    ASSERT_TRUE(GeneratedIndex(file, 3000));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    std::string error;
    EXPECT_EQ(Database::Open(file.string(), error), nullptr);
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
    EXPECT_NE(error.find(file.string()), std::string::npos) << error;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    {
        // Every page after the first is overwritten: the tables cannot be read.
        std::fstream bytes(file, std::ios::in | std::ios::out | std::ios::binary);
        bytes.seekp(4096);
        const std::string garbage(fs::file_size(file) - 4096, '\xA5');
        bytes.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    error.clear();
    std::unique_ptr<Database> corrupt = Database::Open(file.string(), error);
    if (corrupt) {
        TempFolder library;
        EXPECT_FALSE(UpdateIndex(*corrupt, library.path(), error));
    }
    EXPECT_NE(error.find("malformed"), std::string::npos) << error;
    EXPECT_NE(error.find("delete " + file.string()), std::string::npos) << error;
}

// An index file that cannot be written serves as long as it is up to date; once the library has
// changed it is refused with a reason, not at the first read.
TEST(CatalogueIndex, AnUpToDateIndexThatCannotBeWrittenIsServed) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    ASSERT_TRUE(AddSong(library / "a.mp3", {"Read Only Song", "", ""}));
    const fs::path index = folder.path() / "index.db";
    { ASSERT_TRUE(RunningCatalogue(library, index).ok()); }
    ::chmod(index.c_str(), 0444);
    // Permissions do not hold the owner of everything back: the file is made immutable then.
    const std::string immutable = "chattr +i '" + index.string() + "' 2>/dev/null";
    if (::access(index.c_str(), W_OK) == 0) (void)!std::system(immutable.c_str());
    if (::access(index.c_str(), W_OK) == 0) GTEST_SKIP() << "the index cannot be made read-only";
    struct Writable {
        std::string file;
        ~Writable() {
            (void)!std::system(("chattr -i '" + file + "' 2>/dev/null").c_str());
            ::chmod(file.c_str(), 0644);
        }
    } restore{index.string()};
    {
        RunningCatalogue catalogue(library, index);
        ASSERT_TRUE(catalogue.ok());
        EXPECT_EQ(catalogue.report().unchanged, 1);
        const std::optional<JsonValue> found = catalogue.GetJson("/tessel/song/search/?q=only");
        ASSERT_TRUE(found);
        EXPECT_EQ(Titles(*found), std::vector<std::string>{"Read Only Song"});
    }
    ASSERT_TRUE(AddSong(library / "b.mp3", {"Another", "", ""}));
    std::string error;
    std::unique_ptr<Database> database = Database::Open(index.string(), error);
    ASSERT_TRUE(database) << error;
    EXPECT_FALSE(UpdateIndex(*database, library, error));
    EXPECT_NE(error.find("cannot be written"), std::string::npos) << error;
}

TEST(CatalogueSearchText, Utf8IsCheckedStrictly) {
    EXPECT_TRUE(IsValidUtf8("中文 text"));
    EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));          // cut short
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));          // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_EQ(ToValidUtf8("a\xFF"
                          "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(CharacterCount("中a"), 2u);
}

}  // namespace
}  // namespace tessel::catalogue::testing
