// The program itself, run as `./tessel run` runs it: make the demo library, serve it, stop on
// SIGTERM. Every wait is bounded; a child that overstays is killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>

#include "catalogue_fixture.h"

extern char** environ;

namespace tessel::catalogue::testing {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

class ChildProgram {
  public:
    explicit ChildProgram(std::vector<std::string> args) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        args.insert(args.begin(), TESSEL_CATALOGUE_PROGRAM);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        output_ = out[0];
    }
    ~ChildProgram() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }

    // Reads the child's output until it matches `pattern` or `seconds` pass.
    std::optional<std::smatch> WaitForOutput(const std::regex& pattern, int seconds) {
        const auto deadline = Clock::now() + std::chrono::seconds(seconds);
        while (Clock::now() < deadline) {
            std::smatch match;
            if (std::regex_search(text_, match, pattern)) return match;
            pollfd wait{output_, POLLIN, 0};
            if (::poll(&wait, 1, 100) > 0) {
                char chunk[4096];
                const ssize_t got = ::read(output_, chunk, sizeof chunk);
                if (got <= 0) return std::nullopt;
                text_.append(chunk, static_cast<size_t>(got));
            }
        }
        return std::nullopt;
    }

    // Waits up to `seconds` for the child to end (sending `signal` first if non-zero); returns its
    // exit code, or -1 when it had to be killed.
    int Finish(int seconds, int signal = 0) {
        if (pid_ <= 0) return -1;
        if (signal != 0) ::kill(pid_, signal);
        const auto deadline = Clock::now() + std::chrono::seconds(seconds);
        int status = 0;
        while (Clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    const std::string& text() const { return text_; }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string text_;
};

TEST(CatalogueProgram, DemoLibraryFillsThreePagesAndStopsCleanly) {
    TempFolder folder;
    const std::string demo = (folder.path() / "demo").string();
    ChildProgram maker({"--make-demo", demo});
    ASSERT_EQ(maker.Finish(120), 0);

    ChildProgram server({"--library", demo, "--db", (folder.path() / "demo.db").string(),
                         "--listen", "127.0.0.1:0"});
    const std::optional<std::smatch> ready = server.WaitForOutput(
        std::regex(R"(serving (\d+) songs on http://127\.0\.0\.1:(\d+)/)"), 30);
    ASSERT_TRUE(ready) << server.text();
    EXPECT_EQ((*ready)[1].str(), "80");
    httplib::Client client("127.0.0.1", std::stoi((*ready)[2].str()));
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    client.set_url_encode(false);

    std::set<std::string> ids;
    for (int offset : {0, 20, 40}) {
        const httplib::Result page =
            client.Get("/tessel/song/search/?q=%E4%B8%AD&type=video&count=20&offset=" +
                       std::to_string(offset));
        ASSERT_TRUE(page);
        const std::optional<JsonValue> answer = ParseJson(page->body);
        ASSERT_TRUE(answer);
        ASSERT_EQ((*answer)["data"].size(), 20u);
        for (const JsonValue& song : (*answer)["data"].items) {
            ids.insert(song["id_str"].text);
            EXPECT_GE(song["duration"].number, 3);
            EXPECT_LE(song["duration"].number, 7);
        }
    }
    EXPECT_EQ(ids.size(), 60u);

    const httplib::Result collections = client.Get("/tessel/music/collections/");
    ASSERT_TRUE(collections);
    const std::optional<JsonValue> tags = ParseJson(collections->body);
    ASSERT_TRUE(tags);
    EXPECT_EQ((*tags)["data"].size(), 5u);

    const httplib::Result latin = client.Get("/tessel/song/search/?q=night");
    ASSERT_TRUE(latin);
    const std::optional<JsonValue> found = ParseJson(latin->body);
    ASSERT_TRUE(found);
    ASSERT_GE((*found)["data"].size(), 1u);
    const std::string url = (*found)["data"][0]["play_url"]["url_list"][0].text;
    const httplib::Result audio = client.Get(url.substr(url.find("/media/")));
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->status, 200);
    EXPECT_EQ(audio->body.substr(0, 3), "ID3");

    EXPECT_EQ(server.Finish(10, SIGTERM), 0);
}

