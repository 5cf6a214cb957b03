// Song search and listing on the window double against a catalogue stand-in.
#include "tessel/app/search.h"

#include <gtest/gtest.h>

#include "app_fixture.h"
#include "tessel/app/settings.h"
#include "tessel/app/window_units.h"
#include "tessel/platform/standins.h"
#include "tessel/runtime/program.h"

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
    SetUnitText(kSearchBox, Gbk("中").c_str());
    OnSearch();

    ASSERT_EQ(windows->Rows().size(), 60u);
    for (std::size_t row = 0; row < 60; ++row) {
        const std::string n = std::to_string(row + 1);
        EXPECT_EQ(windows->Cell(row, column::kNumber), n);
        EXPECT_EQ(Utf8(windows->Cell(row, column::kTitle)), "歌曲 " + n);
        EXPECT_EQ(Utf8(windows->Cell(row, column::kSinger)), "歌手" + n);
        EXPECT_EQ(windows->Cell(row, column::kDuration),
                  FormatDuration(static_cast<int>(row + 1) * 7).view());
        EXPECT_EQ(windows->Cell(row, column::kAddress),
                  "http://127.0.0.1:8765/media/" + n + ".mp3");
    }
    EXPECT_EQ(Utf8(windows->Pane(pane::kState)), "状态：搜索完成");
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
    SetUnitText(kSearchBox, "abc");
    OnSearch();

    ASSERT_EQ(windows->Rows().size(), 27u);
    for (std::size_t row = 0; row < 27; ++row)
        EXPECT_EQ(windows->Cell(row, column::kNumber), std::to_string(row + 1));
    EXPECT_EQ(Utf8(windows->Cell(6, column::kTitle)), "歌曲 7");
    EXPECT_EQ(Utf8(windows->Cell(7, column::kTitle)), "歌曲 41");  // page 3
    EXPECT_EQ(Utf8(windows->Pane(pane::kState)), "状态：搜索完成");
}

TEST_F(SearchTest, WithNoCatalogueTheListIsEmptyAndTheSearchSaysItFailed) {
    // A port nobody listens on: every request is refused.
    Serve([](const ReceivedRequest&) { return ServerResponse{}; });
    const std::string host = server->HostPort();
    server.reset();
    WriteSettings({"[服务]", "主机=" + host});
    windows->Unit(kSongList).rows = {{"1", "old", "", "", ""}};

    SetUnitText(kSearchBox, "abc");
    OnSearch();
    EXPECT_TRUE(windows->Rows().empty());
    EXPECT_EQ(Utf8(windows->Pane(pane::kState)), "状态：搜索失败");
}

TEST_F(SearchTest, AnAnswerWithoutSongsIsDoneNotFailed) {
    Serve([](const ReceivedRequest&) { return ServerResponse{"200 OK", {}, "{\"data\":[]}"}; });
    SetUnitText(kSearchBox, "nothing");
    OnSearch();
    EXPECT_TRUE(windows->Rows().empty());
    EXPECT_EQ(Utf8(windows->Pane(pane::kState)), "状态：搜索完成");
}

TEST_F(SearchTest, MissingMembersGiveEmptyCellsAndTheRowIsStillAdded) {
    Serve([](const ReceivedRequest& r) {
        if (QueryValue(r.Target(), "offset") != "0") return ServerResponse{"200 OK", {}, "{}"};
        return ServerResponse{
            "200 OK", {}, SongsAnswer({{"只有标题", "", "", ""}, {"", "", "\"x\"", ""}})};
    });
    SetUnitText(kSearchBox, "abc");
    OnSearch();

    ASSERT_EQ(windows->Rows().size(), 2u);
    EXPECT_EQ(Utf8(windows->Cell(0, column::kTitle)), "只有标题");
    EXPECT_EQ(windows->Cell(0, column::kSinger), "");
    EXPECT_EQ(windows->Cell(0, column::kDuration), "00:00");
    EXPECT_EQ(windows->Cell(0, column::kAddress), "");
    EXPECT_EQ(windows->Cell(1, column::kNumber), "2");
    EXPECT_EQ(windows->Cell(1, column::kTitle), "");  // never "undefined"
}

TEST_F(SearchTest, EnterAndTheButtonMakeTheSameThreeEncodedRequests) {
    Serve(Catalogue(NumberedSongs(1, 5)));
    const std::string keyword = Gbk("周 杰伦");
    SetUnitText(kSearchBox, keyword.c_str());
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
    EXPECT_EQ(ReadUnitText(kSearchBox).view(), keyword);  // the box keeps what was typed
    EXPECT_EQ(windows->Rows().size(), 5u);
}

TEST_F(SearchTest, AnEmptyBoxAsksForAWordAndChangesNothing) {
    Serve(Catalogue(NumberedSongs(1, 5)));
    windows->Unit(kSongList).rows = {{"1", "kept", "", "", ""}};
    SetUnitText(kSearchBox, "abc");
    OnSearchBoxDoubleClick();
    EXPECT_EQ(ReadUnitText(kSearchBox).view(), "");
    OnSearch();

    ASSERT_EQ(posix::System().messages.size(), 1u);
    EXPECT_EQ(Utf8(posix::System().messages[0]), "搜索词不能为空");
    EXPECT_TRUE(Targets().empty());
    EXPECT_EQ(windows->Rows().size(), 1u);
    EXPECT_EQ(Utf8(windows->Pane(pane::kState)), "状态：");
}

TEST_F(SearchTest, TheHostComesFromTheSettingsFileOrIsTheCatalogueDefault) {
    std::remove((directory / "bc.ini").c_str());
    EXPECT_EQ(app::ApiHost().view(), "127.0.0.1:8765");
    WriteSettings({"[保存目录]", "保存=D:\\Music\\", "[服务]", "主机= 127.0.0.1:9 "});
    EXPECT_EQ(app::ApiHost().view(), "127.0.0.1:9");
}

}  // namespace
}  // namespace tessel::testing
