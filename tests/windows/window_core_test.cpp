// The window core over a toolkit that keeps records: the form walk, the registry, copies, events
// and the decoding of the window commands that every toolkit shares.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "form_records.h"
#include "tessel/headless/headless.h"
#include "tessel/kernel/arguments.h"
#include "tessel/runtime/text.h"
#include "tessel/window_core/commands.h"
#include "tessel/window_core/core.h"
#include "tessel/window_core/records.h"

namespace tessel::windows {
namespace {

namespace type = image::unit_type;
using namespace image::event;

constexpr std::uint32_t kMain = 0x52010001, kOther = 0x52010002;
constexpr std::uint32_t kEdit = 0x16010004, kLabel = 0x16012630, kButton = 0x06012413,
                        kTimer = 0x06012540, kMenu = 0x46010010, kItem = 0x46010011,
                        kHidden = 0x06012414;
// Code offsets the form binds: one per event, so a test sees which one was raised.
constexpr std::uint32_t kCreatedAt = 0x100, kDestroyingAt = 0x104, kCloseAt = 0x108,
                        kClickAt = 0x10C, kItemAt = 0x110, kOtherDestroyingAt = 0x114;

image::Form TwoWindows() {
    constexpr std::uint32_t shownFocus = image::kUnitShown | image::kUnitTakesFocus;
    image::LabelProperties label;
    label.textColour = 0x0000FF;
    label.backColour = 0x00FF00;
    image::TimerProperties timer;
    timer.period = 1000;
    image::FormWindow main{};
    main.id = kMain;
    main.units = {
        Record(kMain, type::kWindow, image::kUnitShown, image::WindowProperties{},
               {{kCreated, kCreatedAt}, {kDestroying, kDestroyingAt}, {kCloseQuery, kCloseAt}}),
        Record(kEdit, type::kEditBox, shownFocus, image::EditBoxProperties{}),
        Record(kHidden, type::kButton, image::kUnitTakesFocus, image::ButtonProperties{}),
        Record(kButton, type::kButton, shownFocus, image::ButtonProperties{}, {{kClick, kClickAt}}),
        Record(kLabel, type::kLabel, image::kUnitShown, label, {{kLeftButtonDown, kClickAt}}),
        Record(kTimer, type::kTimer, 0, timer),
        MenuRecord(kMenu),
        MenuItemRecord(kItem, kItemAt),
    };
    image::FormWindow other{};
    other.id = kOther;
    other.units = {Record(kOther, type::kWindow, 0, image::WindowProperties{},
                          {{kDestroying, kOtherDestroyingAt}})};
    image::Form form;
    form.windows = {main, other};
    return form;
}

// Records what the core asks and runs a test's handler for each code offset.
class Toolkit final : public RecordToolkit {
  public:
    std::vector<std::uint32_t> focusOrder;
    int quits = 0;
    std::map<std::uint32_t, std::function<int()>> handlers;
    std::vector<UnitRef> refused;

    void FinishWindow(Window& window, const std::vector<Unit*>& order, bool show) override {
        RecordToolkit::FinishWindow(window, order, show);
        for (const Unit* u : order) focusOrder.push_back(u->id);
    }
    void Quit() override { ++quits; }
    int RunHandler(std::uint32_t codeOffset, std::int32_t a, std::int32_t b, std::int32_t c,
                   int fallback) override {
        RecordToolkit::RunHandler(codeOffset, a, b, c, fallback);
        const auto it = handlers.find(codeOffset);
        return it != handlers.end() ? it->second() : fallback;
    }
    void NoSuchUnit(UnitRef unit) override { refused.push_back(unit); }
};

class WindowCoreTest : public ::testing::Test {
  protected:
    WindowCoreTest() {
        headless::Install();
        toolkit.Attach(&core);
        Serve(&core);
    }
    ~WindowCoreTest() override { Serve(nullptr); }

    Value Command(std::uint32_t command, std::vector<Value> args) {
        Value result{};
        EXPECT_TRUE(RunWindowCommand(core, command, static_cast<std::uint32_t>(args.size()),
                                     args.data(), &result));
        return result;
    }
    std::int32_t Read(UnitRef unit, std::uint32_t property) {
        Value v{};
        ReadUnitProperty(core, unit, property, &v);
        return static_cast<std::int32_t>(v.low);
    }
    void Write(UnitRef unit, std::uint32_t property, std::int32_t value) {
        WriteUnitProperty(core, unit, property,
                          static_cast<Word>(static_cast<std::uint32_t>(value)));
    }

