// The kernel's system commands, through the program's wrappers: natively and under Wine.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "tessel/headless/headless.h"
#include "tessel/runtime/kernel.h"

namespace tessel {
namespace {

class SystemCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        headless::Install();
        dir_ = ProgramDirectory().c_str();
        // A file of each test's own: ctest runs the tests of this fixture at the same time.
        file_ = dir_ + kSeparator + "system_commands_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
        std::remove(file_.c_str());
    }
    void TearDown() override { std::remove(file_.c_str()); }

    std::string Contents() {
        std::ifstream in(file_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

#ifdef _WIN32
    static constexpr const char* kSeparator = "\\";
#else
    static constexpr const char* kSeparator = "/";
#endif
    std::string dir_, file_;
};

constexpr const char kSection[] = "\xB1\xA3\xB4\xE6\xC4\xBF\xC2\xBC";  // 保存目录
constexpr const char kKey[] = "\xB1\xA3\xB4\xE6";                      // 保存

TEST_F(SystemCommands, ProgramDirectoryHasNoTrailingSeparator) {
    ASSERT_FALSE(dir_.empty());
    EXPECT_NE(dir_.back(), kSeparator[0]);
    EXPECT_TRUE(FileExists(dir_.c_str()));
}

TEST_F(SystemCommands, SettingsRoundTripAsGbkBytes) {
    EXPECT_FALSE(FileExists(file_.c_str()));
    EXPECT_STREQ(ReadIni(file_.c_str(), kSection, kKey).c_str(), "");
    EXPECT_STREQ(ReadIni(file_.c_str(), kSection, kKey, "dflt").c_str(), "dflt");

    // A directory name with Chinese in it: 音乐 in GBK.
    const std::string value = "D:\\\xD2\xF4\xC0\xD6\\";
    ASSERT_TRUE(WriteIni(file_.c_str(), kSection, kKey, value.c_str()));
    EXPECT_TRUE(FileExists(file_.c_str()));
    EXPECT_EQ(Contents(), std::string("[") + kSection + "]\r\n" + kKey + "=" + value + "\r\n");
    EXPECT_EQ(ReadIni(file_.c_str(), kSection, kKey).view(), value);

    ASSERT_TRUE(WriteIni(file_.c_str(), kSection, kKey, "E:\\"));
    EXPECT_STREQ(ReadIni(file_.c_str(), kSection, kKey).c_str(), "E:\\");
}

// Earlier native builds stored a Linux save directory with the Windows "\\" at its end: the
// native runtime reads it as the Linux directory; every other value, and every value on
// Windows, reads as stored.
TEST_F(SystemCommands, ALinuxDirectoryEndedWithABackslashReadsWithASlashNatively) {
    const std::string music = "/home/user/\xD2\xF4\xC0\xD6";  // 音乐
    const std::string trail = "/home/user/\xF0\x5C";          // 癨: its second byte is 0x5C
    const std::pair<std::string, std::string> cases[] = {
        {"/home/user/Music\\", "/home/user/Music/"},
        {music + "\\", music + "/"},
        {trail + "\\", trail + "/"},
        {"/\\", "/"},
        {trail, trail},
        {"/home/user/Music/", "/home/user/Music/"},
        {"/home/a\\b", "/home/a\\b"},
        {"D:\\Music\\", "D:\\Music\\"},
        {"\\", "\\"},
    };
    for (const auto& [stored, native] : cases) {
        ASSERT_TRUE(WriteIni(file_.c_str(), kSection, kKey, stored.c_str()));
#ifdef _WIN32
        EXPECT_EQ(ReadIni(file_.c_str(), kSection, kKey).view(), stored);
#else
        EXPECT_EQ(ReadIni(file_.c_str(), kSection, kKey).view(), native) << stored;
#endif
        EXPECT_NE(Contents().find(stored), std::string::npos) << "the file keeps what was written";
    }
}

TEST_F(SystemCommands, AFailedWriteIsReportedAndCreatesNothing) {
    const std::string inMissingDir = dir_ + kSeparator + "no-such-dir" + kSeparator + "bc.ini";
    EXPECT_FALSE(WriteIni(inMissingDir.c_str(), kSection, kKey, "x"));
    EXPECT_FALSE(FileExists(inMissingDir.c_str()));
}

TEST_F(SystemCommands, FileExistsOfNothing) {
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists(nullptr));
}

}  // namespace
}  // namespace tessel
