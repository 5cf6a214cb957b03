// The program following its library while it serves: files and folders added, changed, renamed
// and removed under a running service show in its answers, songs keep their ids, a file being
// copied is listed only once whole, and where watching is refused the library is scanned again.
// Waits are bounded generously (how fast changes show is measured by the watch benchmark).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <thread>

#include "catalogue_fixture.h"
#include "child_program.h"

namespace tessel::catalogue::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = std::chrono::seconds(15);

// True once `condition` holds, trying for kPatience.
bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + kPatience;
    while (Clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

// A song made outside the library, to be copied or moved in.
fs::path MadeSong(const fs::path& scratch, const std::string& name, const SongTags& tags) {
    const fs::path file = scratch / name;
    EXPECT_TRUE(AddSong(file, tags)) << file;
    return file;
}

// The service run as a program over `library`, and a client of it.
class Service {
  public:
    Service(const fs::path& library, const fs::path& index, std::vector<std::string> extra = {},
            std::vector<std::string> launcher = {}) {
        std::vector<std::string> args{"--library",    library.string(), "--db",
                                      index.string(), "--listen",       "127.0.0.1:0"};
        args.insert(args.end(), extra.begin(), extra.end());
        program_ = std::make_unique<ChildProgram>(args, launcher);
        const std::optional<std::smatch> ready = program_->WaitForOutput(
            std::regex(R"(serving \d+ songs on http://127\.0\.0\.1:(\d+)/)"), 60);
        if (!ready) return;
        client_ = std::make_unique<httplib::Client>("127.0.0.1", std::stoi((*ready)[1].str()));
        client_->set_read_timeout(10);
    }

    bool ok() const { return client_ != nullptr; }
    ChildProgram& program() { return *program_; }

    // Title to id of the songs a one-word search finds (up to 100).
    std::map<std::string, std::string> Search(const std::string& word) {
        return Songs(Json("/tessel/song/search/?q=" + word + "&count=100"));
    }
    // The durations of the songs the same finds.
    std::vector<int> Durations(const std::string& word) {
        std::vector<int> durations;
        const JsonValue answer = Json("/tessel/song/search/?q=" + word);
        for (const JsonValue& song : answer["data"].items) {
            durations.push_back(static_cast<int>(song["duration"].number));
        }
        return durations;
    }
    // Collection name to id.
    std::map<std::string, std::string> Collections() {
        std::map<std::string, std::string> named;
        const JsonValue answer = Json("/tessel/music/collections/");
        for (const JsonValue& item : answer["data"].items) {
            named[item["name"].text] = item["id_str"].text;
        }
        return named;
    }
    // Title to id of the songs of the collection named `name` (none when there is no such).
    std::map<std::string, std::string> CollectionSongs(const std::string& name) {
        const auto collections = Collections();
        const auto found = collections.find(name);
        if (found == collections.end()) return {};
        return Songs(Json("/tessel/music/collections/" + found->second + "/songs/?count=100"));
    }
    int Stop() { return program_->Finish(10, SIGTERM); }

  private:
    JsonValue Json(const std::string& target) {
        const httplib::Result result = client_->Get(target);
        if (!result || result->status != 200) return {};
        return ParseJson(result->body).value_or(JsonValue{});
    }
    static std::map<std::string, std::string> Songs(const JsonValue& answer) {
        std::map<std::string, std::string> songs;
        for (const JsonValue& song : answer["data"].items) {
            songs[song["title"].text] = song["id_str"].text;
        }
        return songs;
    }

    std::unique_ptr<ChildProgram> program_;
    std::unique_ptr<httplib::Client> client_;
};

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Copies `from` to `to` as a copying tool does: created, written, closed.
void CopyIn(const fs::path& from, const fs::path& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
}

TEST(CatalogueWatch, FilesAddedChangedRenamedAndRemovedShowInTheAnswers) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    const fs::path scratch = folder.path() / "scratch";
    ASSERT_TRUE(AddSong(library / "steady.mp3", {"Steady Song", "", ""}));
    ASSERT_TRUE(AddSong(library / "Album" / "alpha.mp3", {"Alpha Song", "Ann", "First"}));
    ASSERT_TRUE(AddSong(library / "Album" / "beta.mp3", {"Beta Song", "Ann", "First"}));
    ASSERT_TRUE(AddSong(library / "Album" / "untitled one.mp3", {}));
    const fs::path gamma = MadeSong(scratch, "gamma.mp3", {"Gamma Song", "Ann", "First"});
    const fs::path index = folder.path() / "index.db";

    Service service(library, index);
    ASSERT_TRUE(service.ok()) << service.program().text();
    const std::string steady = service.Search("steady")["Steady Song"];
    const std::string alpha = service.Search("alpha")["Alpha Song"];
    const std::string beta = service.Search("beta")["Beta Song"];
    const std::string untitled = service.Search("untitled")["untitled one"];
    ASSERT_FALSE(steady.empty() || alpha.empty() || beta.empty() || untitled.empty());

    CopyIn(gamma, library / "Album" / "gamma.mp3");
    EXPECT_TRUE(Eventually([&] { return service.Search("gamma").contains("Gamma Song"); }));

    std::string error;
    ASSERT_TRUE(
        WriteSongTags(library / "Album" / "beta.mp3", {"Beta Reprise", "Ann", "First"}, error));
    EXPECT_TRUE(Eventually([&] { return service.Search("reprise")["Beta Reprise"] == beta; }));
    EXPECT_FALSE(service.Search("beta").contains("Beta Song"));

    // A song renamed keeps its id, whether its title is its tag or its file name.
    fs::rename(library / "Album" / "untitled one.mp3", library / "Album" / "untitled two.mp3");
    EXPECT_TRUE(Eventually([&] { return service.Search("untitled")["untitled two"] == untitled; }));
    EXPECT_FALSE(service.Search("untitled").contains("untitled one"));
    fs::create_directory(library / "Other");
    fs::rename(library / "Album" / "alpha.mp3", library / "Other" / "alpha.mp3");
    EXPECT_TRUE(
        Eventually([&] { return service.CollectionSongs("Other")["Alpha Song"] == alpha; }));
    EXPECT_FALSE(service.CollectionSongs("Album").contains("Alpha Song"));

    fs::remove(library / "Album" / "gamma.mp3");
    EXPECT_TRUE(Eventually([&] { return service.Search("gamma").empty(); }));
    EXPECT_EQ(service.Search("steady")["Steady Song"], steady);
    EXPECT_EQ(service.Stop(), 0);

    // Renamed while the service was down: recognised at the next start.
    fs::rename(library / "Other" / "alpha.mp3", library / "Other" / "alpha again.mp3");
    Service again(library, index);
    ASSERT_TRUE(again.ok()) << again.program().text();
    EXPECT_EQ(again.Search("alpha")["Alpha Song"], alpha);
    EXPECT_EQ(again.Search("reprise")["Beta Reprise"], beta);
    EXPECT_EQ(again.Search("steady")["Steady Song"], steady);
    EXPECT_EQ(again.Stop(), 0);
}