    image::Form form = TwoWindows();
    Toolkit toolkit;
    WindowCore core{toolkit, form};
};

TEST_F(WindowCoreTest, LoadingWalksTheFormOnceAndRaisesCreatedAfterTheUnits) {
    std::vector<std::uint32_t> seenAtCreated;
    toolkit.handlers[kCreatedAt] = [&] {
        core.ForEachUnit([&](const Unit& u) { seenAtCreated.push_back(u.id); });
        EXPECT_EQ(core.EventUnit().unit, kMain);  // the window raised it
        return 0;
    };
    ASSERT_TRUE(core.LoadWindow(kMain, true));
    EXPECT_EQ(seenAtCreated.size(), 8u);  // every unit of the form exists by then
    // The units that take the focus, shown or not, in stored order.
    EXPECT_EQ(toolkit.focusOrder, (std::vector<std::uint32_t>{kEdit, kHidden, kButton}));
    // Loading again only shows the window: no second walk, no second created event.
    ASSERT_TRUE(core.LoadWindow(kMain, true));
    EXPECT_EQ(toolkit.raisedHandlers, (std::vector<std::uint32_t>{kCreatedAt}));
    EXPECT_EQ(toolkit.loadedWindows, (std::vector<std::uint32_t>{kMain}));
    EXPECT_FALSE(core.LoadWindow(0x52010003, true));
    EXPECT_FALSE(core.EventUnit().IsSet());
}

TEST_F(WindowCoreTest, UnitsStartAsTheFormSaysAndMenusGroupTheirItems) {
    core.LoadWindow(kMain, true);
    EXPECT_EQ(Read({kMain, kLabel}, unit_property::kTextColour), 0x0000FF);
    EXPECT_EQ(Read({kMain, kLabel}, unit_property::kBackColour), 0x00FF00);
    EXPECT_EQ(Read({kMain, kButton}, unit_property::kBackColour), -1);  // no colour: transparent
    EXPECT_EQ(Read({kMain, kTimer}, unit_property::kTimerPeriod), 1000);
    EXPECT_EQ(Read({kMain, kHidden}, unit_property::kShown), 0);
    EXPECT_EQ(Read({kMain, kButton}, unit_property::kShown), 1);
    EXPECT_TRUE(core.FindUnit({kMain, kMenu})->isMenu);
    EXPECT_EQ(core.FindUnit({kMain, kItem})->clickHandler, kItemAt);
    core.RunMenuItem(*core.FindUnit({kMain, kItem}));
    EXPECT_EQ(toolkit.raisedHandlers.back(), kItemAt);
}

TEST_F(WindowCoreTest, PropertiesKeepTheTimersPlaceAndClampItsPeriod) {
    core.LoadWindow(kMain, true);
    const UnitRef timer{kMain, kTimer};
    Write(timer, unit_property::kLeft, 300);
    EXPECT_EQ(Read(timer, unit_property::kLeft), 300);
    EXPECT_EQ(Read(timer, unit_property::kWidth), 30);
    Write(timer, unit_property::kTimerPeriod, -5);
    EXPECT_EQ(Read(timer, unit_property::kTimerPeriod), 0);
    Write({kMain, kLabel}, unit_property::kTextColour, 0x123456);
    Write({kMain, kLabel}, unit_property::kTagMark, 1);
    EXPECT_EQ(Read({kMain, kLabel}, unit_property::kTextColour), 0x123456);
    EXPECT_EQ(Read({kMain, kLabel}, unit_property::kTagMark), 1);
    // A unit that is not loaded reads 0 and keeps nothing; the toolkit hears of it.
    Write({kOther, kOther}, unit_property::kLeft, 7);
    EXPECT_EQ(Read({kOther, kOther}, unit_property::kLeft), 0);
    EXPECT_EQ(toolkit.refused.size(), 2u);
}

TEST_F(WindowCoreTest, CopiesAreNumberedInTurnHiddenAndCarryColoursAndEvents) {
    core.LoadWindow(kMain, true);
    Write({kMain, kLabel}, unit_property::kTextColour, 0x0A0B0C);
    const Value label = UnitValue(kMain, kLabel, type::kLabel);
    const Value first = Command(window_command::kCopyUnit, {label});
    const Value second = Command(window_command::kCopyUnit, {label});
    EXPECT_EQ(first.high, kFirstCopyId);
    EXPECT_EQ(second.high, kFirstCopyId + 1);
    EXPECT_EQ(first.tag, type::kLabel);
    const UnitRef copy{kMain, first.high};
    EXPECT_EQ(Read(copy, unit_property::kShown), 0);
    EXPECT_EQ(Read(copy, unit_property::kTextColour), 0x0A0B0C);
    EXPECT_EQ(core.FindUnit(copy)->events.size(), 1u);
    // The window itself and menu items are not copied.
    EXPECT_EQ(Command(window_command::kCopyUnit, {UnitValue(kMain, kMain, type::kWindow)}).tag, 0u);
    EXPECT_EQ(Command(window_command::kCopyUnit, {UnitValue(kMain, kItem, type::kMenuItem)}).tag,
              0u);
    // Routed events: the copy of a button's events on the label.
    Command(window_command::kRouteEvents,
            {UnitValue(kMain, copy.unit, type::kLabel), UnitValue(kMain, kButton, type::kButton)});
    EXPECT_EQ(core.FindUnit(copy)->events.front().number, kClick);
}

TEST_F(WindowCoreTest, TheEventUnitIsTheInnermostRaisingUnit) {
    core.LoadWindow(kMain, true);
    Unit& button = *core.FindUnit({kMain, kButton});
    Unit& label = *core.FindUnit({kMain, kLabel});
    std::vector<std::uint32_t> seen;
    toolkit.handlers[kClickAt] = [&] {
        const Value unit = Command(window_command::kEventUnit, {});
        seen.push_back(unit.high);
        if (unit.high == kButton) core.RaiseEvent(label, kLeftButtonDown);
        seen.push_back(Command(window_command::kEventUnit, {}).high);
        return 0;
    };
    core.RaiseEvent(button, kClick);
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{kButton, kLabel, kLabel, kButton}));
    EXPECT_EQ(Command(window_command::kEventUnit, {}).tag, 0u);  // outside any event: omitted
}

