// Collection tags and the save directory shown at start, on the window double.
#include "tessel/app/tags.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app_fixture.h"
#include "tessel/app/program.h"
#include "tessel/app/search.h"
#include "tessel/app/window_units.h"

namespace tessel::testing {
namespace {

using namespace tessel::app;

struct Geometry {
    std::int32_t left, top, width, height;
    bool operator==(const Geometry&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Geometry& g) {
    return out << "{" << g.left << ", " << g.top << ", " << g.width << ", " << g.height << "}";
}

class TagsTest : public AppTest {
  protected:
    // The catalogue stand-in answers the collection list with `collections` and each
    // collection's songs with one song named after the collection id.
    void Start(std::vector<std::pair<std::string, std::string>> collections) {
        Serve([collections](const ReceivedRequest& r) {
            const std::string target = r.Target();
            if (target == "/tessel/music/collections/")
                return ServerResponse{"200 OK", {}, CollectionsAnswer(collections)};
            const std::string prefix = "/tessel/music/collections/";
            const std::string id =
                target.substr(prefix.size(), target.find("/songs/") - prefix.size());
            if (QueryValue(target, "offset") != "0")
                return ServerResponse{"200 OK", {}, "{\"data\":[]}"};
            return ServerResponse{"200 OK", {}, SongsAnswer({{"来自 " + id, "s", "1", "u"}})};
        });
        OnMainWindowCreated();
    }
    Geometry Of(UnitRef unit) {
        return {windows->Integer(unit, unit_property::kLeft),
                windows->Integer(unit, unit_property::kTop),
                windows->Integer(unit, unit_property::kWidth),
                windows->Integer(unit, unit_property::kHeight)};
    }
    std::int32_t ListTop() { return windows->Integer(songList, unit_property::kTop); }
    std::int32_t StatusBarTop() { return windows->Integer(statusBar, unit_property::kTop); }
    // The tags made, with their geometry.
    std::vector<Geometry> Tags() {
        std::vector<Geometry> tags;
        for (const UnitRef copy : windows->copies) tags.push_back(Of(copy));
        return tags;
    }
    std::int32_t Colour(UnitRef unit) { return windows->Integer(unit, unit_property::kTextColour); }
    void Press(UnitRef tag) {
        windows->RaiseFrom(tag);
        OnTagClick();
    }
};

TEST_F(TagsTest, TagsAreCopiesOfTheTemplateLaidOutInRows) {
    // 8 Chinese characters are 16 bytes: a tag 96 wide. Then captions of 15 bytes (91 wide)
    // fit while x + 75 + 24 stays within 811: eight tags end at x = 733, the ninth opens row 1.
    std::vector<std::pair<std::string, std::string>> collections;
    for (int i = 0; i < 9; ++i)
        collections.push_back({"六个汉字名字" + std::to_string(i) + "xy", std::to_string(100 + i)});
    collections[0].first = "八个汉字的名字了";
    Start(collections);

    ASSERT_EQ(windows->copies.size(), 9u);
    const UnitRef first = windows->copies[0];
    EXPECT_EQ(Of(first), (Geometry{8, 48, 96, 20}));
    // A copy of the template's record whose events run the template's handlers.
    const windows::Unit& tag = windows->CoreUnit(first);
    const windows::Unit& model = windows->CoreUnit(tagTemplate);
    EXPECT_EQ(tag.record, model.record);
    ASSERT_FALSE(model.events.empty());
    EXPECT_EQ(tag.events.front().codeOffset, model.events.front().codeOffset);
    EXPECT_EQ(Utf8(windows->Unit(first).text), "八个汉字的名字了");
    EXPECT_EQ(tag.tag, "100");
    EXPECT_EQ(windows->Integer(first, unit_property::kShown), 1);
    EXPECT_EQ(windows->Integer(first, unit_property::kTagMark), 1);
    // Captions of 15 bytes: 91 wide, each starting where the previous one ends.
    EXPECT_EQ(Of(windows->copies[1]), (Geometry{8 + 96, 48, 91, 20}));
    EXPECT_EQ(Of(windows->copies[7]), (Geometry{8 + 96 + 6 * 91, 48, 91, 20}));
    EXPECT_EQ(Of(windows->copies[8]), (Geometry{8, 68, 91, 20}));
    EXPECT_EQ(ListTop(), 68 + 20 + 10);
    EXPECT_EQ(windows->Integer(tagTemplate, unit_property::kShown), 0);
}

TEST_F(TagsTest, ThreeRowsPutTheListAt118AndAnOverlongFirstCaptionOpensRowOne) {
    // 160 bytes: 5 * 160 + 24 = 824 > 811, so even the first tag goes to row 1.
    Start({{std::string(160, 'w'), "1"}, {std::string(160, 'v'), "2"}});
    ASSERT_EQ(windows->copies.size(), 2u);
    EXPECT_EQ(Of(windows->copies[0]), (Geometry{8, 68, 816, 20}));
    EXPECT_EQ(Of(windows->copies[1]), (Geometry{8, 88, 816, 20}));
    EXPECT_EQ(ListTop(), 118);
}

TEST_F(TagsTest, WithoutCollectionsTheListKeepsItsDesignTop) {
    Start({});
    EXPECT_TRUE(windows->copies.empty());
    EXPECT_EQ(ListTop(), 72);

    Serve([](const ReceivedRequest&) { return ServerResponse{"200 OK", {}, "not json"}; });
    OnMainWindowCreated();
    EXPECT_TRUE(windows->copies.empty());
    EXPECT_EQ(ListTop(), 72);
}

// Under Wine 8 the list's header is 21 px high and each row 15 px, with a 2 px border top and
// bottom: ten rows of songs are seen whole in 175 px.
constexpr std::int32_t kTenSongRowsUnderWine = 21 + 10 * 15 + 2 * 2;
// The room the list keeps is sized for rows of 18 under a header of 24: no row of tags more is
// shown once the next would leave less.
constexpr std::int32_t kTenLargeSongRows = 24 + 10 * 18 + 2 * 2;
// The main window's client area is 803 px wide (the window is 811 wide, less its frame).
constexpr std::int32_t kClientWidth = 803;

TEST_F(TagsTest, TheListFillsTheRoomBetweenTheTagsAndTheStatusBarInsideTheClientArea) {
    Start({{"流行", "7001"}, {"经典", "7002"}});
    const Geometry list = Of(songList);
    EXPECT_EQ(list.top, 48 + 20 + 10);
    EXPECT_EQ(list.top + list.height, StatusBarTop());
    EXPECT_EQ(list.left, 5);
    EXPECT_LE(list.left + list.width, kClientWidth);
    EXPECT_GE(list.width, kClientWidth - 2 * 5);

    // Without tags the list keeps its design top, 72, and fills the same room.
    Serve([](const ReceivedRequest&) { return ServerResponse{"503 Service Unavailable", {}, ""}; });
    windows->Unit(songList).place.top = 72;
    OnMainWindowCreated();
    EXPECT_EQ(Of(songList).top, 72);
    EXPECT_EQ(Of(songList).top + Of(songList).height, StatusBarTop());
    EXPECT_LE(Of(songList).left + Of(songList).width, kClientWidth);
}

TEST_F(TagsTest, ManyCollectionsShowOnlyTheRowsOfTagsThatLeaveRoomForTenSongs) {
    std::vector<std::pair<std::string, std::string>> collections;
    for (int i = 0; i < 5000; ++i)
        collections.push_back(
            {"合集" + std::to_string(i) + std::string(i % 7, 'x'), std::to_string(9000 + i)});
    auto first300 = std::vector(collections.begin(), collections.begin() + 300);
    Start(first300);

    const auto tags = Tags();
    ASSERT_FALSE(tags.empty());
    ASSERT_LT(tags.size(), 300u);
    std::int32_t lastBottom = 0;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        // The first collections, in order, laid out as always.
        EXPECT_EQ(Utf8(windows->Unit(windows->copies[i]).text), first300[i].first);
        if (i > 0 && tags[i].top == tags[i - 1].top) {
            EXPECT_EQ(tags[i].left, tags[i - 1].left + tags[i - 1].width);
        }
        lastBottom = std::max(lastBottom, tags[i].top + tags[i].height);
    }
    const Geometry list = Of(songList);
    EXPECT_EQ(list.top, lastBottom + 10);
    EXPECT_EQ(list.top + list.height, StatusBarTop());
    EXPECT_GE(list.height, kTenSongRowsUnderWine);
    EXPECT_GE(list.height, kTenLargeSongRows);
    EXPECT_LT(StatusBarTop() - (list.top + 20), kTenLargeSongRows);

