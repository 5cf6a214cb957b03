// The web API as the program sees it: answer shapes, paging, keyword search, media with Range,
// and the answers to bad input.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <set>

#include "catalogue_fixture.h"

namespace tessel::catalogue::testing {
namespace {

namespace fs = std::filesystem;

std::string FileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CatalogueApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path library = folder_.path() / "library";
        ASSERT_TRUE(AddSong(library / "华语" / "01.mp3", {"雨中的歌", "林小雨", "华语精选"}));
        ASSERT_TRUE(AddSong(library / "华语" / "02.mp3", {"风中的信", "周晓峰", "华语精选"}));
        ASSERT_TRUE(AddSong(library / "华语" / "03.mp3", {"海边", "中岛", "Blue Album"}));
        ASSERT_TRUE(AddSong(library / "Night" / "01.mp3", {"Midnight Highway", "Mira Stone", ""}));
        ASSERT_TRUE(AddSong(library / "Night" / "02.mp3", {"Neon \"Rain\"", "Leo Park", "Night"}));
        ASSERT_TRUE(AddSong(library / "loose.mp3", {"Loose Song", "", ""}));
        catalogue_ = std::make_unique<RunningCatalogue>(library, folder_.path() / "index.db");
        ASSERT_TRUE(catalogue_->ok());
    }

    std::vector<std::string> Search(const std::string& encodedKeyword) {
        const std::optional<JsonValue> answer = catalogue_->GetJson(
            "/tessel/song/search/?q=" + encodedKeyword + "&type=video&count=20&offset=0");
        EXPECT_TRUE(answer) << encodedKeyword;
        return answer ? Titles(*answer) : std::vector<std::string>{};
    }

    TempFolder folder_;
    std::unique_ptr<RunningCatalogue> catalogue_;
};

TEST_F(CatalogueApiTest, SearchAnswerCarriesWhatTheProgramReads) {
    // 中 (U+4E2D), as the program sends it.
    const std::optional<JsonValue> answer =
        catalogue_->GetJson("/tessel/song/search/?q=%E4%B8%AD&type=video&count=20&offset=0");
    ASSERT_TRUE(answer);
    const JsonValue& data = (*answer)["data"];
    ASSERT_EQ(data.kind, JsonValue::Kind::kArray);
    ASSERT_EQ(data.size(), 3u);  // two titles and one singer hold 中
    const JsonValue& song = data[0];
    EXPECT_EQ(song["title"].text, "雨中的歌");
    EXPECT_EQ(song["author"].text, "林小雨");
    ASSERT_EQ(song["duration"].kind, JsonValue::Kind::kNumber);
    EXPECT_EQ(song["duration"].number, 1);
    const JsonValue& urls = song["play_url"]["url_list"];
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_EQ(urls[0].text, "http://127.0.0.1:" + std::to_string(catalogue_->port()) + "/media/" +
                                song["id_str"].text + ".mp3");
    EXPECT_EQ((*answer)["has_more"].boolean, false);

    // The audio behind the address is the file itself.
    const httplib::Result media = catalogue_->Get(urls[0].text.substr(urls[0].text.find("/media")));
    ASSERT_TRUE(media);
    EXPECT_EQ(media->status, 200);
    EXPECT_EQ(media->get_header_value("Content-Type"), "audio/mpeg");
    EXPECT_EQ(media->body, FileBytes(folder_.path() / "library" / "华语" / "01.mp3"));
}

TEST_F(CatalogueApiTest, AddressesUseTheHostTheRequestCameTo) {
    const httplib::Result result =
        catalogue_->Get("/tessel/song/search/?q=rain", {{"Host", "music.example:8080"}});
    ASSERT_TRUE(result);
    const std::optional<JsonValue> answer = ParseJson(result->body);
    ASSERT_TRUE(answer);
    ASSERT_EQ((*answer)["data"].size(), 1u);
    const JsonValue& song = (*answer)["data"][0];
    EXPECT_EQ(song["title"].text, "Neon \"Rain\"");  // quotes survive the JSON text
    EXPECT_EQ(song["play_url"]["url_list"][0].text,
              "http://music.example:8080/media/" + song["id_str"].text + ".mp3");
}