TEST_F(WindowCoreTest, TheMainWindowTakesTheOthersWithItAndEndsTheLoop) {
    core.LoadWindow(kMain, true);
    core.LoadWindow(kOther, false);
    EXPECT_EQ(toolkit.quits, 0);
    Command(window_command::kDestroyWindow, {IntegerValue(static_cast<std::int32_t>(kMain))});
    EXPECT_EQ(toolkit.raisedHandlers,
              (std::vector<std::uint32_t>{kCreatedAt, kDestroyingAt, kOtherDestroyingAt}));
    EXPECT_EQ(toolkit.destroyedWindows, (std::vector<std::uint32_t>{kMain, kOther}));
    EXPECT_EQ(toolkit.quits, 1);
    EXPECT_EQ(core.LoadedWindow(kMain), nullptr);
    EXPECT_EQ(core.LoadedWindow(kOther), nullptr);
    // A window may be loaded again once it is gone.
    EXPECT_TRUE(core.LoadWindow(kMain, true));
}

TEST_F(WindowCoreTest, ADestroyingHandlerMayDestroyTheWindowItself) {
    core.LoadWindow(kMain, true);
    core.LoadWindow(kOther, false);
    int destroyed = 0;
    toolkit.handlers[kOtherDestroyingAt] = [&] {
        if (++destroyed == 1) core.DestroyWindow(kOther);  // again, from its own handler
        return 0;
    };
    core.DestroyWindow(kOther);
    EXPECT_EQ(toolkit.destroyedWindows, (std::vector<std::uint32_t>{kOther}));
    EXPECT_EQ(toolkit.quits, 0);  // not the main window
    EXPECT_NE(core.LoadedWindow(kMain), nullptr);
}

TEST_F(WindowCoreTest, TheCloseQueryDecidesAndWithoutAHandlerTheWindowMayGo) {
    core.LoadWindow(kMain, true);
    core.LoadWindow(kOther, false);
    toolkit.handlers[kCloseAt] = [] { return 0; };
    EXPECT_FALSE(core.MayClose(*core.LoadedWindow(kMain)));
    EXPECT_TRUE(core.MayClose(*core.LoadedWindow(kOther)));
}

