// One unit record of every type, written out byte by byte from the record layout (little-endian
// words), checked both ways: decoding it gives the unit, encoding the unit gives it.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "tessel/image/form.h"

namespace tessel::image {
namespace {

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Zeros(std::size_t count) {
    return Bytes(count, 0);
}

// Ids of no meaning to the codec: one window holding the record under test.
constexpr std::uint32_t kWindowId = 0x52010009;
constexpr std::uint32_t kUnitId = 0x16010101;

// From the type word to the end of the zero word behind the comment, for a unit named "n"
// without a comment.
Bytes Head(Bytes typeWord) {
    return Join({typeWord, Zeros(20), {'n', 0}, {0}, Zeros(4)});
}

// What every record but a menu item's holds between its head and its properties: a unit at
// left -1, top 2, 3 wide and 4 high, shown and taking the focus, whose double-click runs
// code+0x0F. 81 bytes.
const Bytes kPlaced = Join({
    {0xFF, 0xFF, 0xFF, 0xFF},  // left -1
    {0x02, 0x00, 0x00, 0x00},  // top
    {0x03, 0x00, 0x00, 0x00},  // width
    {0x04, 0x00, 0x00, 0x00},  // height
    Zeros(12),
    {0x04},
    Zeros(12),                 // 25 bytes, all zero but the 13th
    {0x05, 0x00, 0x00, 0x00},  // flags: shown (1), takes the focus (4)
    Zeros(4),                  //
    {0x01, 0x00, 0x00, 0x00},  // one event:
    {0xFD, 0xFF, 0xFF, 0xFF},  //   double-click (-3)
    {0x0F, 0x00, 0x00, 0x00},  //   its handler at code+0x0F
    Zeros(20),
});

// The unit that kPlaced and Head describe, holding these properties.
Unit PlacedUnit(std::uint32_t type, UnitProperties properties) {
    Unit u;
    u.id = kUnitId;
    u.type = type;
    u.name = "n";
    u.left = -1;
    u.top = 2;
    u.width = 3;
    u.height = 4;
    u.flags = kUnitShown | kUnitTakesFocus;
    u.events = {{event::kDoubleClick, 0x0F}};
    u.properties = std::move(properties);
    return u;
}

struct Golden {
    const char* type;
    Bytes record;  // from its length word on
    Unit unit;
};

std::vector<Golden> Goldens() {
    std::vector<Golden> goldens;

    WindowProperties window;
    window.border = 2;
    window.minimizeButton = 1;
    window.maximizeButton = 0;
    window.startPosition = 3;
    window.icon = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00};  // an icon file that holds no image
    window.title = "title";
    goldens.push_back({"window",
                       Join({{0x97, 0x00, 0x00, 0x00},
                             Head({0x01, 0x00, 0x01, 0x00}),
                             kPlaced,
                             {0x06, 0x00, 0x00, 0x00},  // version 6
                             {0x02, 0x00, 0x00, 0x00},  // border
                             {0x01, 0x00, 0x00, 0x00},  // minimize button
                             {0x00, 0x00, 0x00, 0x00},  // maximize button
                             {0x03, 0x00, 0x00, 0x00},  // start position
                             {0x06, 0x00, 0x00, 0x00},  // icon: its size, then the file
                             {0x00, 0x00, 0x01, 0x00, 0x00, 0x00},
                             {0x05, 0x00, 0x00, 0x00, 't', 'i', 't', 'l', 'e'}}),
                       PlacedUnit(unit_type::kWindow, window)});

    goldens.push_back({"edit box",
                       Join({{0x7E, 0x00, 0x00, 0x00},
                             Head({0x05, 0x00, 0x01, 0x00}),
                             kPlaced,
                             {0x02, 0x00, 0x00, 0x00},  // version 2
                             {0xFF, 0xFF, 0xFF, 0x00},  // white background
                             {0x02, 0x00, 0x00, 0x00, 'a', 'b'}}),
                       PlacedUnit(unit_type::kEditBox, EditBoxProperties{0xFFFFFF, "ab"})});

