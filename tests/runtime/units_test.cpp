// Unit operations: what the wrappers hand the services, and the window core answering them over
// records (texts given back as new blocks, copies, routed events, loaded windows).
#include "tessel/runtime/units.h"

#include <gtest/gtest.h>

#include "recording_services.h"
#include "tessel/headless/headless.h"
#include "tessel/window_core/records.h"

namespace tessel {
namespace {

using testing::RecordingServices;

// Units as the program's windows number them: the list and a label of the main window, the
// player window and its control.
constexpr UnitRef kList{0x52010001, 0x260123D8};
constexpr UnitRef kLabel{0x52010001, 0x16012630};
constexpr std::uint32_t kPlayerWindowId = 0x52010002;
constexpr UnitRef kPlayerWindow{kPlayerWindowId, kPlayerWindowId};
constexpr UnitRef kPlayer{kPlayerWindowId, 0x56012801};

TEST(UnitOperations, LibraryCommandsCarryRowCommandAndTypedUnit) {
    RecordingServices rs;
    rs.onLibrary = [](std::uint32_t row, std::uint32_t command, const std::vector<Value>&) {
        if (row == row::kFacet && command == facet::kListAppendRow) return IntegerValue(7);
        if (row == row::kMediaPlayer && command == player::kControls)
            return UnitValue(kPlayer.window, kPlayer.unit, tag::kMediaPlayerControls);
        return OmittedValue();
    };
    EXPECT_EQ(ListAppendRow(kList), 7);
    PlayerStop(kPlayer);
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

// A window of a label and a player window, loaded through the window core onto records.
struct RecordWindows {
    RecordWindows() {
        image::FormWindow main{};
        main.id = kLabel.window;
        image::Unit self{};
        self.id = kLabel.window;
        self.type = image::unit_type::kWindow;
        self.properties = image::WindowProperties{};
        image::Unit label{};
        label.id = kLabel.unit;
        label.type = image::unit_type::kLabel;
        label.properties = image::LabelProperties{};
        main.units = {self, label};
        image::FormWindow player{};
        player.id = kPlayerWindowId;
        self.id = player.id;
        player.units = {self};
        form.windows = {main, player};
        toolkit.Attach(&core);
        windows::Serve(&core);
        core.LoadWindow(kLabel.window, true);
    }
    ~RecordWindows() { windows::Serve(nullptr); }
    image::Form form;
    windows::RecordToolkit toolkit;
    windows::WindowCore core{toolkit, form};
};

TEST(UnitOperations, PropertiesGiveTextsBackAsNewBlocks) {
    headless::Install();
    RecordWindows windows;
    char caption[] = "tag one";
    SetUnitText(kLabel, caption);
    caption[0] = 'X';  // the argument stays the caller's: the unit kept its own copy
    SetUnitTag(kLabel, "id-1");
    SetUnitInteger(kLabel, unit_property::kTop, 48);
    const Text first = ReadUnitText(kLabel);
    const Text second = ReadUnitText(kLabel);
    EXPECT_STREQ(first.c_str(), "tag one");
    EXPECT_NE(first.c_str(), second.c_str());
    EXPECT_STREQ(ReadUnitTag(kLabel).c_str(), "id-1");
    EXPECT_EQ(ReadUnitInteger(kLabel, unit_property::kTop), 48);
    EXPECT_STREQ(ReadUnitText({1, 2}).c_str(), "");  // no such unit: the empty text
}

TEST(UnitOperations, WindowCommandsLoadCopyAndRouteThroughTheCore) {
    headless::Install();
    RecordWindows windows;
    const UnitRef player = kPlayerWindow;
    EXPECT_FALSE(IsUnitCreated(player));
    EXPECT_FALSE(IsUnitCreated({}));
    EXPECT_TRUE(LoadWindow(player.window, false));
    EXPECT_TRUE(IsUnitCreated(player));
    EXPECT_TRUE(IsUnitCreated({player.window, 0}));  // a window's own record may leave the unit 0
    DestroyWindow(player.window);
    EXPECT_FALSE(IsUnitCreated(player));
    EXPECT_FALSE(LoadWindow(0x52010003, false));  // not in the form
    const UnitRef copy = CopyUnit(kLabel, tag::kLabel);
    EXPECT_EQ(copy.window, kLabel.window);
    EXPECT_EQ(copy.unit, windows::kFirstCopyId);
    EXPECT_EQ(CopyUnit(kLabel, tag::kLabel).unit, windows::kFirstCopyId + 1);
    EXPECT_FALSE(ReadUnitInteger(copy, unit_property::kShown));  // a copy is not shown
    RouteEvents(copy, kLabel, tag::kLabel);
    EXPECT_FALSE(EventUnit().IsSet());  // outside any event
    windows::WindowCore::EventScope raised(windows.core, copy);
    EXPECT_EQ(EventUnit().unit, copy.unit);
}

TEST(UnitOperations, WithoutARuntimeOfWindowsNoWindowLoads) {
    headless::Install();
    EXPECT_FALSE(LoadWindow(kLabel.window, false));
    EXPECT_FALSE(IsUnitCreated(kLabel));
    SetUnitText(kLabel, "nowhere");
    EXPECT_STREQ(ReadUnitText(kLabel).c_str(), "");
}

}  // namespace
}  // namespace tessel
