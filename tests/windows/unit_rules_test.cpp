// What the core decides for every toolkit: the key states events report (the bits of the Windows
// messages), a list column's alignment (the list view's column formats), a unit's starting text,
// which unit takes the focus, the player's trace lines, and a unit that cannot be made.
#include "tessel/window_core/unit_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "form_records.h"
#include "tessel/headless/headless.h"
#include "tessel/window_core/commands.h"
#include "tessel/window_core/core.h"
#include "tessel/window_core/records.h"

namespace tessel::windows {
namespace {

namespace type = image::unit_type;
using namespace image::event;

// The Windows values: WinUser.h's MK_* bits and CommCtrl.h's LVCFMT_* formats.
constexpr std::int32_t kMkLButton = 0x0001, kMkShift = 0x0004, kMkControl = 0x0008;
constexpr int kLvcfmtLeft = 0, kLvcfmtRight = 1, kLvcfmtCenter = 2;

TEST(KeyStates, ALeftButtonPressCarriesTheButtonAndTheShiftAndControlBits) {
    EXPECT_EQ(LeftButtonKeyState({}), kMkLButton);
    EXPECT_EQ(LeftButtonKeyState({.shift = true}), kMkLButton | kMkShift);
    EXPECT_EQ(LeftButtonKeyState({.control = true}), kMkLButton | kMkControl);
    EXPECT_EQ(LeftButtonKeyState({.shift = true, .control = true}),
              kMkLButton | kMkShift | kMkControl);
    // The button message has no bit for alt.
    EXPECT_EQ(LeftButtonKeyState({.alt = true}), kMkLButton);
}

TEST(KeyStates, AKeyDownReportsShiftControlAndAltAsOneTwoAndFour) {
    EXPECT_EQ(ShiftState({}), 0);
    EXPECT_EQ(ShiftState({.shift = true}), 1);
    EXPECT_EQ(ShiftState({.control = true}), 2);
    EXPECT_EQ(ShiftState({.alt = true}), 4);
    EXPECT_EQ(ShiftState({.shift = true, .control = true, .alt = true}), 7);
}

// The song list's columns store 0 for left and 1 for the duration column, shown centred; 2 is
// right-aligned text.
TEST(ColumnAlignments, StoredCodesBecomeTheListViewsColumnFormats) {
    EXPECT_EQ(static_cast<int>(ColumnAlignmentOf(0)), kLvcfmtLeft);
    EXPECT_EQ(static_cast<int>(ColumnAlignmentOf(1)), kLvcfmtCenter);
    EXPECT_EQ(static_cast<int>(ColumnAlignmentOf(2)), kLvcfmtRight);
    EXPECT_EQ(ColumnAlignmentOf(3), ColumnAlignment::kLeft);
    EXPECT_EQ(ColumnAlignmentOf(0xFFFFFFFF), ColumnAlignment::kLeft);
}

// The lines a test reading the player's trace file expects.
TEST(PlayerTrace, LinesNameWhatWasAskedAndTheStatesReported) {
    EXPECT_STREQ(kPlayerTraceVariable, "TESSEL_PLAYER_LOG");
    EXPECT_EQ(PlayerUrlTrace("http://127.0.0.1:8080/a.mp3"), "url http://127.0.0.1:8080/a.mp3");
    EXPECT_EQ(PlayerUrlTrace(""), "url ");
    EXPECT_EQ(PlayerStopTrace(), "stop");
    EXPECT_EQ(PlayerStateTrace(0, 13), "open-state 13");  // the control's open-state event
    EXPECT_EQ(PlayerStateTrace(1, 3), "play-state 3");    // its play-state event
    EXPECT_EQ(PlayerStateTrace(1, 8), "play-state 8");
}

constexpr std::uint32_t kMain = 0x52010001, kEdit = 0x16010004, kButton = 0x06012413,
                        kLabel = 0x16012630, kHidden = 0x06012414, kTimer = 0x06012540,
                        kList = 0x260123D8, kMenu = 0x46010010, kItem = 0x46010011;
constexpr std::uint32_t kCreatedAt = 0x100, kClickAt = 0x10C, kItemAt = 0x110;

// GBK: the button's caption "搜索", the label's "设置目录", the window's title "音乐".
const std::string kSearch = "\xCB\xD1\xCB\xF7";
const std::string kSaveDirectory = "\xC9\xE8\xD6\xC3\xC4\xBF\xC2\xBC";
const std::string kTitle = "\xD2\xF4\xC0\xD6";

image::Form OneWindow() {
    constexpr std::uint32_t shownFocus = image::kUnitShown | image::kUnitTakesFocus;
    image::WindowProperties window;
    window.title = kTitle;
    image::EditBoxProperties edit;
    edit.content = "abc";
    image::ButtonProperties button;
    button.caption = kSearch;
    image::LabelProperties label;
    label.caption = kSaveDirectory;
    image::ButtonProperties hidden;
    hidden.caption = "hidden";
    image::ReportListProperties list;
    list.columns.resize(5);
    image::FormWindow main{};
    main.id = kMain;
    main.units = {Record(kMain, type::kWindow, image::kUnitShown, window, {{kCreated, kCreatedAt}}),
                  Record(kHidden, type::kButton, image::kUnitTakesFocus, hidden),
                  Record(kEdit, type::kEditBox, shownFocus, edit),
                  Record(kButton, type::kButton, shownFocus, button, {{kClick, kClickAt}}),
                  Record(kLabel, type::kLabel, image::kUnitShown, label),
                  Record(kTimer, type::kTimer, 0, image::TimerProperties{}),
                  Record(kList, type::kReportList, shownFocus, list),
                  MenuRecord(kMenu),
                  MenuItemRecord(kItem, kItemAt)};
    image::Form form;
    form.windows = {main};
    return form;
}

TEST(StartingText, EachUnitStartsWithItsTitleCaptionOrContent) {
    const image::Form form = OneWindow();
    const auto& units = form.windows.front().units;
    EXPECT_EQ(FormText(units[0]), kTitle);
    EXPECT_EQ(FormText(units[2]), "abc");
    EXPECT_EQ(FormText(units[3]), kSearch);
    EXPECT_EQ(FormText(units[4]), kSaveDirectory);
    EXPECT_EQ(FormText(units[5]), "");  // a timer shows nothing
    EXPECT_EQ(FormText(units[6]), "");  // nor does a list

    // The records toolkit starts its units with the same texts.
    headless::Install();
    RecordToolkit toolkit;
    WindowCore core(toolkit, form);
    toolkit.Attach(&core);
    ASSERT_TRUE(core.LoadWindow(kMain, true));
    EXPECT_EQ(toolkit.Text(*core.FindUnit(UnitRef{kMain, kButton})), kSearch);
    EXPECT_EQ(toolkit.Text(*core.FindUnit(UnitRef{kMain, kMain})), kTitle);
}

// Records the focus order the core hands over and fails the units of one kind.
class Toolkit final : public RecordToolkit {
  public:
    std::uint32_t refusedKind = 0;
    std::vector<Unit*> focusOrder;
    std::vector<std::uint32_t> unitsAtDestroy;