TEST_F(WindowCoreTest, PopUpMenuNeedsALoadedWindowAndATopLevelMenu) {
    core.LoadWindow(kMain, true);
    const Value window = UnitValue(kMain, kMain, type::kWindow);
    Command(window_command::kPopUpMenu, {window, UnitValue(kMain, kItem, type::kMenuItem)});
    Command(window_command::kPopUpMenu,
            {UnitValue(kOther, kOther, type::kWindow), UnitValue(kMain, kMenu, type::kMenuItem)});
    EXPECT_EQ(toolkit.menusPoppedUp, 0);
    Command(window_command::kPopUpMenu, {window, UnitValue(kMain, kMenu, type::kMenuItem)});
    EXPECT_EQ(toolkit.menusPoppedUp, 1);
}

// A list of two columns and a status bar of two panes in a window of their own: the records
// take every cell and pane the form gives, and refuse the rest without touching the others.
TEST(RecordedReports, CellsAndPanesOutsideTheFormAreRefusedAndTheRestKept) {
    headless::Install();
    constexpr std::uint32_t kReports = 0x52010003, kList = 0x260123D8, kBar = 0x26012702;
    image::ReportListProperties list;
    list.columns.resize(2);
    image::StatusBarProperties bar;
    bar.panes = {{130, "状态：", ""}, {0, "", ""}};
    image::FormWindow window{};
    window.id = kReports;
    window.units = {Record(kReports, type::kWindow, 0, image::WindowProperties{}),
                    Record(kList, type::kReportList, 0, list),
                    Record(kBar, type::kStatusBar, 0, bar)};
    image::Form form;
    form.windows = {window};
    RecordToolkit toolkit;
    WindowCore core(toolkit, form);
    toolkit.Attach(&core);
    ASSERT_TRUE(core.LoadWindow(kReports, false));

    const Value listUnit = UnitValue(kReports, kList, tag::kReportList);
    const Value barUnit = UnitValue(kReports, kBar, tag::kStatusBar);
    auto run = [&](std::uint32_t command, std::vector<Value> args) {
        Value result{};
        RunReportCommand(toolkit, command, static_cast<std::uint32_t>(args.size()), args.data(),
                         &result);
        return result;
    };
    auto text = [&](Value v) {
        const Text owned(const_cast<char*>(AsText(v)));
        return std::string(owned.c_str());
    };
    auto setCell = [&](std::int32_t row, std::int32_t column, const char* t) {
        return run(facet::kListSetCell,
                   {listUnit, IntegerValue(row), IntegerValue(column), TextValue(t)})
                   .low != 0;
    };
    auto cell = [&](std::int32_t row, std::int32_t column) {
        return text(run(facet::kListReadCell, {listUnit, IntegerValue(row), IntegerValue(column)}));
    };

    EXPECT_EQ(run(facet::kListAppendRow, {listUnit}).low, 0u);
    EXPECT_EQ(run(facet::kListAppendRow, {listUnit}).low, 1u);
    EXPECT_TRUE(setCell(1, 1, "last"));
    for (const auto& [row, column] :
         std::vector<std::pair<int, int>>{{-1, 0}, {2, 0}, {0, -1}, {0, 2}}) {
        EXPECT_FALSE(setCell(row, column, "x")) << row << "," << column;
        EXPECT_EQ(cell(row, column), "") << row << "," << column;
    }
    EXPECT_EQ(cell(1, 1), "last");
    EXPECT_EQ(cell(0, 0), "");
    EXPECT_EQ(run(facet::kListRowCount, {listUnit}).low, 2u);

    auto setPane = [&](std::int32_t pane, const char* t) {
        return run(facet::kStatusSetPane, {barUnit, IntegerValue(pane), TextValue(t)}).low != 0;
    };
    auto pane = [&](std::int32_t index) {
        return text(run(facet::kStatusReadPane, {barUnit, IntegerValue(index)}));
    };
    EXPECT_EQ(pane(0), "状态：");
    EXPECT_TRUE(setPane(1, "speed"));
    EXPECT_FALSE(setPane(-1, "x"));
    EXPECT_FALSE(setPane(2, "x"));
    EXPECT_EQ(pane(2), "");
    EXPECT_EQ(pane(1), "speed");
    EXPECT_EQ(pane(0), "状态：");
}

}  // namespace
}  // namespace tessel::windows
