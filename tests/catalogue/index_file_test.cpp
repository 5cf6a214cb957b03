// The index file: what the scan takes from files, how a restart brings the index up to date, and
// which files are refused as an index rather than overwritten.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "catalogue_fixture.h"

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

}  // namespace
}  // namespace tessel::catalogue::testing
