// Unit operations: what the wrappers hand the services, and the headless runtime's property store
// giving texts back as new blocks.
#include "tessel/runtime/units.h"

#include <gtest/gtest.h>

#include "recording_services.h"
#include "tessel/platform/headless.h"

namespace tessel {
namespace {

using testing::RecordingServices;

constexpr UnitRef kList{0x52010001, 0x260123D8};
constexpr UnitRef kLabel{0x52010001, 0x16012630};

TEST(UnitOperations, LibraryCommandsCarryRowCommandAndTypedUnit) {
    RecordingServices rs;
    rs.onLibrary = [](std::uint32_t row, std::uint32_t command, const std::vector<Value>&) {
        if (row == row::kFacet && command == facet::kListAppendRow) return IntegerValue(7);
        if (row == row::kMediaPlayer && command == player::kControls)
            return UnitValue(0x52010002, 0x56012801, tag::kMediaPlayerControls);
        return OmittedValue();
    };
    EXPECT_EQ(ListAppendRow(kList), 7);
    PlayerStop({0x52010002, 0x56012801});
    ASSERT_EQ(rs.calls.size(), 3u);
    const auto& append = rs.calls[0];
    EXPECT_EQ(append.words[0], row::kFacet);
    EXPECT_EQ(append.words[1], facet::kListAppendRow);
    ASSERT_EQ(append.values.size(), 5u);  // the list, then four omitted insertion arguments
    EXPECT_EQ(append.values[0].low, kList.window);
    EXPECT_EQ(append.values[0].high, kList.unit);
    EXPECT_EQ(append.values[0].tag, tag::kReportList);
    EXPECT_EQ(append.values[4].tag, tag::kOmitted);
    // Stopping asks the control for its controls object and hands that to the stop command.
    EXPECT_EQ(rs.calls[1].words[1], player::kControls);
    EXPECT_EQ(rs.calls[2].words[1], player::kStop);
    EXPECT_EQ(rs.calls[2].values[0].tag, tag::kMediaPlayerControls);
}

TEST(UnitOperations, HeadlessStoreGivesTextsBackAsNewBlocks) {
    headless::Install();
    char caption[] = "tag one";
    SetUnitText(kLabel, caption);
    caption[0] = 'X';  // the argument stays the caller's: the store kept its own copy
    SetUnitTag(kLabel, "id-1");
    SetUnitInteger(kLabel, unit_property::kTop, 48);
    const Text first = ReadUnitText(kLabel);
    const Text second = ReadUnitText(kLabel);
    EXPECT_STREQ(first.c_str(), "tag one");
    EXPECT_NE(first.c_str(), second.c_str());
    EXPECT_STREQ(ReadUnitTag(kLabel).c_str(), "id-1");
    EXPECT_EQ(ReadUnitInteger(kLabel, unit_property::kTop), 48);
    EXPECT_STREQ(ReadUnitText({1, 2}).c_str(), "");  // never written: the empty text
}

TEST(UnitOperations, HeadlessWindowCommandsAnswerWithoutWindows) {
    headless::Install();
    const UnitRef player{0x52010002, 0x52010002};
    EXPECT_FALSE(IsUnitCreated(player));
    EXPECT_FALSE(IsUnitCreated({}));
    EXPECT_TRUE(LoadWindow(player.window, false));
    EXPECT_TRUE(IsUnitCreated(player));
    DestroyWindow(player.window);
    EXPECT_FALSE(IsUnitCreated(player));
    const UnitRef copy = CopyUnit(kLabel, tag::kLabel);
    EXPECT_EQ(copy.window, kLabel.window);
    EXPECT_NE(copy.unit, kLabel.unit);
    RouteEvents(copy, kLabel, tag::kLabel);
    headless::SetEventUnit(copy.window, copy.unit, tag::kLabel);
    EXPECT_EQ(EventUnit().unit, copy.unit);
}

}  // namespace
}  // namespace tessel
