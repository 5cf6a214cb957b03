// The program itself, run as `./tessel run` runs it: make the demo library, serve it, stop on
// SIGTERM. Every wait is bounded; a child that overstays is killed.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>
#include <set>

#include "catalogue_fixture.h"
#include "child_program.h"
#include "user_service.h"

namespace tessel::catalogue::testing {
namespace {

namespace fs = std::filesystem;

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

// A second service on the port of a running one ends at once, saying why, with the status the
// user unit does not restart on; the first goes on answering every request.
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
    ChildProgram second({"--library", library.string(), "--db", (folder.path() / "2.db").string(),
                         "--listen", "127.0.0.1:" + port});
    EXPECT_EQ(second.Finish(10), kExitPortTaken);
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
    ChildProgram noFolder({"--library"});
    EXPECT_EQ(noFolder.Finish(10), 2);
    ChildProgram emptyFolder({"--library", ""});
    EXPECT_EQ(emptyFolder.Finish(10), 2);
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