TEST(CatalogueWatch, FoldersAddedRenamedAndRemovedShowAsCollections) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    const fs::path scratch = folder.path() / "scratch";
    ASSERT_TRUE(AddSong(library / "First" / "one.mp3", {"First One", "", ""}));
    MadeSong(scratch / "Second", "two.mp3", {"Second Two", "", ""});
    MadeSong(scratch / "Second" / "Disc 2", "three.mp3", {"Second Three", "", ""});
    const fs::path four = MadeSong(scratch, "four.mp3", {"Deep Four", "", ""});
    const fs::path five = MadeSong(scratch, "five.mp3", {"Second Five", "", ""});

    Service service(library, folder.path() / "index.db");
    ASSERT_TRUE(service.ok()) << service.program().text();
    const std::string first = service.Search("first")["First One"];
    ASSERT_FALSE(first.empty());

    fs::rename(scratch / "Second", library / "Second");
    EXPECT_TRUE(Eventually([&] { return service.CollectionSongs("Second/Disc 2").size() == 1; }));
    EXPECT_EQ(service.CollectionSongs("Second").size(), 1u);
    const std::map<std::string, std::string> second = service.Search("second");
    ASSERT_EQ(second.size(), 2u);

    // A new folder is watched at once: a file put in it as soon as it is made is seen.
    fs::create_directories(library / "Third" / "Deep");
    CopyIn(four, library / "Third" / "Deep" / "four.mp3");
    EXPECT_TRUE(Eventually([&] { return service.CollectionSongs("Third/Deep").size() == 1; }));

    // Renamed, the folders keep their collections' ids and the songs theirs.
    const auto before = service.Collections();
    fs::rename(library / "Second", library / "Renamed");
    EXPECT_TRUE(Eventually([&] { return service.Collections().contains("Renamed/Disc 2"); }));
    EXPECT_EQ(service.Collections()["Renamed"], before.at("Second"));
    EXPECT_EQ(service.Collections()["Renamed/Disc 2"], before.at("Second/Disc 2"));
    EXPECT_EQ(service.Search("second"), second);
    EXPECT_EQ(service.CollectionSongs("Renamed").size(), 1u);
    EXPECT_FALSE(service.Collections().contains("Second"));
    EXPECT_FALSE(service.Collections().contains("Second/Disc 2"));
    // The renamed folder and the one inside it are still followed under their new names.
    CopyIn(five, library / "Renamed" / "Disc 2" / "five.mp3");
    EXPECT_TRUE(Eventually([&] { return service.CollectionSongs("Renamed/Disc 2").size() == 2; }));

    fs::remove_all(library / "Renamed");
    EXPECT_TRUE(Eventually([&] { return !service.Collections().contains("Renamed"); }));
    EXPECT_TRUE(service.Search("second").empty());
    EXPECT_EQ(service.Collections().size(), 2u);  // First, Third/Deep
    EXPECT_EQ(service.Search("first")["First One"], first);
    EXPECT_EQ(service.Stop(), 0);
}

