// The common grams' bits kept in the index: after any batch they are those a reading of the
// full-text index from scratch gives, a restart reads them back as they were, an index of the
// layout before them is upgraded keeping its ids, and searches never see half a batch.
#include "common_grams.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "catalogue_fixture.h"
#include "search_text.h"

namespace tessel::catalogue::testing {
namespace {

namespace fs = std::filesystem;

using GramSongs = std::map<std::string, std::vector<int64_t>>;

GramSongs SongsOf(const CommonGrams& common) {
    GramSongs out;
    for (const auto& [gram, bits] : common.Sets()) {
        std::vector<int64_t>& ids = out[gram];
        for (size_t w = 0; w < bits->size(); ++w) {
            for (int b = 0; b < 64; ++b) {
                if ((*bits)[w] >> b & 1) ids.push_back(static_cast<int64_t>(w * 64 + b));
            }
        }
    }
    return out;
}

int64_t Number(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    const int64_t value = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    sqlite3_finalize(s);
    return value;
}

// The common grams as the full-text index itself counts and lists them: grams held by more
// than max(2000, songs / 64) songs, the commonest (ties by gram) up to `bytes` of bits.
GramSongs ReadFromScratch(const fs::path& file, size_t bytes = kCommonGramBytes) {
    sqlite3* db = nullptr;
    GramSongs out;
    EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    const int64_t songs = Number(db, "SELECT count(*) FROM songs");
    const int64_t words = Number(db, "SELECT coalesce(max(id), 0) FROM songs") / 64 + 1;
    const int64_t threshold = std::max<int64_t>(2000, songs / 64);
    sqlite3_exec(db, "CREATE VIRTUAL TABLE temp.v USING fts5vocab(main, song_grams, row)", nullptr,
                 nullptr, nullptr);
    sqlite3_stmt* counts = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT term FROM temp.v WHERE doc > ?1 AND term <> '0' "
                       "ORDER BY doc DESC, term LIMIT ?2",
                       -1, &counts, nullptr);
    sqlite3_bind_int64(counts, 1, threshold);
    sqlite3_bind_int64(counts, 2, static_cast<int64_t>(bytes / 8) / words);
    std::vector<std::string> grams;
    while (songs > threshold && sqlite3_step(counts) == SQLITE_ROW) {
        grams.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(counts, 0)));
    }
    sqlite3_finalize(counts);
    for (const std::string& gram : grams) {
        const std::string sql =
            "SELECT rowid FROM song_grams WHERE song_grams MATCH "
            "'{singles pairs} : \"" +
            gram + "\"' ORDER BY rowid";
        sqlite3_stmt* holders = nullptr;
        sqlite3_prepare_v2(db, sql.c_str(), -1, &holders, nullptr);
        while (sqlite3_step(holders) == SQLITE_ROW) {
            out[gram].push_back(sqlite3_column_int64(holders, 0));
        }
        sqlite3_finalize(holders);
    }
    sqlite3_close(db);
    return out;
}

SongRecord Song(const std::string& path, const std::string& title) {
    SongRecord song;
    song.path = path;
    song.folder = "f";
    song.collectionName = "f";
    song.title = title;
    return song;
}

std::string Token(const char* term) {
    return TermGrams(KeywordTerms(term)[0])[0];
}

