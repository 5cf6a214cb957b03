// Code-page conversion and percent encoding, against the system's code-page functions.
#include "tessel/http/code_pages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "recording_services.h"
#include "runtime_errors.h"
#include "tessel/headless/headless.h"
#include "tessel/http/url_encode.h"
#include "tessel/runtime/dll_commands.h"

namespace tessel {
namespace {

class CodePages : public ::testing::Test {
  protected:
    void SetUp() override { headless::Install(); }
};

TEST_F(CodePages, ChineseAsciiAndEmptyBothWays) {
    EXPECT_STREQ(GbkToUtf8("\xD6\xD0").c_str(), "\xE4\xB8\xAD");  // 中
    EXPECT_STREQ(Utf8ToGbk("\xE4\xB8\xAD").c_str(), "\xD6\xD0");
    EXPECT_STREQ(GbkToUtf8("plain ASCII ~!").c_str(), "plain ASCII ~!");
    EXPECT_STREQ(Utf8ToGbk("plain ASCII ~!").c_str(), "plain ASCII ~!");
    EXPECT_STREQ(GbkToUtf8("").c_str(), "");
    EXPECT_STREQ(Utf8ToGbk("").c_str(), "");
    EXPECT_STREQ(GbkToUtf8(nullptr).c_str(), "");
}

TEST_F(CodePages, CharactersGbkLacksBecomeQuestionMarks) {
    // An emoji is two UTF-16 units; each unit the code page lacks becomes one '?'.
    EXPECT_STREQ(Utf8ToGbk("a\xF0\x9F\x98\x80"
                           "b")
                     .c_str(),
                 "a??b");
    EXPECT_STREQ(Utf8ToGbk("\xC3\xA9").c_str(), "\xA8\xA6");  // é exists in GBK
}

TEST_F(CodePages, Utf16HoldsTheTerminatorAndStopsAtTheFirstZero) {
    const ByteArray utf16 = TextToUtf16(
        "\xD6\xD0"
        "a",
        code_page::kGbk);
    ASSERT_EQ(utf16.size(), 6u);
    EXPECT_EQ(std::string(utf16.view()), std::string("\x2D\x4E"
                                                     "a\0\0\0",
                                                     6));
    const std::uint8_t units[] = {'x', 0, 0, 0, 'y', 0, 0, 0};
    const ByteArray block = ByteArray::Copy(units, sizeof units);
    EXPECT_STREQ(Utf16ToText(block.get(), code_page::kUtf8).c_str(), "x");
    // A block without a zero unit is converted whole, never read past its end.
    const ByteArray open = ByteArray::Copy(units, 2);
    EXPECT_STREQ(Utf16ToText(open.get(), code_page::kUtf8).c_str(), "x");
    EXPECT_STREQ(Utf16ToText(nullptr).c_str(), "");
}

TEST_F(CodePages, LongChineseTextFitsItsMeasuredBuffer) {
    // Sizes are measured in the code page converted to: 1000 characters of three UTF-8 bytes.
    std::string gbk;
    for (int i = 0; i < 1000; ++i) gbk += "\xD6\xD0";
    std::string utf8;
    for (int i = 0; i < 1000; ++i) utf8 += "\xE4\xB8\xAD";
    EXPECT_EQ(GbkToUtf8(gbk.c_str()).view(), utf8);
    EXPECT_EQ(Utf8ToGbk(utf8.c_str()).view(), gbk);
}

TEST_F(CodePages, EveryMappedGbkCharacterSurvivesTheRoundTrip) {
    int mapped = 0;
    std::string failures;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) continue;
            const char gbk[] = {static_cast<char>(lead), static_cast<char>(trail), 0};
            const ByteArray utf16 = TextToUtf16(gbk, code_page::kGbk);
            if (utf16.size() != 4) continue;
            const unsigned unit = utf16.data()[0] | (utf16.data()[1] << 8);
            if (unit == '?' || unit == 0xFFFD || unit == 0x30FB) continue;  // no Unicode form
            ++mapped;
            const Text back = Utf8ToGbk(GbkToUtf8(gbk).get());
            if (back.view() != std::string_view(gbk, 2) && failures.size() < 200) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "%02X%02X ", lead, trail);
                failures += buf;
            }
        }
    }
    EXPECT_GT(mapped, 21000);
    EXPECT_EQ(failures, "");
}

// The code-page functions themselves, called as the program calls them: natively the stand-ins
// must answer exactly as Windows does.
std::int32_t MultiByteToWideChar(std::int32_t cp, const char* text, std::int32_t length,
                                 std::uint16_t* out, std::int32_t outUnits) {
    const Word args[] = {static_cast<std::uint32_t>(cp), 0,
                         reinterpret_cast<Word>(text),   static_cast<std::uint32_t>(length),
                         reinterpret_cast<Word>(out),    static_cast<std::uint32_t>(outUnits)};
    return static_cast<std::int32_t>(CallDll(dll::kMultiByteToWideChar, args));
}
std::int32_t WideCharToMultiByte(std::int32_t cp, const std::uint16_t* units, std::int32_t count,
                                 char* out, std::int32_t outBytes) {
    const Word args[] = {static_cast<std::uint32_t>(cp),
                         0,
                         reinterpret_cast<Word>(units),
                         static_cast<std::uint32_t>(count),
                         reinterpret_cast<Word>(out),
                         static_cast<std::uint32_t>(outBytes),
                         0,
                         0};
    return static_cast<std::int32_t>(CallDll(dll::kWideCharToMultiByte, args));
}