TEST_F(CatalogueApiTest, CollectionsAreFoldersAndListTheirSongs) {
    const std::optional<JsonValue> answer = catalogue_->GetJson("/tessel/music/collections/");
    ASSERT_TRUE(answer);
    std::map<std::string, std::string> ids;
    for (const JsonValue& collection : (*answer)["data"].items) {
        ids[collection["name"].text] = collection["id_str"].text;
    }
    ASSERT_EQ(ids.size(), 3u);
    ASSERT_TRUE(ids.count("华语") && ids.count("Night") && ids.count("library"));

    const std::optional<JsonValue> songs = catalogue_->GetJson(
        "/tessel/music/collections/" + ids["华语"] + "/songs/?count=20&offset=0");
    ASSERT_TRUE(songs);
    EXPECT_EQ(Titles(*songs), (std::vector<std::string>{"雨中的歌", "风中的信", "海边"}));
    const std::optional<JsonValue> loose =
        catalogue_->GetJson("/tessel/music/collections/" + ids["library"] + "/songs/");
    ASSERT_TRUE(loose);
    EXPECT_EQ(Titles(*loose), std::vector<std::string>{"Loose Song"});
}

TEST_F(CatalogueApiTest, KeywordsMatchSubstringsOfTitleSingerAndAlbum) {
    using Titles = std::vector<std::string>;
    EXPECT_EQ(Search("%E9%9B%A8"), Titles{"雨中的歌"});                             // 雨
    EXPECT_EQ(Search("%E4%B8%AD%E7%9A%84"), (Titles{"雨中的歌", "风中的信"}));      // 中的
    EXPECT_EQ(Search("%E9%A3%8E%E4%B8%AD%E7%9A%84%E4%BF%A1"), Titles{"风中的信"});  // 风中的信
    EXPECT_EQ(Search("%E5%91%A8%E6%99%93"), Titles{"风中的信"});                    // singer 周晓
    EXPECT_EQ(Search("%E7%B2%BE%E9%80%89"), (Titles{"雨中的歌", "风中的信"}));      // album 精选
    EXPECT_EQ(Search("NIGHT"), (Titles{"Midnight Highway", "Neon \"Rain\""}));
    EXPECT_EQ(Search("hig"), Titles{"Midnight Highway"});
    EXPECT_EQ(Search("e"), (Titles{"Midnight Highway", "Neon \"Rain\"", "Loose Song", "海边"}));
    // Every term must match; blanks may be '+' or %20, and a full-width blank separates too.
    EXPECT_EQ(Search("mira+high"), Titles{"Midnight Highway"});
    EXPECT_EQ(Search("mira%20neon"), Titles{});
    EXPECT_EQ(Search("%E9%9B%A8%E3%80%80%E6%9E%97"), Titles{"雨中的歌"});  // 雨　林
    // A match never runs from one field into the next, nor over a blank.
    EXPECT_EQ(Search("%E6%AD%8C%E6%9E%97"), Titles{});  // 歌林: title end + singer start
    EXPECT_EQ(Search("songl"), Titles{});
    EXPECT_EQ(Search("zzz"), Titles{});
    // Repeated terms and terms inside others find what the one term finds.
    std::string fiftyTerms = "n";
    for (int i = 1; i < 50; ++i) fiftyTerms += i % 2 ? "+N" : "%20n";
    EXPECT_EQ(Search(fiftyTerms), Search("n"));
    EXPECT_EQ(Search("n+night+NIGHT+nigh"), Search("night"));
    EXPECT_EQ(Search("%E4%B8%AD+%E4%B8%AD%E7%9A%84"), (Titles{"雨中的歌", "风中的信"}));  // 中 中的
}

