// Music folders as older Chinese collections are: GBK bytes in tags marked ISO-8859-1, in ID3v1
// tags and in file and folder names, beside true Latin-1 tags; and the setting that chooses how
// they are read.
#include "legacy_text.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "catalogue_fixture.h"
#include "legacy_demo.h"
#include "search_text.h"

namespace tessel::catalogue::testing {
namespace {

namespace fs = std::filesystem;

// GBK (code page 936) spellings of the texts the tests use.
constexpr std::string_view kOldSongGbk = "\xC0\xCF\xB8\xE8\xD0\xC2\xB3\xAA";  // 老歌新唱
constexpr std::string_view kOldiesGbk = "\xBB\xB3\xBE\xC9\xBD\xF0\xC7\xFA";   // 怀旧金曲
constexpr std::string_view kOldGbk = "\xC0\xCF\xB8\xE8";                      // 老歌

struct DecodeCase {
    std::string bytes;
    std::string autoText;
    std::string gbkText;
    std::string latin1Text;
};

TEST(CatalogueLegacyText, TagTextsAreGbkWhenTheyReadAsChineseElseLatin1) {
    const std::vector<DecodeCase> cases = {
        {"Plain ASCII", "Plain ASCII", "Plain ASCII", "Plain ASCII"},
        {std::string(kOldSongGbk), "老歌新唱", "老歌新唱", "ÀÏ¸èÐÂ³ª"},
        {"Love " + std::string(kOldGbk), "Love 老歌", "Love 老歌", "Love ÀÏ¸è"},
        // É before a blank pairs with nothing: not GBK in any setting.
        {"Caf\xE9 au lait", "Café au lait", "Café au lait", "Café au lait"},
        {"Zo\xE9", "Zoé", "Zoé", "Zoé"},
        // Valid GBK, but only as high bytes before ASCII letters: ambiguous.
        {"Matin\xE9"
         "e",
         "Matinée", "Matin閑", "Matinée"},
        {"M\xFCller", "Müller", "M黮ler", "Müller"},
        // An ID3v1 field cut at 30 bytes in the middle of a character.
        {"A" + std::string(kOldSongGbk.substr(0, 7)), "A老歌新", "A老歌新", "AÀÏ¸èÐÂ³"},
        // A byte that pairs with nothing makes the whole text Latin-1.
        {std::string(kOldGbk) + "\xFF!", "ÀÏ¸èÿ!", "ÀÏ¸èÿ!", "ÀÏ¸èÿ!"},
        {std::string(kOldGbk) + std::string(1, '\0') + "junk", "老歌", "老歌", "ÀÏ¸è"},
    };
    for (const DecodeCase& c : cases) {
        EXPECT_EQ(DecodeLegacyTagText(c.bytes, LegacyEncoding::kAuto), c.autoText) << c.bytes;
        EXPECT_EQ(DecodeLegacyTagText(c.bytes, LegacyEncoding::kGbk), c.gbkText) << c.bytes;
        EXPECT_EQ(DecodeLegacyTagText(c.bytes, LegacyEncoding::kLatin1), c.latin1Text) << c.bytes;
    }
}

// Real Latin-1 words with two accented letters side by side are valid GBK with both bytes high;
// they stay Latin-1 under auto. Chinese text whose GBK bytes happen to be UTF-8 of two-byte
// characters (状态) stays Chinese; UTF-8 of Chinese in a field marked Latin-1 is read as UTF-8.
TEST(CatalogueLegacyText, LatinWordsStayLatinAndUtf8InALatinFieldIsUtf8) {
    const std::vector<std::pair<std::string, std::string>> autoCases = {
        {"Cora\xE7\xE3o", "Coração"},
        {"Can\xE7\xF5"
         "es",
         "Canções"},
        {"Informa\xE7\xE3o", "Informação"},
        {"Gr\xF6\xDF"
         "e",
         "Größe"},
        {"Ib\xE1\xF1"
         "ez",
         "Ibáñez"},
        {"\xC6\xF0"
         "isgengi\xF0",
         "Æðisgengið"},
        {"\xD7\xB4\xCC\xAC", "状态"},
        {"\xE6\x98\xA5\xE5\xA4\xA9\xE7\x9A\x84\xE6\x95\x85\xE4\xBA\x8B", "春天的故事"},
    };
    for (const auto& [bytes, text] : autoCases) {
        EXPECT_EQ(DecodeLegacyTagText(bytes, LegacyEncoding::kAuto), text) << text;
    }
    EXPECT_EQ(DecodeLegacyTagText(autoCases.back().first, LegacyEncoding::kGbk), "春天的故事");
}

// Big5 (Taiwan, Hong Kong) is read only when the setting asks for it: its bytes are GBK-shaped.
TEST(CatalogueLegacyText, Big5IsReadWhenTheSettingSaysSo) {
    const std::string singer = "\xA9\x50\xAA\x4E\xAD\xDB \xB7\x52\xB1\xA1";
    EXPECT_EQ(DecodeLegacyTagText(singer, LegacyEncoding::kBig5), "周杰倫 愛情");
    EXPECT_NE(DecodeLegacyTagText(singer, LegacyEncoding::kAuto), "周杰倫 愛情");
    EXPECT_EQ(DecodeFileName(singer, LegacyEncoding::kBig5), "周杰倫 愛情");
    EXPECT_EQ(DecodeLegacyTagText("Caf\xE9 au lait", LegacyEncoding::kBig5), "Café au lait");
    EXPECT_EQ(ParseLegacyEncoding("big5"), LegacyEncoding::kBig5);
    EXPECT_STREQ(LegacyEncodingName(LegacyEncoding::kBig5), "big5");
}

TEST(CatalogueLegacyText, FileNamesThatAreNotUtf8AreGbkWhereTheyCanBe) {
    const std::string replacement = "\xEF\xBF\xBD";
    const std::vector<DecodeCase> cases = {
        // UTF-8 names are never touched, although "é" in UTF-8 (C3 A9) is valid GBK too.
        {"Caf\xC3\xA9", "Café", "Café", "Café"},
        {"中文", "中文", "中文", "中文"},
        {std::string(kOldGbk), "老歌", "老歌", ToValidUtf8(kOldGbk)},
        {std::string(kOldGbk) + "\xFF", "老歌" + replacement, "老歌" + replacement,
         ToValidUtf8(std::string(kOldGbk) + "\xFF")},
        {"M\xFCller", "M" + replacement + "ller", "M黮ler", "M" + replacement + "ller"},
    };
    for (const DecodeCase& c : cases) {
        EXPECT_EQ(DecodeFileName(c.bytes, LegacyEncoding::kAuto), c.autoText) << c.bytes;
        EXPECT_EQ(DecodeFileName(c.bytes, LegacyEncoding::kGbk), c.gbkText) << c.bytes;
        EXPECT_EQ(DecodeFileName(c.bytes, LegacyEncoding::kLatin1), c.latin1Text) << c.bytes;
    }
    EXPECT_EQ(ParseLegacyEncoding("gbk"), LegacyEncoding::kGbk);
    EXPECT_EQ(ParseLegacyEncoding("GBK"), std::nullopt);
    EXPECT_STREQ(LegacyEncodingName(LegacyEncoding::kLatin1), "latin1");
}

// Percent-escapes every byte but ASCII letters and digits.
std::string Escaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) && byte < 0x80) {
            out += c;
        } else {
            out += {'%', kHex[byte >> 4], kHex[byte & 15]};
        }
    }
    return out;
}