// After each batch the bits searches use, those a restart reads and those the full-text index
// gives from scratch are the same, while grams cross the threshold both ways.
TEST(CatalogueCommonGrams, EveryBatchLeavesTheBitsAFreshReadingGives) {
    TempFolder folder;
    const fs::path file = folder.path() / "index.db";
    std::string error;
    std::unique_ptr<Database> database = Database::Open(file.string(), error);
    ASSERT_TRUE(database) << error;
    auto expectFresh = [&](const char* when) {
        const GramSongs expected = ReadFromScratch(file);
        EXPECT_EQ(SongsOf(*database->CommonGramSets()), expected) << when;
        std::unique_ptr<Database> reopened = Database::Open(file.string(), error);
        EXPECT_TRUE(reopened) << error;
        if (reopened) {
            EXPECT_EQ(SongsOf(*reopened->CommonGramSets()), expected) << when << ", read again";
        }
        return expected;
    };
    const std::string alpha = Token("al"), beta = Token("be"), gamma = Token("ga");

    // 2,500 alpha (common), 500 beta (not).
    ASSERT_TRUE(database->Begin());
    for (int i = 0; i < 3000; ++i) {
        ASSERT_TRUE(database->AddSong(
            Song(std::to_string(i) + ".mp3", (i < 2500 ? "alpha " : "beta ") + std::to_string(i))));
    }
    ASSERT_TRUE(database->Commit());
    GramSongs sets = expectFresh("first batch");
    EXPECT_EQ(sets[alpha].size(), 2500u);
    EXPECT_EQ(sets.count(beta), 0u);

    // 1,600 more beta: beta becomes common, its songs read inside the batch.
    ASSERT_TRUE(database->Begin());
    for (int i = 3000; i < 4600; ++i) {
        ASSERT_TRUE(
            database->AddSong(Song(std::to_string(i) + ".mp3", "beta " + std::to_string(i))));
    }
    ASSERT_TRUE(database->Commit());
    sets = expectFresh("beta over the threshold");
    EXPECT_EQ(sets[beta].size(), 2100u);

    // Alpha loses 600 songs (below the threshold); 50 beta songs become gamma and 10 alpha
    // songs become beta: beta's bits change in place and stay over the threshold.
    ASSERT_TRUE(database->Begin());
    for (int64_t id = 1; id <= 600; ++id) ASSERT_TRUE(database->RemoveSong(id));
    for (int64_t id = 3001; id <= 3050; ++id) {
        ASSERT_TRUE(database->UpdateSong(id, Song(std::to_string(id - 1) + ".mp3", "gamma")));
    }
    for (int64_t id = 601; id <= 610; ++id) {
        ASSERT_TRUE(database->UpdateSong(id, Song(std::to_string(id - 1) + ".mp3", "beta x")));
    }
    ASSERT_TRUE(database->Commit());
    sets = expectFresh("alpha under the threshold");
    EXPECT_EQ(sets.count(alpha), 0u);
    EXPECT_EQ(sets[beta].size(), 2060u);
    EXPECT_EQ(sets[beta].front(), 601);

    // A batch rolled back changes nothing, and the next batch starts from the committed bits.
    ASSERT_TRUE(database->Begin());
    for (int i = 5000; i < 8000; ++i) {
        ASSERT_TRUE(database->AddSong(Song(std::to_string(i) + ".mp3", "gamma")));
    }
    database->Rollback();
    EXPECT_EQ(expectFresh("rolled back"), sets);
    ASSERT_TRUE(database->Begin());
    for (int64_t id = 3051; id <= 3130; ++id) ASSERT_TRUE(database->RemoveSong(id));
    ASSERT_TRUE(database->Commit());
    sets = expectFresh("beta back under");
    EXPECT_EQ(sets.count(beta), 0u);
    EXPECT_EQ(sets.count(gamma), 0u);

    // Searches read the same songs through bits and through the full-text index alone.
    std::vector<SongRow> songs;
    ASSERT_EQ(database->Search(KeywordTerms("a b"), 100, 1000, songs), SearchOutcome::kAnswered);
    ASSERT_EQ(songs.size(), 100u);
}

// Under a byte limit only the commonest grams have bits, ties taken by gram; an index opened
// under another limit has its grams chosen again, and searches find the same songs either way.
TEST(CatalogueCommonGrams, TheByteLimitKeepsTheCommonestAndAnotherLimitChoosesAgain) {
    TempFolder folder;
    const fs::path file = folder.path() / "index.db";
    ASSERT_TRUE(GeneratedIndex(file, 5000));
    const GramSongs all = ReadFromScratch(file);
    std::vector<std::vector<SongRow>> answers;
    for (size_t bytes : {kCommonGramBytes, size_t{5 * 640}, kCommonGramBytes}) {
        std::string error;
        std::unique_ptr<Database> database = Database::Open(file.string(), error, bytes);
        ASSERT_TRUE(database) << error;
        const GramSongs sets = SongsOf(*database->CommonGramSets());
        EXPECT_EQ(sets, ReadFromScratch(file, bytes)) << bytes;
        EXPECT_EQ(sets.size(), bytes == kCommonGramBytes ? all.size() : 5u) << bytes;
        std::vector<SongRow> songs;
        ASSERT_EQ(database->Search(KeywordTerms("vol 49 1"), 20, 5, songs),
                  SearchOutcome::kAnswered);
        answers.push_back(songs);
    }
    // "vol" and the digits: 'v', 'o', 'l', "vo", "ol" in every song, ties taken by gram.
    ASSERT_GT(all.size(), 5u);
    for (const auto& page : answers) {
        ASSERT_EQ(page.size(), answers[0].size());
        for (size_t i = 0; i < page.size(); ++i) EXPECT_EQ(page[i].id, answers[0][i].id);
    }
}