TEST(CatalogueApiBudget, SearchPastItsBudgetIsRefusedWithAClearAnswer) {
    TempFolder folder;
    RunningCatalogue catalogue(GeneratedIndex(folder.path() / "index.db", 5000));
    ASSERT_TRUE(catalogue.ok());
    const std::string deepPage = "/tessel/song/search/?q=vol&count=20&offset=4990";
    catalogue.database().SetSongChecks(100);
    const httplib::Result result = catalogue.Get(deepPage);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 503);
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json; charset=utf-8");
    const std::optional<JsonValue> answer = ParseJson(result->body);
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["status_code"].number, 503);
    EXPECT_NE((*answer)["status_msg"].text.find("too much work"), std::string::npos);
    // Refused, not answered as a page that found nothing.
    EXPECT_FALSE(answer->Has("data"));

    catalogue.database().SetSongChecks(kDefaultSongChecks);
    const std::optional<JsonValue> page = catalogue.GetJson(deepPage);
    ASSERT_TRUE(page);
    ASSERT_EQ((*page)["data"].size(), 10u);
    EXPECT_EQ((*page)["data"][0]["title"].text, "Vol 4990");
    EXPECT_EQ((*page)["has_more"].boolean, false);
}

TEST_F(CatalogueApiTest, RangesAnswerTheirBytesOrTheWholeSizeWhenOutside) {
    const std::string file = FileBytes(folder_.path() / "library" / "华语" / "01.mp3");
    const std::optional<JsonValue> answer = catalogue_->GetJson("/tessel/song/search/?q=%E9%9B%A8");
    ASSERT_TRUE(answer);
    const std::string media = "/media/" + (*answer)["data"][0]["id_str"].text + ".mp3";
    const auto size = static_cast<int64_t>(file.size());

    struct Case {
        std::string range;
        int64_t first, last;
    };
    for (const Case& c :
         {Case{"bytes=0-0", 0, 0}, Case{"bytes=100-299", 100, 299},
          Case{"bytes=1000-", 1000, size - 1}, Case{"bytes=-10", size - 10, size - 1},
          Case{"bytes=5-999999999", 5, size - 1}}) {
        const httplib::Result part = catalogue_->Get(media, {{"Range", c.range}});
        ASSERT_TRUE(part) << c.range;
        EXPECT_EQ(part->status, 206) << c.range;
        EXPECT_EQ(part->body, file.substr(c.first, c.last - c.first + 1)) << c.range;
        EXPECT_EQ(part->get_header_value("Content-Range"), "bytes " + std::to_string(c.first) +
                                                               "-" + std::to_string(c.last) + "/" +
                                                               std::to_string(size))
            << c.range;
    }
    for (const std::string& range :
         {"bytes=" + std::to_string(size) + "-", std::string("bytes=-0"),
          "bytes=" + std::to_string(size + 100) + "-" + std::to_string(size + 200)}) {
        const httplib::Result outside = catalogue_->Get(media, {{"Range", range}});
        ASSERT_TRUE(outside) << range;
        EXPECT_EQ(outside->status, 416) << range;
        EXPECT_EQ(outside->get_header_value("Content-Range"), "bytes */" + std::to_string(size));
        EXPECT_TRUE(ParseJson(outside->body)) << range;
    }
    // A list of ranges is answered with the whole file.
    const httplib::Result several = catalogue_->Get(media, {{"Range", "bytes=0-1,5-6"}});
    ASSERT_TRUE(several);
    EXPECT_EQ(several->status, 200);
    EXPECT_EQ(several->body.size(), file.size());
    // HEAD tells the size without the body.
    const httplib::Result head = catalogue_->client().Head(media);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(size));
    EXPECT_EQ(head->get_header_value("Accept-Ranges"), "bytes");
}