struct Song {
    std::string id;
    std::string title;
    std::string author;
    std::string album;
    std::string collection;
    bool operator==(const Song&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Song& song) {
    return out << song.id << " " << song.title << " / " << song.author << " / " << song.album
               << " in " << song.collection;
}

// Every song of every collection, by id, as the API lists them.
std::map<std::string, Song> ListedSongs(RunningCatalogue& catalogue) {
    std::map<std::string, Song> songs;
    const std::optional<JsonValue> collections = catalogue.GetJson("/tessel/music/collections/");
    EXPECT_TRUE(collections);
    if (!collections) return songs;
    for (const JsonValue& collection : (*collections)["data"].items) {
        const std::optional<JsonValue> listing = catalogue.GetJson(
            "/tessel/music/collections/" + collection["id_str"].text + "/songs/?count=100");
        EXPECT_TRUE(listing);
        if (!listing) continue;
        for (const JsonValue& song : (*listing)["data"].items) {
            songs[song["id_str"].text] = {song["id_str"].text, song["title"].text,
                                          song["author"].text, song["album"].text,
                                          collection["name"].text};
        }
    }
    return songs;
}

std::vector<Song> SortedByTitle(const std::map<std::string, Song>& songs) {
    std::vector<Song> sorted;
    for (const auto& [id, song] : songs) sorted.push_back(song);
    std::sort(sorted.begin(), sorted.end(),
              [](const Song& a, const Song& b) { return a.title < b.title; });
    return sorted;
}

std::vector<std::string> SearchTitles(RunningCatalogue& catalogue, std::string_view keyword) {
    const std::optional<JsonValue> answer =
        catalogue.GetJson("/tessel/song/search/?q=" + Escaped(keyword) + "&count=100");
    EXPECT_TRUE(answer) << keyword;
    if (!answer) return {};
    std::vector<std::string> titles = Titles(*answer);
    std::sort(titles.begin(), titles.end());
    return titles;
}

class CatalogueLegacyLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(MakeLegacyDemoLibrary(library_, error)) << error;
        // An ID3v1 title of 33 bytes, cut to 30 in the middle of a character.
        const fs::path untagged = folder_.path() / "untagged.mp3";
        ASSERT_TRUE(AddSong(untagged, {}));
        std::string longTitle = "1";
        for (int i = 0; i < 4; ++i) longTitle += std::string(kOldSongGbk);
        ASSERT_TRUE(WriteLegacyTaggedFile(library_ / std::string(kOldiesGbk) / "04.mp3", untagged,
                                          {}, {longTitle, "", ""}, error))
            << error;
    }

    std::unique_ptr<RunningCatalogue> Start(LegacyEncoding encoding) {
        auto catalogue = std::make_unique<RunningCatalogue>(library_, folder_.path() / "index.db",
                                                            ScanOptions{encoding});
        EXPECT_TRUE(catalogue->ok());
        return catalogue;
    }

    TempFolder folder_;
    const fs::path library_ = folder_.path() / "library";
};

