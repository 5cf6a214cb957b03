// Collection tags and the save directory shown at start, on the window double.
#include "tessel/app/tags.h"

#include <gtest/gtest.h>

#include "app_fixture.h"
#include "tessel/app/search.h"
#include "tessel/app/window_units.h"
#include "tessel/runtime/program.h"

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
        const UnitState& u = windows->Unit(unit);
        return {u.Integer(unit_property::kLeft), u.Integer(unit_property::kTop),
                u.Integer(unit_property::kWidth), u.Integer(unit_property::kHeight)};
    }
    std::int32_t ListTop() { return windows->Unit(kSongList).Integer(unit_property::kTop); }
    std::int32_t Colour(UnitRef unit) {
        return windows->Unit(unit).Integer(unit_property::kTextColour);
    }
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
    const UnitState& tag = windows->Unit(first);
    EXPECT_EQ(tag.copyOf.unit, kTagTemplate.unit);
    EXPECT_EQ(tag.routedTo.unit, kTagTemplate.unit);
    EXPECT_EQ(Utf8(tag.text), "八个汉字的名字了");
    EXPECT_EQ(tag.tag, "100");
    EXPECT_EQ(tag.Integer(unit_property::kShown), 1);
    EXPECT_EQ(tag.Integer(unit_property::kAttribute24), 1);
    // Captions of 15 bytes: 91 wide, each starting where the previous one ends.
    EXPECT_EQ(Of(windows->copies[1]), (Geometry{8 + 96, 48, 91, 20}));
    EXPECT_EQ(Of(windows->copies[7]), (Geometry{8 + 96 + 6 * 91, 48, 91, 20}));
    EXPECT_EQ(Of(windows->copies[8]), (Geometry{8, 68, 91, 20}));
    EXPECT_EQ(ListTop(), 68 + 20 + 10);
    EXPECT_EQ(windows->Unit(kTagTemplate).Integer(unit_property::kShown), 0);
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

TEST_F(TagsTest, PressingATagHighlightsItEmptiesTheBoxAndListsItsCollection) {
    Start({{"流行", "7001"}, {"经典", "7002"}});
    const UnitRef a = windows->copies[0];
    const UnitRef b = windows->copies[1];
    SetUnitText(kSearchBox, "typed");

    Press(a);
    EXPECT_EQ(Colour(a), kTagHighlight);
    EXPECT_EQ(ReadUnitText(kSearchBox).view(), "");
    ASSERT_EQ(windows->Rows().size(), 1u);
    EXPECT_EQ(Utf8(windows->Cell(0, column::kTitle)), "来自 7001");
    const auto targets = Targets();
    ASSERT_GE(targets.size(), 4u);
    EXPECT_EQ(targets[1], "/tessel/music/collections/7001/songs/?count=20&offset=0");
    EXPECT_EQ(targets[3], "/tessel/music/collections/7001/songs/?count=20&offset=40");

    Press(b);
    EXPECT_EQ(Colour(a), kTagNormal);
    EXPECT_EQ(Colour(b), kTagHighlight);
    EXPECT_EQ(Utf8(windows->Cell(0, column::kTitle)), "来自 7002");
    EXPECT_EQ(ProgramGlobals().currentTagUnit, b.unit);

    // Pressing the highlighted tag again keeps it highlighted.
    Press(b);
    EXPECT_EQ(Colour(b), kTagHighlight);
}

TEST_F(TagsTest, AKeywordSearchResetsTheTagButRemembersIt) {
    Start({{"流行", "7001"}});
    const UnitRef a = windows->copies[0];
    Press(a);
    SetUnitText(kSearchBox, "abc");
    OnSearch();
    EXPECT_EQ(Colour(a), kTagNormal);
    EXPECT_EQ(ProgramGlobals().currentTagUnit, a.unit);
}

TEST_F(TagsTest, TheStoredSaveDirectoryIsShownAtStart) {
    settingsLines = {"[保存目录]", "保存=D:\\音乐\\"};
    Start({});
    EXPECT_EQ(Utf8(windows->Unit(kSaveDirectoryLabel).text), "D:\\音乐\\");
}

TEST_F(TagsTest, WithoutASettingsFileTheSaveDirectoryLabelStaysEmpty) {
    windows->Unit(kSaveDirectoryLabel).text = "design";
    OnMainWindowCreated();  // no bc.ini, no catalogue at the default address in this test
    EXPECT_EQ(windows->Unit(kSaveDirectoryLabel).text, "design");
}

}  // namespace
}  // namespace tessel::testing