TEST_F(CatalogueApiTest, BadInputGetsAClearAnswerAndServingGoesOn) {
    const std::string longKeyword(101, 'a');
    struct Case {
        std::string target;
        int status;
    };
    const Case cases[] = {
        {"/tessel/song/search/?q=%E4%B8&count=20", 400},  // cut UTF-8
        {"/tessel/song/search/?q=%ZZ", 400},
        {"/tessel/song/search/?q=abc%", 400},
        {"/tessel/song/search/?q=%4", 400},
        {"/tessel/song/search/?q=%FF%FE", 400},
        {"/tessel/song/search/?q=a%00b", 400},
        {"/tessel/song/search/?count=20&offset=0", 400},
        {"/tessel/song/search/?q=", 400},
        {"/tessel/song/search/?q=+%20", 400},
        {"/tessel/song/search/?q=" + longKeyword, 400},
        {"/tessel/song/search/?q=a&q=b", 400},
        {"/tessel/song/search/?q=a&type=audio", 400},
        {"/tessel/song/search/?q=a&count=-1", 400},
        {"/tessel/song/search/?q=a&count=0", 400},
        {"/tessel/song/search/?q=a&count=101", 400},
        {"/tessel/song/search/?q=a&count=99999999999999999999999", 400},
        {"/tessel/song/search/?q=a&count=ten", 400},
        {"/tessel/song/search/?q=a&count=", 400},
        {"/tessel/song/search/?q=a&count=+5", 400},
        {"/tessel/song/search/?q=a&offset=-20", 400},
        {"/tessel/song/search/?q=a&offset=1000001", 400},
        {"/tessel/song/search/?q=a&offset=0x10", 400},
        {"/tessel/music/collections/999999/songs/?count=20&offset=0", 404},
        {"/tessel/music/collections/abc/songs/", 400},
        {"/tessel/music/collections/1/songs/?count=1000", 400},
        {"/tessel/music/collections/1/songs/?offset=%", 400},
        {"/tessel/music/collections/1/other/", 404},
        {"/media/999999.mp3", 404},
        {"/media/../index.db", 400},
        {"/media/..%2Findex.db", 400},
        {"/media/%2E%2E/index.db", 400},
        {"/media/1%2Fx.mp3", 400},
        {"/media//etc/passwd", 400},
        {"/media/%2Fetc%2Fpasswd", 400},
        {"/media/1.mp3/..", 400},
        {"/media/-1.mp3", 400},
        {"/media/1.wav", 400},
        {"/nothing/here", 404},
        {"/tessel/song/search/?q=" + std::string(9000, 'a'), 414},
    };
    for (const Case& c : cases) {
        const httplib::Result result = catalogue_->Get(c.target);
        ASSERT_TRUE(result) << c.target.substr(0, 80);
        EXPECT_EQ(result->status, c.status) << c.target.substr(0, 80);
        const std::optional<JsonValue> answer = ParseJson(result->body);
        ASSERT_TRUE(answer) << c.target.substr(0, 80) << ": " << result->body;
        EXPECT_EQ((*answer)["status_code"].number, c.status);
        EXPECT_FALSE((*answer)["status_msg"].text.empty());
    }
    // A Host header that is no host name is refused rather than put into addresses.
    const httplib::Result host = catalogue_->Get("/tessel/song/search/?q=a", {{"Host", "a\"b"}});
    ASSERT_TRUE(host);
    EXPECT_EQ(host->status, 400);

    httplib::Client& client = catalogue_->client();
    const auto refused = [](const httplib::Result& result) {
        return result && result->status == 405 &&
               result->get_header_value("Allow") == "GET, HEAD" &&
               ParseJson(result->body).has_value();
    };
    EXPECT_TRUE(refused(client.Post("/tessel/song/search/?q=a")));
    EXPECT_TRUE(refused(client.Put("/media/1.mp3")));
    EXPECT_TRUE(refused(client.Delete("/tessel/music/collections/")));
    EXPECT_TRUE(refused(client.Options("/media/1.mp3")));
    // Missing paging takes the defaults; the service still answers.
    const std::optional<JsonValue> answer = catalogue_->GetJson("/tessel/song/search/?q=e");
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["count"].number, kDefaultCount);
    EXPECT_EQ((*answer)["offset"].number, 0);
    EXPECT_EQ((*answer)["data"].size(), 4u);
}