TEST_F(CatalogueLegacyLibraryTest, GbkTagsAndNamesComeOutAsChineseAndAreFound) {
    std::unique_ptr<RunningCatalogue> catalogue = Start(LegacyEncoding::kAuto);
    ASSERT_TRUE(catalogue->ok());
    EXPECT_EQ(catalogue->report().added, 6);
    std::vector<Song> songs = SortedByTitle(ListedSongs(*catalogue));
    for (Song& song : songs) song.id.clear();
    const std::vector<Song> expected = {
        {"", "1老歌新唱老歌新唱老歌新唱老歌", "", "", "怀旧金曲"},  // ID3v1, cut
        {"", "Café au lait", "Zoé", "Matinée", "Chansons"},         // true Latin-1 stays Latin-1
        {"", "小城故事", "无名歌手", "经典老歌", "怀旧金曲"},       // ID3v2.3 and ID3v1
        {"", "甜蜜的歌", "小丽", "经典老歌", "怀旧金曲"},           // ID3v1 only
        {"", "老歌", "", "", "怀旧金曲"},                           // GBK file name, no tags
        {"", "老歌新唱", "无名歌手", "经典老歌", "怀旧金曲"},       // ID3v2.3
    };
    EXPECT_EQ(songs, expected);

    EXPECT_EQ(SearchTitles(*catalogue, "甜蜜"), std::vector<std::string>{"甜蜜的歌"});
    EXPECT_EQ(SearchTitles(*catalogue, "歌手"), (std::vector<std::string>{"小城故事", "老歌新唱"}));
    EXPECT_EQ(SearchTitles(*catalogue, "小丽"), std::vector<std::string>{"甜蜜的歌"});
    EXPECT_EQ(SearchTitles(*catalogue, "新唱 1"),
              std::vector<std::string>{"1老歌新唱老歌新唱老歌新唱老歌"});
    // 老歌 is in the titles of two songs and the album of three.
    EXPECT_EQ(SearchTitles(*catalogue, "老歌").size(), 5u);
    EXPECT_EQ(SearchTitles(*catalogue, "matinée"), std::vector<std::string>{"Café au lait"});

    // The file with the GBK name is still served from its raw name.
    const std::optional<JsonValue> found =
        catalogue->GetJson("/tessel/song/search/?q=" + Escaped("老歌") + "&count=100");
    ASSERT_TRUE(found);
    for (const JsonValue& song : (*found)["data"].items) {
        if (song["title"].text != "老歌") continue;
        const httplib::Result media = catalogue->Get("/media/" + song["id_str"].text + ".mp3");
        ASSERT_TRUE(media);
        EXPECT_EQ(media->status, 200);
        EXPECT_EQ(media->body.size(), fs::file_size(library_ / std::string(kOldiesGbk) /
                                                    (std::string(kOldGbk) + ".mp3")));
    }
}