// A file half copied stays out of the answers however long the copy pauses (here longer than a
// change takes to show), and shows whole once closed: in a folder already there, and in a folder
// new to the library, which is read whole when it comes.
TEST(CatalogueWatch, AFileBeingCopiedIsListedOnlyWhenWhole) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    ASSERT_TRUE(AddSong(library / "here.mp3", {"Already Here", "", ""}));
    const fs::path source = folder.path() / "slow.mp3";
    std::string error;
    ASSERT_TRUE(WriteSongFile(source, {"Slow Copy", "", ""}, 4.0, 3, error)) << error;
    std::ifstream in(source, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};

    Service service(library, folder.path() / "index.db");
    ASSERT_TRUE(service.ok()) << service.program().text();
    const size_t half = bytes.size() / 2;
    size_t copied = 0;
    for (const fs::path& file : {library / "slow.mp3", library / "New" / "slow.mp3"}) {
        fs::create_directories(file.parent_path());
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.data(), half), static_cast<ssize_t>(half));
        std::this_thread::sleep_for(std::chrono::seconds(3));
        EXPECT_EQ(service.Durations("slow").size(), copied) << file;
        ASSERT_EQ(::write(fd, bytes.data() + half, bytes.size() - half),
                  static_cast<ssize_t>(bytes.size() - half));
        ::close(fd);
        ++copied;
        EXPECT_TRUE(Eventually([&] { return service.Durations("slow").size() == copied; }));
        EXPECT_EQ(service.Durations("slow"), std::vector<int>(copied, 4)) << file;
    }
    EXPECT_EQ(service.Stop(), 0);
}

// With watching refused (the watch limit stood in for by a test setting), the log says so once
// with what to do, and rescans at the interval and on SIGHUP find the changes.
TEST(CatalogueWatch, WhereWatchingIsRefusedTheLibraryIsScannedAgain) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    ASSERT_TRUE(AddSong(library / "A" / "a.mp3", {"Song A", "", ""}));
    ASSERT_TRUE(AddSong(library / "B" / "b.mp3", {"Song B", "", ""}));
    const fs::path later = MadeSong(folder.path() / "scratch", "later.mp3", {"Later Song", "", ""});
    ::setenv("TESSEL_CATALOGUE_MAX_WATCHES", "2", 1);
    Service timed(library, folder.path() / "timed.db", {"--rescan", "1"});
    Service manual(library, folder.path() / "manual.db", {"--rescan", "0"});
    ::unsetenv("TESSEL_CATALOGUE_MAX_WATCHES");
    ASSERT_TRUE(timed.ok()) << timed.program().text();
    ASSERT_TRUE(manual.ok()) << manual.program().text();
    EXPECT_TRUE(timed.program().WaitForOutput(
        std::regex("cannot watch the library for changes: .*fs\\.inotify\\.max_user_watches.*"
                   "raise it.*scanned again every 1 s"),
        5))
        << timed.program().text();
    EXPECT_TRUE(manual.program().WaitForOutput(std::regex("scanned again only on SIGHUP"), 5))
        << manual.program().text();

    CopyIn(later, library / "B" / "later.mp3");
    EXPECT_TRUE(Eventually([&] { return timed.Search("later").contains("Later Song"); }));
    fs::remove(library / "A" / "a.mp3");
    EXPECT_TRUE(Eventually([&] { return !timed.Collections().contains("A"); }));
    EXPECT_TRUE(manual.Search("later").empty());
    manual.program().Signal(SIGHUP);
    EXPECT_TRUE(Eventually([&] { return manual.Search("later").contains("Later Song"); }));
    EXPECT_FALSE(manual.Collections().contains("A"));

    timed.program().WaitForOutput(std::regex("never printed"), 2);  // a few more rescans
    EXPECT_EQ(Occurrences(timed.program().text(), "cannot watch"), 1u);
    EXPECT_EQ(timed.Stop(), 0);
    EXPECT_EQ(manual.Stop(), 0);
}