TEST_F(CodePages, TheSystemFunctionsAnswerAsWindowsDoes) {
    std::uint16_t units[8] = {};
    EXPECT_EQ(MultiByteToWideChar(936, "\xD6\xD0", -1, nullptr, 0), 2);  // terminator counted
    EXPECT_EQ(MultiByteToWideChar(936, "\xD6\xD0", -1, units, 1), 0);    // does not fit
    EXPECT_EQ(MultiByteToWideChar(936, "\xD6\xD0", -1, units, 8), 2);
    EXPECT_EQ(units[0], 0x4E2D);
    EXPECT_EQ(units[1], 0);
    EXPECT_EQ(MultiByteToWideChar(65001, "ab", 2, units, 8), 2);  // no terminator when counted
    EXPECT_EQ(MultiByteToWideChar(65001, "\xE4\xB8\xAD", -1, units, 8), 2);
    EXPECT_EQ(units[0], 0x4E2D);

    const std::uint16_t text[] = {0x4E2D, 0xD83D, 0xDE00, 'x', 0};
    char bytes[16] = {};
    EXPECT_EQ(WideCharToMultiByte(936, text, -1, nullptr, 0), 6);
    EXPECT_EQ(WideCharToMultiByte(936, text, -1, bytes, 5), 0);
    EXPECT_EQ(WideCharToMultiByte(936, text, -1, bytes, sizeof bytes), 6);
    EXPECT_EQ(std::string(bytes, 6), std::string("\xD6\xD0??x\0", 6));
    EXPECT_EQ(WideCharToMultiByte(65001, text, -1, nullptr, 0), 9);
    EXPECT_EQ(WideCharToMultiByte(65001, text, 1, bytes, sizeof bytes), 3);
}

TEST_F(CodePages, PercentEncoding) {
    EXPECT_STREQ(UrlEncode("ab", false, true).c_str(), "%61%62");
    EXPECT_STREQ(UrlEncode("\xD6\xD0").c_str(), "%D6%D0");
    EXPECT_STREQ(UrlEncode("\xA8\xA6", false, true).c_str(), "%C3%A9");
    EXPECT_STREQ(UrlEncode("a b-1.x/y", true).c_str(), "a%20b-1.x%2Fy");
    EXPECT_STREQ(UrlEncode("\t").c_str(), "%09");
    EXPECT_STREQ(UrlEncode("_~AZaz09", true).c_str(), "%5F%7EAZaz09");
    EXPECT_STREQ(UrlEncode("").c_str(), "");
    EXPECT_STREQ(UrlEncode(nullptr, true, true).c_str(), "");
    EXPECT_STREQ(UrlEncode("\xD6\xD0 1", true, true).c_str(), "%E4%B8%AD%201");
}

}  // namespace
}  // namespace tessel

// --- the calls, through the recording double -------------------------------------------------

namespace tessel {
namespace {

// Answers every code-page call with 3 units or bytes (`measured` for a measuring MultiByteTo-
// WideChar), writing them when a buffer is given.
testing::RecordingServices::DllHandler ThreeOfEach(std::uint32_t measured = 3) {
    return [measured](std::uint32_t index, const std::vector<Word>& a) -> Word {
        const bool toUtf16 = index == dll::kMultiByteToWideChar;
        if (a[4] == 0) return toUtf16 ? measured : 3;
        std::memset(reinterpret_cast<void*>(a[4]), 'x', toUtf16 ? 6 : 3);
        return 3;
    };
}

TEST(CodePageCalls, EachSizeIsMeasuredInTheCodePageConvertedTo) {
    testing::RecordingServices r;
    r.onDll = ThreeOfEach();
    GbkToUtf8("abc");
    Utf8ToGbk("abc");
    // Measuring calls give no buffer: (command, code page) of each.
    std::vector<std::pair<Word, Word>> measuring;
    for (const auto& c : r.calls) {
        if (c.slot == slot::kDllCommand && c.words[5] == 0)
            measuring.emplace_back(c.words[0], c.words[1]);
    }
    using P = std::pair<Word, Word>;
    EXPECT_EQ(measuring, (std::vector<P>{{dll::kMultiByteToWideChar, code_page::kGbk},
                                         {dll::kWideCharToMultiByte, code_page::kUtf8},
                                         {dll::kMultiByteToWideChar, code_page::kUtf8},
                                         {dll::kWideCharToMultiByte, code_page::kGbk}}));
}

TEST(CodePageCalls, AMeasuredSizeNoBlockCanStateIsOutOfMemory) {
    testing::RecordingServices r;
    // 0x7FFFFFFC units are 0xFFFFFFF8 bytes: with the block's 8-byte header, one byte over.
    r.onDll = ThreeOfEach(0x7FFFFFFCu);
    EXPECT_EQ(testing::CatchRuntimeError(r, [] { TextToUtf16("abc", code_page::kGbk); }),
              runtime_error::kOutOfMemory);
}

}  // namespace
}  // namespace tessel