    goldens.push_back(
        {"label",
         Join({{0x81, 0x00, 0x00, 0x00},
               Head({0x0A, 0x00, 0x01, 0x00}),
               kPlaced,
               {0x02, 0x00, 0x00, 0x00},  // version 2
               {0xFF, 0x00, 0x00, 0x00},  // red text
               {0xFF, 0xFF, 0xFF, 0xFF},  // transparent background
               {0x01, 0x00, 0x00, 0x00, 'x'}}),
         PlacedUnit(unit_type::kLabel, LabelProperties{0xFF, LabelProperties::kNoColour, "x"})});

    goldens.push_back({"button",
                       Join({{0x7A, 0x00, 0x00, 0x00},
                             Head({0x0B, 0x00, 0x01, 0x00}),
                             kPlaced,
                             {0x01, 0x00, 0x00, 0x00},  // version 1
                             {0x02, 0x00, 0x00, 0x00, 'g', 'o'}}),
                       PlacedUnit(unit_type::kButton, ButtonProperties{"go"})});

    goldens.push_back({"timer",
                       Join({{0x78, 0x00, 0x00, 0x00},
                             Head({0x20, 0x00, 0x01, 0x00}),
                             kPlaced,
                             {0x01, 0x00, 0x00, 0x00},    // version 1
                             {0xE8, 0x03, 0x00, 0x00}}),  // period 1000 ms
                       PlacedUnit(unit_type::kTimer, TimerProperties{1000})});

    goldens.push_back(
        {"status bar",
         Join({{0x91, 0x00, 0x00, 0x00},
               Head({0x02, 0x00, 0x02, 0x00}),
               kPlaced,
               {0x01, 0x00, 0x00, 0x00},  // version 1
               {0x02, 0x00, 0x00, 0x00},  // two panes:
               {0x82, 0x00, 0x00, 0x00},  //   130 wide,
               {0x01, 0x00, 0x00, 0x00, 'a'},
               Zeros(4),                  //   an empty second text
               {0x2C, 0x01, 0x00, 0x00},  //   300 wide, both texts empty
               Zeros(4),
               Zeros(4)}),
         PlacedUnit(unit_type::kStatusBar, StatusBarProperties{{{130, "a", ""}, {300, "", ""}}})});

    goldens.push_back({"report list",
                       Join({{0x95, 0x00, 0x00, 0x00},
                             Head({0x04, 0x00, 0x02, 0x00}),
                             kPlaced,
                             {0x01, 0x00, 0x00, 0x00},  // version 1
                             {0x01, 0x00, 0x00, 0x00},  // report view
                             {0xFF, 0xFF, 0xFF, 0x00},  // white background
                             {0x01, 0x00, 0x00, 0x00},  // one column:
                             Zeros(4),                  //   an empty text
                             {0xFF, 0xFF, 0xFF, 0xFF},  //   image -1
                             {0x01, 0x00, 0x00, 0x00},  //   alignment code 1
                             {0x32, 0x00, 0x00, 0x00},  //   50 wide
                             {0x01, 0x00, 0x00, 0x00, 'h'}}),
                       PlacedUnit(unit_type::kReportList,
                                  ReportListProperties{1, 0xFFFFFF, {{"", -1, 1, 50, "h"}}})});