    bool CreateUnit(Window& window, Unit& unit, bool shown) override {
        RecordToolkit::CreateUnit(window, unit, shown);
        return unit.type != refusedKind;
    }
    void FinishWindow(Window& window, const std::vector<Unit*>& order, bool show) override {
        RecordToolkit::FinishWindow(window, order, show);
        focusOrder = order;
    }
    void DestroyWindow(Window& window) override {
        RecordToolkit::DestroyWindow(window);
        for (const auto& [id, u] : window.units) unitsAtDestroy.push_back(id);
    }
};

class OneWindowTest : public ::testing::Test {
  protected:
    OneWindowTest() {
        headless::Install();
        toolkit.Attach(&core);
    }

    const image::Form form = OneWindow();
    Toolkit toolkit;
    WindowCore core{toolkit, form};
};

TEST_F(OneWindowTest, TheFirstShownUnitThatTakesTheFocusHasIt) {
    ASSERT_TRUE(core.LoadWindow(kMain, true));
    ASSERT_EQ(toolkit.focusOrder.size(), 4u);  // the hidden button takes it too, in tab order
    const Unit* first = FirstFocus(toolkit.focusOrder);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->id, kEdit);  // not the hidden button created before it
    EXPECT_EQ(FirstFocus({}), nullptr);
    EXPECT_EQ(FirstFocus({toolkit.focusOrder.front()}), nullptr);
}

TEST_F(OneWindowTest, AUnitTheToolkitCannotMakeIsNotRegisteredAndTheWindowStands) {
    toolkit.refusedKind = type::kReportList;

    ASSERT_TRUE(core.LoadWindow(kMain, true));
    EXPECT_EQ(core.FindUnit(UnitRef{kMain, kList}), nullptr);  // refused, not registered
    EXPECT_NE(core.FindUnit(UnitRef{kMain, kEdit}), nullptr);  // the others are there
    EXPECT_NE(core.MainWindow(), nullptr);
    EXPECT_EQ(toolkit.raisedHandlers, std::vector<std::uint32_t>{kCreatedAt});
    EXPECT_TRUE(toolkit.destroyedWindows.empty());

    // Nor is it among what the window takes with it.
    core.DestroyWindow(kMain);
    EXPECT_EQ(std::count(toolkit.unitsAtDestroy.begin(), toolkit.unitsAtDestroy.end(), kList), 0);
    EXPECT_EQ(std::count(toolkit.unitsAtDestroy.begin(), toolkit.unitsAtDestroy.end(), kEdit), 1);
}

TEST_F(OneWindowTest, ACopyTheToolkitCannotMakeIsNotRegistered) {
    ASSERT_TRUE(core.LoadWindow(kMain, true));
    toolkit.refusedKind = type::kLabel;
    EXPECT_EQ(core.CopyUnit(*core.FindUnit(UnitRef{kMain, kLabel})), nullptr);
    EXPECT_EQ(core.FindUnit(UnitRef{kMain, kFirstCopyId}), nullptr);
    toolkit.refusedKind = 0;
    const Unit* copy = core.CopyUnit(*core.FindUnit(UnitRef{kMain, kLabel}));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(core.FindUnit(UnitRef{kMain, copy->id}), copy);
}

TEST_F(OneWindowTest, AnEventForAUnitThatHasGoneRaisesNothing) {
    ASSERT_TRUE(core.LoadWindow(kMain, true));
    toolkit.raisedHandlers.clear();
    core.RaiseIfLoaded(UnitRef{kMain, kButton}, kClick);
    EXPECT_EQ(toolkit.raisedHandlers, std::vector<std::uint32_t>{kClickAt});
    core.DestroyWindow(kMain);
    toolkit.raisedHandlers.clear();
    core.RaiseIfLoaded(UnitRef{kMain, kButton}, kClick);
    core.RunMenuItemIfLoaded(UnitRef{kMain, kItem});
    EXPECT_TRUE(toolkit.raisedHandlers.empty());
}

TEST_F(OneWindowTest, AMenuItemStillLoadedRunsItsHandler) {
    ASSERT_TRUE(core.LoadWindow(kMain, true));
    toolkit.raisedHandlers.clear();
    core.RunMenuItemIfLoaded(UnitRef{kMain, kItem});
    core.RunMenuItemIfLoaded(UnitRef{kMain, 0x46019999});  // no such item
    EXPECT_EQ(toolkit.raisedHandlers, std::vector<std::uint32_t>{kItemAt});
}

TEST(ToolkitParts, AUnitNeverMadeGetsAnEmptyPartOnlyWhenAskedFor) {
    Unit unit;
    EXPECT_EQ(PartIfMade<RecordedUnit>(unit), nullptr);
    RecordedUnit& part = PartOf<RecordedUnit>(unit);
    EXPECT_EQ(part.text, "");
    EXPECT_FALSE(part.shown);
    EXPECT_EQ(PartIfMade<RecordedUnit>(unit), &part);
    EXPECT_EQ(&PartOf<RecordedUnit>(unit), &part);  // asked again: the same part
}

// A list of five columns and a bar of two panes as a toolkit that fails any question about a
// cell or pane outside them: the core answers those itself.
class CheckedReports final : public ReportUnits {
  public:
    std::vector<std::pair<std::int32_t, std::int32_t>> asked;
    std::vector<std::pair<std::size_t, std::int32_t>> outsideColumns, outsidePanes;