TEST_F(CatalogueLegacyLibraryTest, TheSettingDecidesAndAChangeReadsEveryFileAgain) {
    std::map<std::string, Song> latin1;
    {
        std::unique_ptr<RunningCatalogue> catalogue = Start(LegacyEncoding::kLatin1);
        latin1 = ListedSongs(*catalogue);
    }
    // Today's texts: GBK bytes shown as Latin-1, GBK names with replacement characters.
    std::map<std::string, std::string> latin1Titles;
    for (const auto& [id, song] : latin1) latin1Titles[song.title] = song.collection;
    const std::string oldiesAsBefore = ToValidUtf8(kOldiesGbk);
    EXPECT_EQ(latin1Titles, (std::map<std::string, std::string>{
                                {"1ÀÏ¸èÐÂ³ªÀÏ¸èÐÂ³ªÀÏ¸èÐÂ³ªÀÏ¸èÐ", oldiesAsBefore},
                                {"Café au lait", "Chansons"},
                                {"Ð¡³Ç¹ÊÊÂ", oldiesAsBefore},
                                {ToValidUtf8(kOldGbk), oldiesAsBefore},
                                {"ÀÏ¸èÐÂ³ª", oldiesAsBefore},
                                {"ÌðÃÛµÄ¸è", oldiesAsBefore},
                            }));

    // An index made before the setting existed was read as Latin-1: nothing to read again.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((folder_.path() / "index.db").c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, "DROP TABLE index_settings", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        std::unique_ptr<RunningCatalogue> catalogue = Start(LegacyEncoding::kLatin1);
        EXPECT_EQ(catalogue->report().unchanged, 6);
        EXPECT_EQ(ListedSongs(*catalogue), latin1);
    }
    // Another setting reads every file again, keeping the ids; the folder's name follows.
    std::map<std::string, Song> automatic;
    {
        std::unique_ptr<RunningCatalogue> catalogue = Start(LegacyEncoding::kAuto);
        EXPECT_EQ(catalogue->report().changed, 6);
        EXPECT_EQ(catalogue->report().added, 0);
        automatic = ListedSongs(*catalogue);
        ASSERT_EQ(automatic.size(), 6u);
        for (const auto& [id, song] : latin1) {
            ASSERT_EQ(automatic.count(id), 1u);
            EXPECT_EQ(automatic[id].collection,
                      song.title == "Café au lait" ? "Chansons" : "怀旧金曲");
        }
        EXPECT_EQ(SearchTitles(*catalogue, "ÀÏ¸è"), std::vector<std::string>{});
        EXPECT_EQ(SearchTitles(*catalogue, "甜蜜"), std::vector<std::string>{"甜蜜的歌"});
    }
    // gbk takes even the ambiguous "Matinée" (E9 65) as GBK; the rest reads as with auto.
    {
        std::unique_ptr<RunningCatalogue> catalogue = Start(LegacyEncoding::kGbk);
        EXPECT_EQ(catalogue->report().changed, 6);
        std::map<std::string, Song> gbk = ListedSongs(*catalogue);
        for (auto& [id, song] : automatic) {
            if (song.album == "Matinée") song.album = "Matin閑";
        }
        EXPECT_EQ(gbk, automatic);
    }
    {
        std::unique_ptr<RunningCatalogue> catalogue = Start(LegacyEncoding::kGbk);
        EXPECT_EQ(catalogue->report().unchanged, 6);
    }
}

