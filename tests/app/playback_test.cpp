// Playback, the list menu and the player window's life on the window double.
#include "tessel/app/playback.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "app_fixture.h"
#include "tessel/app/window_units.h"
#include "tessel/posix/standins.h"
#include "window_double.h"

namespace tessel::testing {
namespace {

using namespace tessel::app;

class PlaybackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        posix::System() = {};
        windows = std::make_unique<WindowDouble>();
        songList = windows->Named("超级列表框1");
        playerWindow = windows->Named("播放窗口");
        UnitState& list = windows->Unit(songList);
        for (int n = 1; n <= 3; ++n) {
            const std::string number = std::to_string(n);
            list.rows.push_back({number, Gbk("歌曲 " + number), Gbk("歌手"), "00:0" + number,
                                 "http://127.0.0.1:8765/media/" + number + ".mp3?k=" + number});
        }
    }
    void TearDown() override {
        windows.reset();
        posix::System() = {};
    }

    void Select(std::int32_t row) { windows->Unit(songList).selectedRow = row; }
    int PlayerLoads() const {
        return static_cast<int>(std::count(windows->loadedWindows.begin(),
                                           windows->loadedWindows.end(), playerWindow.window));
    }
    bool PlayerShown() { return windows->Integer(playerWindow, unit_property::kShown) != 0; }
    bool PlayerLoaded() const { return PlayerLoads() > 0; }

    std::unique_ptr<WindowDouble> windows;
    UnitRef songList, playerWindow;
};

TEST_F(PlaybackTest, PlayLoadsThePlayerWindowOnceAndGivesItTheSelectedAddress) {
    Select(1);
    OnPlay();
    EXPECT_EQ(PlayerLoads(), 1);
    ASSERT_EQ(windows->playerUrls.size(), 1u);
    EXPECT_EQ(windows->playerUrls[0], windows->Cell(1, kAddressColumn));

    // A second song switches the same control to the new address; the window is not loaded
    // again. A double-click plays just as 播放 does.
    Select(2);
    OnListDoubleClick();
    EXPECT_EQ(PlayerLoads(), 1);
    ASSERT_EQ(windows->playerUrls.size(), 2u);
    EXPECT_EQ(windows->playerUrls[1], "http://127.0.0.1:8765/media/3.mp3?k=3");
    EXPECT_TRUE(windows->destroyedWindows.empty());
}

TEST_F(PlaybackTest, TheCloseBoxStopsAndHidesAndTheNextPlayShowsTheSameWindow) {
    Select(0);
    OnPlay();
    windows->Unit(playerWindow).shown = true;

    EXPECT_FALSE(OnPlayerWindowCloseQuery());
    EXPECT_EQ(windows->playerStops, 1);
    EXPECT_FALSE(PlayerShown());
    EXPECT_TRUE(PlayerLoaded()) << "the window keeps its control";

    Select(2);
    OnPlay();
    EXPECT_TRUE(PlayerShown());
    EXPECT_EQ(PlayerLoads(), 1);
    ASSERT_EQ(windows->playerUrls.size(), 2u);
    EXPECT_EQ(windows->playerUrls[1], windows->Cell(2, kAddressColumn));
    EXPECT_EQ(windows->playerStops, 1);
}

TEST_F(PlaybackTest, TheMainWindowTakesALoadedPlayerWindowWithIt) {
    OnMainWindowDestroy();
    EXPECT_TRUE(windows->destroyedWindows.empty()) << "never loaded: nothing to destroy";

    Select(0);
    OnPlay();
    OnPlayerWindowCloseQuery();  // hidden, still there
    OnMainWindowDestroy();
    ASSERT_EQ(windows->destroyedWindows.size(), 1u);
    EXPECT_EQ(windows->destroyedWindows[0], playerWindow.window);
    EXPECT_FALSE(PlayerLoaded());
}

TEST_F(PlaybackTest, CopyPutsExactlyTheAddressOnTheClipboard) {
    Select(2);
    OnCopyAddress();
    EXPECT_EQ(posix::System().clipboard, "http://127.0.0.1:8765/media/3.mp3?k=3");

    // A GBK address travels unchanged.
    windows->Unit(songList).rows[0][kAddressColumn] = Gbk("http://127.0.0.1/歌曲.mp3");
    Select(0);
    OnCopyAddress();
    EXPECT_EQ(posix::System().clipboard, Gbk("http://127.0.0.1/歌曲.mp3"));
}

TEST_F(PlaybackTest, RightClickPopsUpTheListMenu) {
    OnListRightClick();
    EXPECT_EQ(windows->menusPoppedUp, 1);
}

TEST_F(PlaybackTest, WithoutASelectedRowOrAnAddressNothingHappens) {
    posix::System().clipboard = "kept";
    for (const std::int32_t row : {-1, 7}) {  // none selected; a row the list does not have
        Select(row);
        OnPlay();
        OnListDoubleClick();
        OnCopyAddress();
    }
    windows->Unit(songList).rows[1][kAddressColumn].clear();
    Select(1);
    OnPlay();
    OnCopyAddress();

    EXPECT_FALSE(PlayerLoaded());
    EXPECT_TRUE(windows->playerUrls.empty());
    EXPECT_EQ(posix::System().clipboard, "kept");

    // Once the player is there, a play without a row leaves it as it is.
    Select(0);
    OnPlay();
    OnPlayerWindowCloseQuery();
    Select(-1);
    OnPlay();
    EXPECT_FALSE(PlayerShown());
    EXPECT_EQ(windows->playerUrls.size(), 1u);
}

// The double holds what the form holds and nothing else, so a handler that addresses a unit,
// a column or a pane by a wrong number fails its test.
TEST_F(PlaybackTest, TheDoubleRefusesAUnitColumnOrPaneTheFormDoesNotHold) {
    const UnitRef timer = windows->Named("时钟1");
    EXPECT_NONFATAL_FAILURE(
        SetUnitInteger({timer.window, timer.unit + 1}, unit_property::kTimerPeriod, 1000),
        "is not in the form");
    EXPECT_NONFATAL_FAILURE(ListSetCell(songList, 0, 5, "x"), "columns");
    EXPECT_NONFATAL_FAILURE(StatusSetPane(windows->Named("状态条1"), 4, "x"), "panes");
    EXPECT_NONFATAL_FAILURE(windows->Named("时钟2"), "no unit named");
}

}  // namespace
}  // namespace tessel::testing