TEST(CatalogueProgram, LegacyDemoIsReadWithTheChosenEncoding) {
    TempFolder folder;
    const std::string demo = (folder.path() / "legacy").string();
    ChildProgram maker({"--make-legacy-demo", demo});
    ASSERT_EQ(maker.Finish(60), 0);

    // Only gbk takes the ambiguous Latin-1 album "Matinée" (E9 65) as GBK.
    ChildProgram server({"--library", demo, "--db", (folder.path() / "legacy.db").string(),
                         "--listen", "127.0.0.1:0", "--legacy-encoding", "gbk"});
    const std::optional<std::smatch> ready = server.WaitForOutput(
        std::regex(R"(serving (\d+) songs on http://127\.0\.0\.1:(\d+)/)"), 30);
    ASSERT_TRUE(ready) << server.text();
    EXPECT_EQ((*ready)[1].str(), "5");
    httplib::Client client("127.0.0.1", std::stoi((*ready)[2].str()));
    client.set_read_timeout(5);
    const httplib::Result found = client.Get("/tessel/song/search/?q=lait");
    ASSERT_TRUE(found);
    const std::optional<JsonValue> answer = ParseJson(found->body);
    ASSERT_TRUE(answer);
    ASSERT_EQ((*answer)["data"].size(), 1u);
    EXPECT_EQ((*answer)["data"][0]["title"].text, "Café au lait");
    EXPECT_EQ((*answer)["data"][0]["album"].text, "Matin閑");
    EXPECT_EQ(server.Finish(10, SIGTERM), 0);
}

// A second service on the port of a running one ends at once, saying why; the first goes on
// answering every request.
TEST(CatalogueProgram, ASecondServiceOnAUsedPortExitsWithAddressInUse) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    ASSERT_TRUE(AddSong(library / "one.mp3", {"Only Song", "", ""}));
    ChildProgram first({"--library", library.string(), "--db", (folder.path() / "1.db").string(),
                        "--listen", "127.0.0.1:0"});
    const std::optional<std::smatch> ready =
        first.WaitForOutput(std::regex(R"(serving \d+ songs on http://127\.0\.0\.1:(\d+)/)"), 30);
    ASSERT_TRUE(ready) << first.text();
    const std::string port = (*ready)[1].str();
    ChildProgram second({"--library", library.string(), "--db",
                         (folder.path() / "2.db").string(), "--listen", "127.0.0.1:" + port});
    EXPECT_EQ(second.Finish(10), 1);
    EXPECT_TRUE(second.WaitForOutput(std::regex("address already in use"), 1)) << second.text();
    EXPECT_EQ(second.text().find("serving"), std::string::npos);
    httplib::Client client("127.0.0.1", std::stoi(port));
    client.set_read_timeout(5);
    for (int i = 0; i < 10; ++i) {
        const httplib::Result found = client.Get("/tessel/song/search/?q=only");
        ASSERT_TRUE(found);
        EXPECT_EQ(found->status, 200);
    }
    EXPECT_EQ(first.Finish(10, SIGTERM), 0);
}

// Without --db the index goes to the user's cache folder, never into the library.
TEST(CatalogueProgram, TheDefaultIndexIsKeptInTheCacheFolder) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    ASSERT_TRUE(AddSong(library / "one.mp3", {"Only Song", "", ""}));
    const fs::path cache = folder.path() / "cache";
    const char* before = std::getenv("XDG_CACHE_HOME");
    const std::string saved = before ? before : "";
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    ChildProgram server({"--library", library.string(), "--listen", "127.0.0.1:0"});
    if (before) {
        ::setenv("XDG_CACHE_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CACHE_HOME");
    }
    ASSERT_TRUE(server.WaitForOutput(std::regex("serving 1 songs"), 30)) << server.text();
    EXPECT_EQ(server.Finish(10, SIGTERM), 0);
    std::vector<fs::path> indexes;
    for (const auto& entry : fs::directory_iterator(cache / "tessel")) {
        if (entry.path().extension() == ".db") indexes.push_back(entry.path());
    }
    EXPECT_EQ(indexes.size(), 1u);
    for (const auto& entry : fs::recursive_directory_iterator(library)) {
        EXPECT_EQ(entry.path().filename(), "one.mp3");
    }
}

TEST(CatalogueProgram, RefusesBadArguments) {
    ChildProgram nothing({});
    EXPECT_EQ(nothing.Finish(10), 2);
    ChildProgram both({"--library", "/nonexistent", "--make-demo", "/nonexistent"});
    EXPECT_EQ(both.Finish(10), 2);
    ChildProgram badListen({"--library", "/nonexistent", "--listen", "localhost"});
    EXPECT_EQ(badListen.Finish(10), 2);
    ChildProgram badEncoding({"--library", "/nonexistent", "--legacy-encoding", "GBK"});
    EXPECT_EQ(badEncoding.Finish(10), 2);
    ChildProgram twoDemos({"--make-demo", "/nonexistent", "--make-legacy-demo", "/nonexistent"});
    EXPECT_EQ(twoDemos.Finish(10), 2);
    TempFolder folder;
    ChildProgram missing({"--library", (folder.path() / "missing").string(), "--db",
                          (folder.path() / "x.db").string(), "--listen", "127.0.0.1:0"});
    EXPECT_EQ(missing.Finish(10), 1);
}

}  // namespace
}  // namespace tessel::catalogue::testing
