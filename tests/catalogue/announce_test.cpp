// What a shared catalogue puts on the LAN (its TXT record and instance name, which every client
// reads), and the setting that shares it. The announcement itself is tested on two hosts made of
// network namespaces (tests/lan).
#include "announce.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <regex>

#include "catalogue_fixture.h"
#include "child_program.h"

namespace tessel::catalogue::testing {
namespace {

// RFC 6763: each string prefixed by its length, txtvers first; clients find the API by path.
TEST(Announcement, TxtRecordIsTxtversThenPathOnTheWire) {
    using namespace std::string_literals;
    EXPECT_EQ(ServiceTxtRecord(), "\x09txtvers=1\x0dpath=/tessel/"s);
}

// An instance name has at most 63 bytes of UTF-8 (RFC 6763); a long host name is cut, never
// in the middle of a character.
TEST(Announcement, InstanceNameIsReadableAndFitsDnsSd) {
    EXPECT_EQ(InstanceName("kitchen"), "Tessel on kitchen");
    EXPECT_EQ(InstanceName(std::string(80, 'x')), "Tessel on " + std::string(53, 'x'));
    std::string room;
    for (int i = 0; i < 20; ++i) room += "客厅";  // 3 bytes a character
    const std::string name = InstanceName(room);
    std::string expected = "Tessel on ";
    for (int i = 0; i < 17; ++i) expected += i % 2 == 0 ? "客" : "厅";
    EXPECT_EQ(name, expected);
    EXPECT_EQ(name.size(), 61u);
}

TEST(Announcement, ShareSettingTakesYesAndNoOnly) {
    for (const char* yes : {"yes", "YES", "Yes", "true", "1"}) {
        EXPECT_EQ(ReadShareSetting(yes), std::optional<bool>(true)) << yes;
    }
    for (const char* no : {"no", "NO", "false", "0", ""}) {
        EXPECT_EQ(ReadShareSetting(no), std::optional<bool>(false)) << no;
    }
    for (const char* neither : {"maybe", "yes ", "y", "on please"}) {
        EXPECT_EQ(ReadShareSetting(neither), std::nullopt) << neither;
    }
    // Sharing widens loopback to every IPv4 interface; an address the user chose stays.
    EXPECT_EQ(ShareListenHost("127.0.0.1"), "0.0.0.0");
    EXPECT_EQ(ShareListenHost("localhost"), "0.0.0.0");
    EXPECT_EQ(ShareListenHost("192.168.1.20"), "192.168.1.20");
}

// A setting that is neither yes nor no is named in the log, and the library stays on loopback.
// (Sharing itself would listen beyond loopback: that runs in the LAN tests' namespaces.)
TEST(Announcement, AnUnknownShareSettingSaysSoAndDoesNotShare) {
    TempFolder folder;
    const std::filesystem::path library = folder.path() / "library";
    ASSERT_TRUE(AddSong(library / "one.mp3", {"Only Song", "", ""}));
    ::setenv(kShareVariable, "maybe", 1);
    ChildProgram server({"--library", library.string(), "--db", (folder.path() / "i.db").string(),
                         "--listen", "127.0.0.1:0"});
    ::unsetenv(kShareVariable);
    ASSERT_TRUE(
        server.WaitForOutput(std::regex(R"(serving 1 songs on http://127\.0\.0\.1:\d+/\n)"), 30))
        << server.text();
    EXPECT_NE(server.text().find("TESSEL_CATALOGUE_SHARE=maybe is neither yes nor no"),
              std::string::npos)
        << server.text();
    EXPECT_EQ(server.text().find("avahi"), std::string::npos) << server.text();
    EXPECT_EQ(server.Finish(10, SIGTERM), 0);
}

}  // namespace
}  // namespace tessel::catalogue::testing
