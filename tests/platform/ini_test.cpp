// Settings files kept as GBK bytes.
#include "tessel/kernel/ini.h"

#include <gtest/gtest.h>

namespace tessel::platform {
namespace {

// [保存目录] / 保存 in GBK.
constexpr std::string_view kSection = "\xB1\xA3\xB4\xE6\xC4\xBF\xC2\xBC";
constexpr std::string_view kKey = "\xB1\xA3\xB4\xE6";

TEST(Ini, ANewFileHoldsTheSectionLineAndTheEntry) {
    EXPECT_EQ(IniUpdate("", kSection, kKey, "D:\\Music\\"),
              "[" + std::string(kSection) + "]\r\n" + std::string(kKey) + "=D:\\Music\\\r\n");
}

TEST(Ini, LookupFindsTheKeyOnlyInItsSection) {
    const std::string file = "[a]\r\nk=1\r\n[b]\r\nk = 2 \r\nx=3\n";
    EXPECT_EQ(IniLookup(file, "a", "k"), "1");
    EXPECT_EQ(IniLookup(file, "b", "k"), "2");
    EXPECT_EQ(IniLookup(file, "B", "K"), "2");  // ASCII names without regard to case
    EXPECT_EQ(IniLookup(file, "b", "x"), "3");
    EXPECT_FALSE(IniLookup(file, "a", "x"));
    EXPECT_FALSE(IniLookup(file, "c", "k"));
    EXPECT_FALSE(IniLookup("", "a", "k"));
    EXPECT_EQ(IniLookup("[a]\r\nk=\r\n", "a", "k"), "");  // present but empty is not absent
}

TEST(Ini, UpdateReplacesInPlaceAndKeepsEverythingElse) {
    const std::string file = "; note\r\n[a]\r\nk=1\r\nm=2\r\n\r\n[b]\r\nk=9\r\n";
    EXPECT_EQ(IniUpdate(file, "a", "k", "7"), "; note\r\n[a]\r\nk=7\r\nm=2\r\n\r\n[b]\r\nk=9\r\n");
    // A new key goes behind the section's last entry, not behind the blank line.
    EXPECT_EQ(IniUpdate(file, "a", "n", "3"),
              "; note\r\n[a]\r\nk=1\r\nm=2\r\nn=3\r\n\r\n[b]\r\nk=9\r\n");
    EXPECT_EQ(IniUpdate("[a]\r\nk=1", "b", "k", "2"), "[a]\r\nk=1\r\n[b]\r\nk=2\r\n");
    const std::string twice =
        IniUpdate(IniUpdate("", kSection, kKey, "C:\\a\\"), kSection, kKey, "C:\\b\\");
    EXPECT_EQ(IniLookup(twice, kSection, kKey), "C:\\b\\");
    EXPECT_EQ(twice.find("C:\\a\\"), std::string::npos);
}

}  // namespace
}  // namespace tessel::platform