// The library folder itself moved away: its songs stay listed, the log says so once, and the
// timed rescans take it up again once it is back.
TEST(CatalogueWatch, ALibraryMovedAwayKeepsItsSongsAndIsScannedWhenBack) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    ASSERT_TRUE(AddSong(library / "A" / "a.mp3", {"Song A", "", ""}));
    const fs::path later = MadeSong(folder.path() / "scratch", "later.mp3", {"Later Song", "", ""});
    Service service(library, folder.path() / "index.db", {"--rescan", "1"});
    ASSERT_TRUE(service.ok()) << service.program().text();
    const std::string a = service.Search("song")["Song A"];
    ASSERT_FALSE(a.empty());
    fs::rename(library, folder.path() / "away");
    EXPECT_TRUE(service.program().WaitForOutput(std::regex("the library folder .* was moved or "
                                                           "removed \\(its songs stay listed\\)"),
                                                10))
        << service.program().text();
    service.program().WaitForOutput(std::regex("never printed"), 3);  // a few rescans
    EXPECT_EQ(service.Search("song")["Song A"], a);
    EXPECT_EQ(Occurrences(service.program().text(), "is not a folder"), 1u)
        << service.program().text();
    fs::rename(folder.path() / "away", library);
    CopyIn(later, library / "A" / "later.mp3");
    EXPECT_TRUE(Eventually([&] { return service.Search("later").contains("Later Song"); }));
    EXPECT_EQ(service.Search("song")["Song A"], a);
    EXPECT_EQ(service.Stop(), 0);
}

// Files and folders the service cannot read are skipped with one log line each, their songs
// kept, and the watch goes on. Run as an unprivileged user when the tests run as root, who
// reads everything.
TEST(CatalogueWatch, WhatCannotBeReadIsSkippedAndTheWatchGoesOn) {
    std::vector<std::string> launcher;
    if (::geteuid() == 0) {
        if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs setpriv as root";
        launcher = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    TempFolder folder;
    fs::permissions(folder.path(), fs::perms::all);
    const fs::path library = folder.path() / "library";
    ASSERT_TRUE(AddSong(library / "Open" / "fine.mp3", {"Fine Song", "", ""}));
    ASSERT_TRUE(AddSong(library / "Open" / "secret.mp3", {"Secret Song", "", ""}));
    ASSERT_TRUE(AddSong(library / "Locked" / "hidden.mp3", {"Locked Song", "", ""}));
    ASSERT_TRUE(AddSong(library / "Shut" / "kept.mp3", {"Kept Song", "", ""}));
    ASSERT_TRUE(
        AddSong(library / "Shut Down" / "beside.mp3", {"Beside Song", "", ""}));  // sorts between
    const fs::path fresh = MadeSong(folder.path() / "scratch", "fresh.mp3", {"Fresh Song", "", ""});
    fs::permissions(library / "Open" / "secret.mp3", fs::perms::none);
    fs::permissions(library / "Locked", fs::perms::none);

    Service service(library, folder.path() / "index.db", {}, launcher);
    ASSERT_TRUE(service.ok()) << service.program().text();
    EXPECT_TRUE(service.Search("fine").contains("Fine Song"));
    EXPECT_TRUE(service.Search("secret").empty());
    EXPECT_TRUE(service.Search("locked").empty());
    const std::string kept = service.Search("kept")["Kept Song"];
    ASSERT_FALSE(kept.empty());

    // A folder that becomes unreadable keeps its songs; the rest is followed as before.
    fs::permissions(library / "Shut", fs::perms::none);
    CopyIn(fresh, library / "Open" / "fresh.mp3");
    EXPECT_TRUE(Eventually([&] { return service.Search("fresh").contains("Fresh Song"); }));
    EXPECT_TRUE(
        service.program().WaitForOutput(std::regex("skipped Shut, which cannot be read"), 5))
        << service.program().text();
    EXPECT_EQ(service.Search("kept")["Kept Song"], kept);
    EXPECT_TRUE(service.Search("beside").contains("Beside Song"));
    const std::string& log = service.program().text();
    EXPECT_EQ(Occurrences(log, "skipped Open/secret.mp3, which cannot be read: Permission denied"),
              1u)
        << log;
    EXPECT_EQ(Occurrences(log, "skipped Locked, which cannot be read: Permission denied"), 1u)
        << log;
    EXPECT_EQ(Occurrences(log, "skipped Shut, which cannot be read"), 1u) << log;
    EXPECT_EQ(service.Stop(), 0);

    // So does a whole scan at the next start.
    Service again(library, folder.path() / "index.db", {}, launcher);
    ASSERT_TRUE(again.ok()) << again.program().text();
    EXPECT_EQ(again.Search("kept")["Kept Song"], kept);
    EXPECT_TRUE(again.Search("fresh").contains("Fresh Song"));
    EXPECT_EQ(again.Stop(), 0);
    fs::permissions(library / "Shut", fs::perms::all);
    fs::permissions(library / "Locked", fs::perms::all);
}

}  // namespace
}  // namespace tessel::catalogue::testing