// Connections that stay silent, or send their request a few bytes at a time: a new client is
// served all the same, while they are still open (the service drops them only after seconds).
TEST_F(CatalogueApiTest, IdleAndSlowConnectionsDoNotHoldANewClientBack) {
    std::vector<std::unique_ptr<RawConnection>> held;
    for (int i = 0; i < 200; ++i) {
        held.push_back(std::make_unique<RawConnection>(catalogue_->port()));
        ASSERT_TRUE(held.back()->connected()) << i;
        if (i % 10 == 0) held.back()->Send("GET /tessel/song/search/?q=");
    }
    httplib::Client fresh("127.0.0.1", catalogue_->port());
    fresh.set_read_timeout(30);
    const httplib::Result answer = fresh.Get("/tessel/song/search/?q=%E6%B5%B7&offset=0");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    const std::optional<JsonValue> json = ParseJson(answer->body);
    ASSERT_TRUE(json);
    EXPECT_EQ(Titles(*json), std::vector<std::string>{"海边"});
    int untouched = 0;
    for (const auto& c : held) untouched += c->Untouched();
    EXPECT_EQ(untouched, 200);  // the answer did not wait for any of them to go
}

TEST_F(CatalogueApiTest, VanishedFileIsNotFound) {
    const std::optional<JsonValue> answer = catalogue_->GetJson("/tessel/song/search/?q=loose");
    ASSERT_TRUE(answer);
    ASSERT_EQ((*answer)["data"].size(), 1u);
    fs::remove(folder_.path() / "library" / "loose.mp3");
    const httplib::Result result =
        catalogue_->Get("/media/" + (*answer)["data"][0]["id_str"].text + ".mp3");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 404);
    EXPECT_TRUE(ParseJson(result->body));
    EXPECT_TRUE(catalogue_->GetJson("/tessel/music/collections/"));
}

TEST(CatalogueApiPaging, OffsetsPageThroughOneStableResult) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    // 45 songs hold 中, spread over folders whose order differs from the order of their names.
    for (int i = 0; i < 50; ++i) {
        const std::string number = std::to_string(100 + i);
        const std::string title = (i % 10 == 9 ? "Other " : "中") + number;
        ASSERT_TRUE(AddSong(library / ("f" + std::to_string(i % 3)) / (number + ".mp3"),
                            {title, "Singer", ""}));
    }
    RunningCatalogue catalogue(library, folder.path() / "index.db");
    ASSERT_TRUE(catalogue.ok());

    std::vector<std::string> all;
    std::set<std::string> ids;
    for (int offset : {0, 20, 40}) {
        const std::string target =
            "/tessel/song/search/?q=%E4%B8%AD&type=video&count=20&offset=" + std::to_string(offset);
        const std::optional<JsonValue> page = catalogue.GetJson(target);
        ASSERT_TRUE(page);
        EXPECT_EQ((*page)["data"].size(), offset < 40 ? 20u : 5u);
        EXPECT_EQ((*page)["has_more"].boolean, offset < 40);
        EXPECT_EQ((*page)["cursor"].number, offset + static_cast<int>((*page)["data"].size()));
        for (const JsonValue& song : (*page)["data"].items) {
            all.push_back(song["title"].text);
            ids.insert(song["id_str"].text);
        }
        // Asking again gives the same page.
        const std::optional<JsonValue> again = catalogue.GetJson(target);
        ASSERT_TRUE(again);
        EXPECT_EQ(Titles(*again), Titles(*page));
    }
    EXPECT_EQ(all.size(), 45u);
    EXPECT_EQ(ids.size(), 45u);
    const std::optional<JsonValue> beyond =
        catalogue.GetJson("/tessel/song/search/?q=%E4%B8%AD&count=20&offset=60");
    ASSERT_TRUE(beyond);
    EXPECT_EQ((*beyond)["data"].size(), 0u);
    EXPECT_EQ((*beyond)["has_more"].boolean, false);
}

}  // namespace
}  // namespace tessel::catalogue::testing