    bool Has(UnitRef, std::uint32_t) override { return true; }
    void DeleteAllRows(UnitRef) override {}
    std::int32_t AppendRow(UnitRef) override { return 0; }
    std::int32_t RowCount(UnitRef) override { return 3; }
    std::int32_t ColumnCount(UnitRef) override { return 5; }
    std::int32_t PaneCount(UnitRef) override { return 2; }
    bool SetCell(UnitRef, std::int32_t row, std::int32_t column, std::string_view) override {
        Ask(row, column, 3, 5);
        return true;
    }
    std::string Cell(UnitRef, std::int32_t row, std::int32_t column) override {
        Ask(row, column, 3, 5);
        return "cell";
    }
    std::int32_t SelectedRow(UnitRef) override { return -1; }
    bool SetPane(UnitRef, std::int32_t pane, std::string_view) override {
        Ask(pane, 0, 2, 1);
        return true;
    }
    std::string Pane(UnitRef, std::int32_t pane) override {
        Ask(pane, 0, 2, 1);
        return "pane";
    }
    Value NewText(std::string_view gbk) override {
        texts.emplace_back(gbk);
        return IntegerValue(static_cast<std::int32_t>(texts.size()) - 1);
    }
    void OutsideColumns(std::size_t columns, std::int32_t column) override {
        outsideColumns.emplace_back(columns, column);
    }
    void OutsidePanes(std::size_t panes, std::int32_t pane) override {
        outsidePanes.emplace_back(panes, pane);
    }
    std::vector<std::string> texts;

