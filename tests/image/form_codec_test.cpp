// The form codec on a form with a unit of every type: the round trip keeps every unit and
// property, and damaged form data gives an error or a form that encodes back the same.
#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string>

#include "tessel/image/form.h"
#include "tessel/image/image.h"

namespace tessel::image {
namespace {

Form SampleForm() {
    Form form;
    FormWindow main;
    main.id = 0x52010001;
    main.classWord = unit_type::kWindow;
    Unit self;
    self.id = main.id;
    self.type = unit_type::kWindow;
    self.name = "main";
    self.left = 50;
    self.top = 50;
    self.width = 811;
    self.height = 498;
    self.flags = 1;
    self.events = {{0, 0x00}, {2, 0x2D}};
    WindowProperties wp;
    wp.icon = Bytes(300, 7);
    wp.title = "title";
    self.properties = wp;
    main.units.push_back(self);
    auto unit = [](std::uint32_t id, std::uint32_t type, UnitProperties p) {
        Unit u;
        u.id = id;
        u.type = type;
        u.name = "u" + std::to_string(id);
        u.comment = "c";
        u.left = -1;
        u.top = 2;
        u.width = 3;
        u.height = 4;
        u.flags = 5;
        u.events = {{-3, 0x0F}, {-9, 0x0A}};
        u.properties = std::move(p);
        return u;
    };
    main.units.push_back(unit(1, unit_type::kEditBox, EditBoxProperties{0xFFFFFF, ""}));
    main.units.push_back(unit(2, unit_type::kButton, ButtonProperties{"go"}));
    main.units.push_back(
        unit(3, unit_type::kLabel, LabelProperties{0xFF, LabelProperties::kNoColour, "x"}));
    main.units.push_back(unit(4, unit_type::kTimer, TimerProperties{1000}));
    main.units.push_back(
        unit(5, unit_type::kStatusBar, StatusBarProperties{{{130, "a", ""}, {300, "", ""}}}));
    main.units.push_back(
        unit(6, unit_type::kReportList, ReportListProperties{1, 0xFFFFFF, {{"", -1, 1, 50, "h"}}}));
    main.units.push_back(unit(7, 0x30009, Bytes{1, 2, 3}));
    Unit menu;
    menu.id = 8;
    menu.type = unit_type::kMenuItem;
    menu.name = "menu";
    menu.properties = MenuItemProperties{0, 3, "menu", kNone};
    main.units.push_back(menu);
    form.windows.push_back(main);

    FormWindow player;
    player.id = 0x52010002;
    Unit p;
    p.id = 9;
    p.type = unit_type::kMediaPlayer;
    MediaPlayerProperties mp;
    ControlValue text;
    text.type = ControlValue::kText;
    text.text = u"full";
    ControlValue number;
    number.type = ControlValue::kDouble;
    number.number = 1.0;
    ControlValue logical;
    logical.type = ControlValue::kLogical;
    logical.logical = true;
    ControlValue integer;
    integer.integer = 100;
    mp.values = {text, number, logical, integer};
    mp.extentX = 9948;
    mp.extentY = 847;
    p.properties = mp;
    player.units.push_back(p);
    form.windows.push_back(player);
    return form;
}

TEST(FormCodec, RoundTripKeepsEveryUnitAndProperty) {
    const auto form = SampleForm();
    const auto bytes = EncodeForm(form);
    EXPECT_EQ(LoadU32(bytes, 0), 16u);  // 8 per window
    EXPECT_EQ(LoadU32(bytes, 4), 0x52010001u);
    const auto r = DecodeForm(bytes);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(EncodeForm(r.form), bytes);
    ASSERT_EQ(r.form.windows.size(), 2u);
    const auto& units = r.form.windows[0].units;
    ASSERT_EQ(units.size(), 9u);
    EXPECT_EQ(units[0].events.size(), 2u);
    EXPECT_EQ(std::get<WindowProperties>(units[0].properties).title, "title");
    EXPECT_EQ(std::get<WindowProperties>(units[0].properties).icon.size(), 300u);
    EXPECT_EQ(units[3].left, -1);
    EXPECT_EQ(std::get<LabelProperties>(units[3].properties).caption, "x");
    EXPECT_EQ(std::get<StatusBarProperties>(units[5].properties).panes[1].width, 300u);
    EXPECT_EQ(std::get<ReportListProperties>(units[6].properties).columns[0].header, "h");
    EXPECT_EQ(std::get<Bytes>(units[7].properties), (Bytes{1, 2, 3}));
    EXPECT_EQ(std::get<MenuItemProperties>(units[8].properties).menuBarWord, 3u);
    const auto& mp = std::get<MediaPlayerProperties>(r.form.windows[1].units[0].properties);
    ASSERT_EQ(mp.values.size(), 4u);
    EXPECT_EQ(mp.values[0].text, u"full");
    EXPECT_EQ(mp.values[1].number, 1.0);
    EXPECT_TRUE(mp.values[2].logical);
    EXPECT_EQ(mp.values[3].integer, 100);
    EXPECT_EQ(mp.extentY, 847u);
}

TEST(FormCodec, DamagedFormDataGivesAnError) {
    const auto bytes = EncodeForm(SampleForm());
    for (std::size_t n = 0; n < bytes.size(); n += 3) {
        const auto r = DecodeForm(std::span(bytes).first(n));
        EXPECT_FALSE(r.ok) << n;
    }
    // A verdict for every damaged copy: a refusal with its reason, or a form that encodes back
    // to a form that decodes the same.
    std::mt19937 random(4);
    int refused = 0;
    for (int round = 0; round < 2000; ++round) {
        auto damaged = bytes;
        damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
        const auto r = DecodeForm(damaged);
        EXPECT_EQ(r.ok, r.error.empty()) << round << ": " << r.error;
        if (!r.ok) {
            ++refused;
            continue;
        }
        const auto again = DecodeForm(EncodeForm(r.form));
        ASSERT_TRUE(again.ok) << round << ": " << again.error;
        EXPECT_EQ(EncodeForm(again.form), EncodeForm(r.form)) << round;
    }
    EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace tessel::image
