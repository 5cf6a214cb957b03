// Song search and listing on the window double against a catalogue stand-in.
#include "tessel/app/search.h"

#include <gtest/gtest.h>

#include "app_fixture.h"
#include "tessel/app/settings.h"
#include "tessel/app/window_units.h"
#include "tessel/posix/standins.h"

namespace tessel::testing {
namespace {

using namespace tessel::app;

// Pages of `songs` by offset, as the catalogue answers them.
TestHttpServer::Handler Catalogue(std::vector<SongData> songs) {
    return [songs](const ReceivedRequest& r) {
        const int offset = std::atoi(QueryValue(r.Target(), "offset").c_str());
        std::vector<SongData> page;
        for (int i = offset; i < offset + 20 && i < static_cast<int>(songs.size()); ++i)
            page.push_back(songs[static_cast<std::size_t>(i)]);
        ServerResponse answer;
        answer.body = SongsAnswer(page);
        answer.headers = {"Content-Type: application/json; charset=utf-8"};
        return answer;
    };
}

using SearchTest = AppTest;

TEST(FormatDuration, MinutesAndSecondsWithTwoDigitsEach) {
    WindowDouble windows;
    const std::pair<int, const char*> cases[] = {{0, "00:00"},    {9, "00:09"},     {59, "00:59"},
                                                 {60, "01:00"},   {215, "03:35"},   {600, "10:00"},
                                                 {3600, "60:00"}, {6000, "100:00"}, {-5, "00:00"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(FormatDuration(seconds).view(), text) << seconds;
}

TEST_F(SearchTest, ThreeFullPagesGiveSixtyNumberedRows) {
    Serve(Catalogue(NumberedSongs(1, 70)));
    SetUnitText(searchBox, Gbk("中").c_str());
    OnSearch();

    ASSERT_EQ(windows->Rows().size(), 60u);
    for (std::size_t row = 0; row < 60; ++row) {
        const std::string n = std::to_string(row + 1);
        EXPECT_EQ(windows->Cell(row, kNumberColumn), n);
        EXPECT_EQ(Utf8(windows->Cell(row, kTitleColumn)), "歌曲 " + n);
        EXPECT_EQ(Utf8(windows->Cell(row, kSingerColumn)), "歌手" + n);
        EXPECT_EQ(windows->Cell(row, kDurationColumn),
                  FormatDuration(static_cast<int>(row + 1) * 7).view());
        EXPECT_EQ(windows->Cell(row, kAddressColumn), "http://127.0.0.1:8765/media/" + n + ".mp3");
    }
    EXPECT_EQ(Utf8(windows->Pane(kStatePane)), "状态：搜索完成");
}

TEST_F(SearchTest, APageThatFailsBetweenTwoGoodOnesKeepsTheNumberingContinuous) {
    const auto catalogue = Catalogue(NumberedSongs(1, 60));
    Serve([catalogue](const ReceivedRequest& r) {
        const std::string offset = QueryValue(r.Target(), "offset");
        if (offset == "20") return ServerResponse{"500 Internal Server Error", {}, "oops"};
        ServerResponse answer = catalogue(r);
        if (offset == "0") answer.body = SongsAnswer(NumberedSongs(1, 7));
        return answer;
    });
    SetUnitText(searchBox, "abc");
    OnSearch();

    ASSERT_EQ(windows->Rows().size(), 27u);
    for (std::size_t row = 0; row < 27; ++row)
        EXPECT_EQ(windows->Cell(row, kNumberColumn), std::to_string(row + 1));
    EXPECT_EQ(Utf8(windows->Cell(6, kTitleColumn)), "歌曲 7");
    EXPECT_EQ(Utf8(windows->Cell(7, kTitleColumn)), "歌曲 41");  // page 3
    EXPECT_EQ(Utf8(windows->Pane(kStatePane)), "状态：搜索完成");
}

TEST_F(SearchTest, WithTheNamedCatalogueSilentTheListIsEmptyAndTheBarSaysWhatToCheck) {
    // A port nobody listens on: every request is refused.
    Serve([](const ReceivedRequest&) { return ServerResponse{}; });
    const std::string host = server->HostPort();
    server.reset();
    WriteSettings({"[服务]", "主机=" + host});
    windows->Unit(songList).rows = {{"1", "old", "", "", ""}};

    SetUnitText(searchBox, "abc");
    OnSearch();
    EXPECT_TRUE(windows->Rows().empty());
    EXPECT_EQ(Utf8(windows->Pane(kStatePane)), "状态：曲库无应答");
    EXPECT_EQ(Utf8(windows->Pane(kDownloadPane)), "请检查 bc.ini 中 [服务] 的 主机=");
}

TEST_F(SearchTest, AnAnswerWithoutSongsIsDoneNotFailed) {
    Serve([](const ReceivedRequest&) { return ServerResponse{"200 OK", {}, "{\"data\":[]}"}; });
    SetUnitText(searchBox, "nothing");
    OnSearch();
    EXPECT_TRUE(windows->Rows().empty());
    EXPECT_EQ(Utf8(windows->Pane(kStatePane)), "状态：搜索完成");
}

TEST_F(SearchTest, MissingMembersGiveEmptyCellsAndTheRowIsStillAdded) {
    Serve([](const ReceivedRequest& r) {
        if (QueryValue(r.Target(), "offset") != "0") return ServerResponse{"200 OK", {}, "{}"};
        return ServerResponse{
            "200 OK", {}, SongsAnswer({{"只有标题", "", "", ""}, {"", "", "\"x\"", ""}})};
    });
    SetUnitText(searchBox, "abc");
    OnSearch();

    ASSERT_EQ(windows->Rows().size(), 2u);
    EXPECT_EQ(Utf8(windows->Cell(0, kTitleColumn)), "只有标题");
    EXPECT_EQ(windows->Cell(0, kSingerColumn), "");
    EXPECT_EQ(windows->Cell(0, kDurationColumn), "00:00");
    EXPECT_EQ(windows->Cell(0, kAddressColumn), "");
    EXPECT_EQ(windows->Cell(1, kNumberColumn), "2");
    EXPECT_EQ(windows->Cell(1, kTitleColumn), "");  // never "undefined"
}

// The catalogue's error answers are JSON too, so they parse: a page counts only when its "data"
// is a list.
TEST_F(SearchTest, ErrorAnswersOnEveryPageAreAFailedSearch) {
    const std::pair<std::string, std::string> answers[] = {
        {"503 Service Unavailable", R"({"status_code":503,"status_msg":"busy"})"},
        {"500 Internal Server Error", R"({"status_code":500,"status_msg":"error"})"},
        {"400 Bad Request", R"({"status_code":400,"status_msg":"keyword too long"})"},
        {"404 Not Found", R"({"status_code":404,"status_msg":"no such collection"})"},
        {"503 Service Unavailable", "Service Unavailable"},
        {"200 OK", R"({"data":{"title":"not a list"}})"},
        {"200 OK", R"({"data":null})"},
    };
    for (const auto& answer : answers) {
        const std::string& body = answer.second;
        Serve([&answer](const ReceivedRequest&) {
            return ServerResponse{answer.first, {}, answer.second};
        });
        windows->Unit(songList).rows = {{"1", "old", "", "", ""}};
        SetUnitText(searchBox, "abc");
        OnSearch();
        EXPECT_TRUE(windows->Rows().empty()) << body;
        EXPECT_EQ(Utf8(windows->Pane(kStatePane)), "状态：搜索失败") << body;
    }
}

TEST_F(SearchTest, OneGoodPageAmongFailingOnesIsListedAndDone) {
    Serve([](const ReceivedRequest& r) {
        if (QueryValue(r.Target(), "offset") == "20")
            return ServerResponse{"200 OK", {}, SongsAnswer(NumberedSongs(21, 5))};
        return ServerResponse{"503 Service Unavailable", {}, R"({"status_code":503})"};
    });
    SetUnitText(searchBox, "abc");
    OnSearch();
    ASSERT_EQ(windows->Rows().size(), 5u);
    EXPECT_EQ(windows->Cell(0, kNumberColumn), "1");
    EXPECT_EQ(Utf8(windows->Cell(0, kTitleColumn)), "歌曲 21");
    EXPECT_EQ(windows->Cell(4, kNumberColumn), "5");
    EXPECT_EQ(Utf8(windows->Pane(kStatePane)), "状态：搜索完成");
}

TEST_F(SearchTest, APageGivesAtMostTheTwentySongsItAskedForAndATextGivesNone) {
    // 20,000 songs on the first page (about 2 MB), a 20,000-character text as "data" on the
    // others: 20 rows, the first twenty songs.
    const std::string manySongs = SongsAnswer(NumberedSongs(1, 20000));
    const std::string textData = "{\"data\":\"" + std::string(20000, 'x') + "\"}";
    Serve([&](const ReceivedRequest& r) {
        const bool first = QueryValue(r.Target(), "offset") == "0";
        return ServerResponse{"200 OK", {}, first ? manySongs : textData};
    });
    SetUnitText(searchBox, "abc");
    OnSearch();
    ASSERT_EQ(windows->Rows().size(), 20u);
    EXPECT_EQ(Utf8(windows->Cell(19, kTitleColumn)), "歌曲 20");
    EXPECT_EQ(windows->Cell(19, kNumberColumn), "20");
    EXPECT_EQ(Utf8(windows->Pane(kStatePane)), "状态：搜索完成");
}

TEST_F(SearchTest, AnAnswerOfManyMegabytesFailsItsPageAndIsNotReadOn) {
    // Page 1: twenty songs padded past 4 MB with blanks, still valid JSON; page 2: 50 MB of
    // bytes; page 3: three songs.
    std::string padded = SongsAnswer(NumberedSongs(1, 20));
    padded.insert(padded.size() - 1, std::string(4 * 1024 * 1024, ' '));
    Serve([&](const ReceivedRequest& r) {
        const std::string offset = QueryValue(r.Target(), "offset");
        ServerResponse answer;
        if (offset == "0") answer.body = padded;
        if (offset == "20") {
            answer.body = "{\"data\":[";
            answer.patternBytes = 50ull * 1024 * 1024;
        }
        if (offset == "40") answer.body = SongsAnswer(NumberedSongs(41, 3));
        return answer;
    });
    SetUnitText(searchBox, "abc");
    OnSearch();
    ASSERT_EQ(windows->Rows().size(), 3u);
    EXPECT_EQ(Utf8(windows->Cell(0, kTitleColumn)), "歌曲 41");
    EXPECT_EQ(Utf8(windows->Pane(kStatePane)), "状态：搜索完成");
}

TEST_F(SearchTest, EnterAndTheButtonMakeTheSameThreeEncodedRequests) {
    Serve(Catalogue(NumberedSongs(1, 5)));
    const std::string keyword = Gbk("周 杰伦");
    SetUnitText(searchBox, keyword.c_str());
    OnSearch();
    const auto byButton = Targets();

    server = std::make_unique<TestHttpServer>(Catalogue(NumberedSongs(1, 5)));
    WriteSettings({"[服务]", "主机=" + server->HostPort()});
    OnSearchBoxKey(65);  // an ordinary key only edits
    EXPECT_TRUE(Targets().empty());
    OnSearchBoxKey(13);
    const auto byEnter = Targets();

    const std::string encoded = "%E5%91%A8%20%E6%9D%B0%E4%BC%A6";
    const std::vector<std::string> expected = {
        "/tessel/song/search/?q=" + encoded + "&type=video&count=20&offset=0",
        "/tessel/song/search/?q=" + encoded + "&type=video&count=20&offset=20",
        "/tessel/song/search/?q=" + encoded + "&type=video&count=20&offset=40"};
    EXPECT_EQ(byButton, expected);
    EXPECT_EQ(byEnter, expected);
    EXPECT_EQ(ReadUnitText(searchBox).view(), keyword);  // the box keeps what was typed
    EXPECT_EQ(windows->Rows().size(), 5u);
}

TEST_F(SearchTest, AnEmptyBoxAsksForAWordAndChangesNothing) {
    Serve(Catalogue(NumberedSongs(1, 5)));
    windows->Unit(songList).rows = {{"1", "kept", "", "", ""}};
    SetUnitText(searchBox, "abc");
    OnSearchBoxDoubleClick();
    EXPECT_EQ(ReadUnitText(searchBox).view(), "");
    OnSearch();

    ASSERT_EQ(posix::System().messages.size(), 1u);
    EXPECT_EQ(Utf8(posix::System().messages[0]), "搜索词不能为空");
    EXPECT_TRUE(Targets().empty());
    EXPECT_EQ(windows->Rows().size(), 1u);
    EXPECT_EQ(Utf8(windows->Pane(kStatePane)), "状态：");
}

TEST_F(SearchTest, TheHostComesFromTheSettingsFileOrIsTheCatalogueDefault) {
    std::remove((directory / "bc.ini").c_str());
    EXPECT_EQ(app::ApiHost().view(), "127.0.0.1:8765");
    WriteSettings({"[保存目录]", "保存=D:\\Music\\", "[服务]", "主机= 127.0.0.1:9 "});
    EXPECT_EQ(app::ApiHost().view(), "127.0.0.1:9");
}

}  // namespace
}  // namespace tessel::testing