    MediaPlayerProperties player;
    player.header = {1, 2, 3, 4, 5};
    player.values = {ControlValue::OfText(u"full"), ControlValue::OfDouble(1.0),
                     ControlValue::OfLogical(true), ControlValue::OfInteger(100)};
    player.extentX = 9948;
    player.extentY = 847;
    goldens.push_back({"media player",
                       Join({{0xA9, 0x00, 0x00, 0x00},
                             Head({0x03, 0x00, 0x05, 0x00}),
                             kPlaced,
                             {'W', 'M', 'P', '1'},      // signature
                             {0x01, 0x00, 0x00, 0x00},  // version 1
                             {0x01, 0x02, 0x03, 0x04, 0x05},
                             {0x08, 0x00},  // text: byte length, UTF-16, terminator
                             {0x0A, 0x00, 0x00, 0x00},
                             {'f', 0, 'u', 0, 'l', 0, 'l', 0, 0, 0},
                             {0x05, 0x00},  // double 1.0
                             {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F},
                             {0x0B, 0x00, 0xFF, 0xFF},              // logical true
                             {0x03, 0x00, 0x64, 0x00, 0x00, 0x00},  // integer 100
                             {0xDC, 0x26, 0x00, 0x00},              // extent 9948
                             {0x4F, 0x03, 0x00, 0x00}}),            //   x 847
                       PlacedUnit(unit_type::kMediaPlayer, player)});

    // A type the codec does not know keeps the rest of its record as bytes.
    goldens.push_back({"unknown type",
                       Join({{0x73, 0x00, 0x00, 0x00},
                             Head({0x09, 0x00, 0x03, 0x00}),
                             kPlaced,
                             {0x01, 0x02, 0x03}}),
                       PlacedUnit(0x30009, Bytes{1, 2, 3})});

    // A menu item has no geometry, events or properties: the item follows the head.
    Unit menu;
    menu.id = kUnitId;
    menu.type = unit_type::kMenuItem;
    menu.name = "n";
    menu.properties = MenuItemProperties{1, 3, "menu", 0x32};
    goldens.push_back({"menu item",
                       Join({{0x40, 0x00, 0x00, 0x00},
                             Head({0x03, 0x00, 0x01, 0x00}),
                             {0x01, 0x00, 0x00, 0x00},  // level 1: an item
                             {0x03, 0x00, 0x00, 0x00},  // menu bar word
                             {'m', 'e', 'n', 'u', 0},
                             {0x32, 0x00, 0x00, 0x00},  // click handler at code+0x32
                             Zeros(16)}),
                       menu});
    return goldens;
}

// The form of one window (kWindowId, class word of a window) that holds this one record for
// kUnitId.
Bytes OneRecordForm(const Bytes& record) {
    const auto blockSize = static_cast<std::uint32_t>(8 + record.size());
    return Join({{0x08, 0x00, 0x00, 0x00},  // window list: 8 bytes follow
                 {0x09, 0x00, 0x01, 0x52},  // window id
                 Zeros(4),                  // its unused list word
                 Zeros(4),                  // the unused word of the window block
                 {0x01, 0x00, 0x01, 0x00},  // class word
                 Zeros(8),
                 {0x01, 0x00, 0x00, 0x00},  // one unit
                 {static_cast<std::uint8_t>(blockSize), static_cast<std::uint8_t>(blockSize >> 8),
                  0x00, 0x00},
                 {0x01, 0x01, 0x01, 0x16},  // unit id
                 Zeros(4),                  // its record at offset 0
                 record});
}

Form OneUnitForm(const Unit& unit) {
    FormWindow window;
    window.id = kWindowId;
    window.classWord = unit_type::kWindow;
    window.units = {unit};
    return Form{{window}};
}

TEST(FormGolden, EveryRecordLengthCountsTheRestOfItsRecord) {
    for (const auto& g : Goldens()) {
        EXPECT_EQ(g.record[0] + 4u, g.record.size()) << g.type;
    }
}

TEST(FormGolden, DecodingEachRecordGivesItsUnit) {
    for (const auto& g : Goldens()) {
        SCOPED_TRACE(g.type);
        const auto r = DecodeForm(OneRecordForm(g.record));
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.form, OneUnitForm(g.unit));
    }
}

TEST(FormGolden, EncodingEachUnitGivesItsRecord) {
    for (const auto& g : Goldens()) {
        EXPECT_EQ(EncodeForm(OneUnitForm(g.unit)), OneRecordForm(g.record)) << g.type;
    }
}

}  // namespace
}  // namespace tessel::image