// An index made before the bits were stored is upgraded in place: the same songs under the same
// ids, the same answers, and the bits a fresh reading gives.
TEST(CatalogueCommonGrams, AnIndexOfTheLayoutBeforeIsUpgradedKeepingIds) {
    TempFolder folder;
    const fs::path file = folder.path() / "index.db";
    std::vector<std::vector<SongRow>> answers;
    const std::vector<std::string> keywords = {"vol 4", "vol", "1 2", "o"};
    auto searchAll = [&keywords](Database& database) {
        std::vector<std::vector<SongRow>> found;
        for (const std::string& keyword : keywords) {
            for (int offset : {0, 20, 4000}) {
                found.emplace_back();
                EXPECT_EQ(database.Search(KeywordTerms(keyword), 20, offset, found.back()),
                          SearchOutcome::kAnswered);
            }
        }
        return found;
    };
    {
        std::unique_ptr<Database> database = GeneratedIndex(file, 4500);
        ASSERT_TRUE(database);
        // Gaps in the ids, as removals leave them.
        ASSERT_TRUE(database->Begin());
        for (int64_t id = 100; id < 200; ++id) ASSERT_TRUE(database->RemoveSong(id));
        ASSERT_TRUE(database->Commit());
        answers = searchAll(*database);
    }
    // The previous layout: no counts, no bits, layout 1.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "DROP TABLE common_grams; DROP TABLE gram_counts; "
                           "PRAGMA user_version = 1",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    std::string error;
    std::unique_ptr<Database> database = Database::Open(file.string(), error);
    ASSERT_TRUE(database) << error;
    EXPECT_EQ(database->SongCount(), 4400);
    EXPECT_EQ(database->SongPath(99), "98.mp3");
    EXPECT_EQ(database->SongPath(100), std::nullopt);
    EXPECT_EQ(database->SongPath(4500), "4499.mp3");
    const GramSongs sets = SongsOf(*database->CommonGramSets());
    EXPECT_EQ(sets, ReadFromScratch(file));
    EXPECT_EQ(sets.at(Token("vo")).size(), 4400u);
    const auto upgraded = searchAll(*database);
    ASSERT_EQ(upgraded.size(), answers.size());
    for (size_t i = 0; i < answers.size(); ++i) {
        ASSERT_EQ(upgraded[i].size(), answers[i].size()) << i;
        for (size_t s = 0; s < answers[i].size(); ++s) {
            EXPECT_EQ(upgraded[i][s].id, answers[i][s].id);
            EXPECT_EQ(upgraded[i][s].title, answers[i][s].title);
        }
    }
    database.reset();
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(Number(db, "PRAGMA user_version"), 2);
    sqlite3_close(db);
}

// While batches are written and committed, every search answers with the songs of one
// committed state: the page before a batch or the page after it, never a mix.
TEST(CatalogueCommonGrams, SearchesSeeABatchWholeOrNotAtAll) {
    TempFolder folder;
    const fs::path file = folder.path() / "index.db";
    std::unique_ptr<Database> database = GeneratedIndex(file, 3000);
    ASSERT_TRUE(database);
    std::atomic<bool> done{false};
    std::atomic<int> searches{0};
    std::set<std::vector<int64_t>> pages;
    std::thread reader([&] {
        while (!done) {
            std::vector<SongRow> songs;
            if (database->Search(KeywordTerms("vol"), 100, 2950, songs) != SearchOutcome::kAnswered)
                continue;
            std::vector<int64_t> ids;
            for (const SongRow& song : songs) ids.push_back(song.id);
            pages.insert(ids);
            ++searches;
        }
    });
    // Each batch removes the first 100 songs left and adds 100: the page at 2,950 moves by 100.
    int64_t next = 3001;
    for (int batch = 0; batch < 28; ++batch) {
        ASSERT_TRUE(database->Begin());
        for (int64_t id = 1 + batch * 100; id <= 100 + batch * 100; ++id) {
            ASSERT_TRUE(database->RemoveSong(id));
        }
        for (int i = 0; i < 100; ++i, ++next) {
            SongRecord song = Song("n" + std::to_string(next) + ".mp3", "Vol n");
            ASSERT_TRUE(database->AddSong(song));
        }
        ASSERT_TRUE(database->Commit());
    }
    done = true;
    reader.join();
    EXPECT_GT(searches.load(), 0);
    for (const std::vector<int64_t>& ids : pages) {
        ASSERT_EQ(ids.size(), 50u);
        const int64_t first = ids.front();
        EXPECT_EQ((first - 2951) % 100, 0) << first;
        for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(ids[i], first + static_cast<int64_t>(i));
    }
}

// A stored chunk that no index of ours holds (a number past any song id, bits longer than a
// chunk) is a damaged file: it is refused with its name, not read into memory it cannot hold.
TEST(CatalogueCommonGrams, ADamagedStoredChunkIsRefusedNotRead) {
    for (const char* damage :
         {"UPDATE common_grams SET chunk = 1099511627776 WHERE chunk = 0",
          "UPDATE common_grams SET bits = zeroblob(8 * 1025) WHERE chunk = 0"}) {
        TempFolder folder;
        const fs::path file = folder.path() / "index.db";
        ASSERT_TRUE(GeneratedIndex(file, 4500));
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, damage, nullptr, nullptr, nullptr), SQLITE_OK) << damage;
        EXPECT_GT(sqlite3_changes(db), 0) << damage;
        sqlite3_close(db);
        std::string error;
        EXPECT_FALSE(Database::Open(file.string(), error)) << damage;
        EXPECT_NE(error.find(file.string()), std::string::npos) << error;
    }
}
}  // namespace
}  // namespace tessel::catalogue::testing