// The real upgrade: an index made before the setting existed, opened with the default auto,
// reads every file again (ids kept) and the GBK texts come out as Chinese.
TEST_F(CatalogueLegacyLibraryTest, AnIndexFromBeforeTheSettingIsReadAgainUnderAuto) {
    std::map<std::string, Song> before;
    {
        std::unique_ptr<RunningCatalogue> catalogue = Start(LegacyEncoding::kLatin1);
        before = ListedSongs(*catalogue);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder_.path() / "index.db").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "DROP TABLE index_settings", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    std::unique_ptr<RunningCatalogue> catalogue = Start(LegacyEncoding::kAuto);
    EXPECT_EQ(catalogue->report().changed, 6);
    EXPECT_EQ(catalogue->report().added, 0);
    const std::map<std::string, Song> after = ListedSongs(*catalogue);
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [id, song] : before) EXPECT_EQ(after.count(id), 1u);
    EXPECT_EQ(SearchTitles(*catalogue, "甜蜜"), std::vector<std::string>{"甜蜜的歌"});
}

// Songs directly in a library whose own folder name is GBK form a collection named in Chinese.
TEST(CatalogueLegacyLibrary, TheLibraryFolderNameIsDecodedToo) {
    TempFolder folder;
    const fs::path library = folder.path() / std::string(kOldiesGbk);
    ASSERT_TRUE(AddSong(library / "one.mp3", {"One", "", ""}));
    RunningCatalogue catalogue(library, folder.path() / "index.db",
                               ScanOptions{LegacyEncoding::kAuto});
    ASSERT_TRUE(catalogue.ok());
    const std::optional<JsonValue> collections = catalogue.GetJson("/tessel/music/collections/");
    ASSERT_TRUE(collections);
    ASSERT_EQ((*collections)["data"].size(), 1u);
    EXPECT_EQ((*collections)["data"][0]["name"].text, "怀旧金曲");
}

// An APEv2 tag of items (key, value) and footer, as older Chinese taggers wrote it.
std::string ApeTag(const std::vector<std::pair<std::string, std::string>>& items) {
    auto word = [](uint32_t value) {
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
        return bytes;
    };
    std::string body;
    for (const auto& [key, value] : items) {
        body += word(static_cast<uint32_t>(value.size())) + word(0) + key + '\0' + value;
    }
    return body + "APETAGEX" + word(2000) + word(static_cast<uint32_t>(body.size() + 32)) +
           word(static_cast<uint32_t>(items.size())) + word(0) + std::string(8, '\0');
}

// GBK bytes in an APE tag (meant to be UTF-8) are read like a field marked ISO-8859-1.
TEST(CatalogueLegacyLibrary, GbkInAnApeTagKeepsItsSingerAndAlbum) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    ASSERT_TRUE(AddSong(library / "ape.mp3", {}));
    {
        std::ofstream out(library / "ape.mp3", std::ios::binary | std::ios::app);
        out << ApeTag({{"Title", std::string(kOldSongGbk)},
                       {"Artist", std::string(kOldGbk)},
                       {"Album", std::string(kOldiesGbk)}});
    }
    RunningCatalogue catalogue(library, folder.path() / "index.db",
                               ScanOptions{LegacyEncoding::kAuto});
    ASSERT_TRUE(catalogue.ok());
    const std::optional<JsonValue> found =
        catalogue.GetJson("/tessel/song/search/?q=" + Escaped("新唱"));
    ASSERT_TRUE(found);
    ASSERT_EQ((*found)["data"].size(), 1u);
    EXPECT_EQ((*found)["data"][0]["title"].text, "老歌新唱");
    EXPECT_EQ((*found)["data"][0]["author"].text, "老歌");
    EXPECT_EQ((*found)["data"][0]["album"].text, "怀旧金曲");
}

}  // namespace
}  // namespace tessel::catalogue::testing