  private:
    void Ask(std::int32_t a, std::int32_t b, std::int32_t aEnd, std::int32_t bEnd) {
        EXPECT_TRUE(a >= 0 && a < aEnd && b >= 0 && b < bEnd) << a << "," << b;
        asked.emplace_back(a, b);
    }
};

TEST(ReportBounds, OnlyCellsAndPanesThatExistReachTheToolkit) {
    CheckedReports units;
    const Value list = UnitValue(1, 2, tag::kReportList);
    const Value bar = UnitValue(1, 3, tag::kStatusBar);
    auto run = [&](std::uint32_t command, std::vector<Value> args) {
        Value result{};
        RunReportCommand(units, command, static_cast<std::uint32_t>(args.size()), args.data(),
                         &result);
        return result;
    };
    auto text = [&](Value v) { return units.texts.at(v.low); };

    EXPECT_NE(
        run(facet::kListSetCell, {list, IntegerValue(2), IntegerValue(4), TextValue("x")}).low, 0u);
    EXPECT_EQ(text(run(facet::kListReadCell, {list, IntegerValue(0), IntegerValue(0)})), "cell");
    for (const auto& [row, column] :
         std::vector<std::pair<int, int>>{{-1, 0}, {3, 0}, {0, -1}, {0, 5}, {1, 9}}) {
        EXPECT_EQ(run(facet::kListSetCell,
                      {list, IntegerValue(row), IntegerValue(column), TextValue("x")})
                      .low,
                  0u)
            << row << "," << column;
        EXPECT_EQ(text(run(facet::kListReadCell, {list, IntegerValue(row), IntegerValue(column)})),
                  "");
    }
    // A column past the form's is reported with the form's count; a row past the list's is not.
    using Outside = std::vector<std::pair<std::size_t, std::int32_t>>;
    EXPECT_EQ(units.outsideColumns, (Outside{{5, 5}, {5, 5}, {5, 9}, {5, 9}}));

    EXPECT_NE(run(facet::kStatusSetPane, {bar, IntegerValue(1), TextValue("x")}).low, 0u);
    EXPECT_EQ(text(run(facet::kStatusReadPane, {bar, IntegerValue(0)})), "pane");
    EXPECT_EQ(run(facet::kStatusSetPane, {bar, IntegerValue(2), TextValue("x")}).low, 0u);
    EXPECT_EQ(text(run(facet::kStatusReadPane, {bar, IntegerValue(-1)})), "");
    EXPECT_EQ(units.outsidePanes, (Outside{{2, 2}, {2, -1}}));
    EXPECT_EQ(units.asked.size(), 4u);
}

}  // namespace
}  // namespace tessel::windows