    // 5,000 collections make no more tags than 300 did.
    const std::size_t shown = tags.size();
    windows.reset();
    windows = std::make_unique<WindowDouble>();
    Start(collections);
    EXPECT_EQ(windows->copies.size(), shown);
}

TEST_F(TagsTest, ACollectionListThatIsNoListMakesNoTags) {
    Serve([](const ReceivedRequest&) {
        return ServerResponse{"200 OK", {}, "{\"data\":\"" + std::string(20000, 'x') + "\"}"};
    });
    OnMainWindowCreated();
    EXPECT_TRUE(windows->copies.empty());
}

TEST_F(TagsTest, PressingATagHighlightsItEmptiesTheBoxAndListsItsCollection) {
    Start({{"流行", "7001"}, {"经典", "7002"}});
    const UnitRef a = windows->copies[0];
    const UnitRef b = windows->copies[1];
    SetUnitText(searchBox, "typed");

    Press(a);
    EXPECT_EQ(Colour(a), Rgb(238, 0, 0));
    EXPECT_EQ(ReadUnitText(searchBox).view(), "");
    ASSERT_EQ(windows->Rows().size(), 1u);
    EXPECT_EQ(Utf8(windows->Cell(0, kTitleColumn)), "来自 7001");
    const auto targets = Targets();
    ASSERT_GE(targets.size(), 4u);
    EXPECT_EQ(targets[1], "/tessel/music/collections/7001/songs/?count=20&offset=0");
    EXPECT_EQ(targets[3], "/tessel/music/collections/7001/songs/?count=20&offset=40");

    Press(b);
    EXPECT_EQ(Colour(a), Rgb(0, 0, 0));
    EXPECT_EQ(Colour(b), Rgb(238, 0, 0));
    EXPECT_EQ(Utf8(windows->Cell(0, kTitleColumn)), "来自 7002");
    EXPECT_EQ(CurrentTag().unit, b.unit);

    // Pressing the highlighted tag again keeps it highlighted.
    Press(b);
    EXPECT_EQ(Colour(b), Rgb(238, 0, 0));
}

TEST_F(TagsTest, AKeywordSearchResetsTheTagButRemembersIt) {
    Start({{"流行", "7001"}});
    const UnitRef a = windows->copies[0];
    Press(a);
    SetUnitText(searchBox, "abc");
    OnSearch();
    EXPECT_EQ(Colour(a), Rgb(0, 0, 0));
    EXPECT_EQ(CurrentTag().unit, a.unit);
}

TEST_F(TagsTest, TheStoredSaveDirectoryIsShownAtStart) {
    settingsLines = {"[保存目录]", "保存=D:\\音乐\\"};
    Start({});
    EXPECT_EQ(Utf8(windows->Unit(saveDirectoryLabel).text), "D:\\音乐\\");
}

// A killed run leaves its part file in the save directory; the next start removes it, and only it.
TEST_F(TagsTest, PartFilesOfARunNoLongerAliveGoAtStart) {
    const std::filesystem::path songs = directory / "songs";
    std::filesystem::create_directories(songs);
    // No system hands out a process id this high.
    const std::string gone = ".~ferry-99999996-1.part";
    const std::string own = ".~ferry-" + std::to_string(getpid()) + "-1.part";
    for (const std::string& name : {gone, own, std::string("song.mp3")}) {
        std::ofstream(songs / name) << "bytes";
    }
    settingsLines = {"[保存目录]", "保存=" + songs.string() + "\\"};
    Start({});
    EXPECT_FALSE(std::filesystem::exists(songs / gone));
    EXPECT_TRUE(std::filesystem::exists(songs / own));
    EXPECT_TRUE(std::filesystem::exists(songs / "song.mp3"));
}

TEST_F(TagsTest, WithoutASettingsFileTheSaveDirectoryLabelStaysEmpty) {
    windows->Unit(saveDirectoryLabel).text = "design";
    OnMainWindowCreated();  // no bc.ini, no catalogue at the default address in this test
    EXPECT_EQ(windows->Unit(saveDirectoryLabel).text, "design");
}

}  // namespace
}  // namespace tessel::testing
