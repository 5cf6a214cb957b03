#include "tessel/app/safe_file_name.h"

#include <gtest/gtest.h>

#include <string>

namespace tessel {
namespace {

// GBK bytes of a few characters, two bytes each. 癨 (0xF0 0x5C) and 倈 (0x82 0x7C) carry a
// trail byte that alone would read as '\' and '|'.
const std::string kSong = "\xB8\xE8";            // 歌
const std::string kBackslashTrail = "\xF0\x5C";  // 癨
const std::string kBarTrail = "\x82\x7C";        // 倈

struct Case {
    const char* what;
    std::string stem;
    std::string expected;  // with ".mp3"
};

TEST(SafeFileName, ReplacesWhatWindowsRefusesAndKeepsDoubleByteCharactersWhole) {
    const Case cases[] = {
        {"plain", "Title_Singer", "Title_Singer.mp3"},
        {"every refused character", "a\\b/c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j.mp3"},
        {"control characters",
         std::string("a\tb\x01"
                     "c\x7F",
                     6),
         "a_b_c_.mp3"},
        {"a NUL inside", std::string("a\0b", 3), "a_b.mp3"},
        {"no way out of the directory", "..\\..\\Windows\\evil", ".._.._Windows_evil.mp3"},
        {"a drive in the name", "C:\\x", "C__x.mp3"},
        {"trailing dots and blanks", "name. . ", "name.mp3"},
        {"nothing left", " ..", "_.mp3"},
        {"empty", "", "_.mp3"},
        {"Chinese kept", kSong + "_" + kSong, kSong + "_" + kSong + ".mp3"},
        {"a trail byte like a backslash", kBackslashTrail + "\\", kBackslashTrail + "_.mp3"},
        {"a trail byte like a bar", kBarTrail + "|", kBarTrail + "_.mp3"},
        {"half a character at the end", "ab\xB8", "ab_.mp3"},
        {"a lead byte without its trail", "a\xB8 b", "a_ b.mp3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SafeFileName("D:\\Music\\", c.stem, ".mp3"), c.expected) << c.what;
    }
}

TEST(SafeFileName, DeviceNamesAreNeverUsedAlsoWithAnExtension) {
    const Case cases[] = {
        {"CON", "CON", "_CON.mp3"},
        {"lower case", "nul", "_nul.mp3"},
        {"with its own extension", "aux.txt", "_aux.txt.mp3"},
        {"a blank before the dot", "prn .txt", "_prn .txt.mp3"},
        {"COM1", "com1", "_com1.mp3"},
        {"LPT9", "LPT9", "_LPT9.mp3"},
        {"COM0 is a name", "COM0", "COM0.mp3"},
        {"longer names are names", "CONSOLE", "CONSOLE.mp3"},
        {"inside a name", "Song CON", "Song CON.mp3"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SafeFileName("D:\\", c.stem, ".mp3"), c.expected) << c.what;
}

TEST(SafeFileName, ALongNameIsCutSoTheWholePathFitsWithoutSplittingACharacter) {
    const std::string directory = "C:\\Users\\someone\\Music\\";
    const std::string stem(300, 'a');
    const std::string name = SafeFileName(directory, stem, ".mp3");
    EXPECT_EQ(directory.size() + name.size(), kLongestPath);
    EXPECT_EQ(name.substr(name.size() - 4), ".mp3");

    // Odd room for two-byte characters: the last one that does not fit goes whole.
    std::string chinese;
    for (int i = 0; i < 150; ++i) chinese += kSong;
    const std::string oddDirectory = directory + "x";
    const std::string cut = SafeFileName(oddDirectory, chinese, ".mp3");
    EXPECT_LE(oddDirectory.size() + cut.size(), kLongestPath);
    EXPECT_EQ(oddDirectory.size() + cut.size(), kLongestPath - 1);
    EXPECT_EQ((cut.size() - 4) % 2, 0u);
    EXPECT_EQ(cut.substr(0, 2), kSong);

    // A cut that ends on a dot or blank does not leave it at the end of the stem.
    const std::string dotted = std::string(kLongestPath - directory.size() - 4 - 1, 'a') + ". bbb";
    const std::string trimmed = SafeFileName(directory, dotted, ".mp3");
    EXPECT_EQ(trimmed, std::string(kLongestPath - directory.size() - 4 - 1, 'a') + ".mp3");

    // A directory that leaves no room still gives a name (the transfer then fails).
    EXPECT_EQ(SafeFileName(std::string(300, 'd'), "abc", ".mp3"), "a.mp3");
}

}  // namespace
}  // namespace tessel
