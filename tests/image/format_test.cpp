// The image format on its own: write/read round trip, the fix-up, `@reloc1` groups, the form
// codec, and a reader that stays safe on damaged input. Portable: runs natively and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "tessel/image/form.h"
#include "tessel/image/image.h"

namespace tessel::image {
namespace {

// An image shaped like the program's: const with a method table at 0x103 (first entry fixed up
// by the word 0x81B), code ending in service entries, var without stored data, @reloc1 last.
Image SampleImage() {
    Image img;
    Bytes constData(0x103 + 8, 0);
    const char* kernel = "kernel32.dll";
    const char* function = "WideCharToMultiByte";
    std::memcpy(constData.data() + 1, kernel, std::strlen(kernel) + 1);
    std::memcpy(constData.data() + 20, function, std::strlen(function) + 1);
    StoreU32(constData, 0x103, 0x10);  // class method table: code offsets 0x10 and 0x15
    StoreU32(constData, 0x107, 0x15);
    img.dllLibraries = {0, 1};
    img.dllFunctions = {20, 20};
    img.libraryRows = {
        "basalt\r0123456789ABCDEF0123456789ABCDEF\r5\r3\rcore",
        "@@wmp.dll\r{6BF52A52-394A-11d3-B153-00C04F79FAA6}##0\r1\r0\rplayer\r"
        "0,{74C09E02-F828-11D2-A74B-00A0C905F36E},IWMPControls,{62,51,},{61,},{}"
        "2,{00000000-0000-0000-0000-000000000000},WMPPlayState,{},{1073741825,1073741824,},{}"};
    Bytes code(0x20, 0x90);
    code[0x1A] = 0xFF;
    code[0x1B] = 0x25;
    StoreU32(code, 0x1C, 0x24);   // service entry through slot 0x24
    StoreU32(code, 0x04, 0x103);  // a const offset
    StoreU32(code, 0x08, 0x4);    // a var offset
    StoreU32(code, 0x0C, 0x15);   // a code offset
    img.sections.push_back(StoredSection("const", 1, constData,
                                         {RelocationWord(0x103, RelocationKind::kCode),
                                          RelocationWord(0x107, RelocationKind::kCode)}));
    img.sections.push_back(StoredSection("form", 1, Bytes{8, 0, 0, 0, 1, 0, 1, 0x52, 0, 0, 0, 0}));
    img.sections.push_back(StoredSection("help", 1, Bytes(56, 0)));
    img.sections.push_back(StoredSection(
        "code", 5, code,
        {RelocationWord(0x1C, RelocationKind::kService),
         RelocationWord(0x04, RelocationKind::kConst), RelocationWord(0x08, RelocationKind::kVar),
         RelocationWord(0x0C, RelocationKind::kCode)}));
    Section var;
    var.name = "var";
    var.flags = 19;
    var.memorySize = 16;
    var.stored = false;
    img.sections.push_back(var);
    img.reloc1 = {std::vector<std::uint32_t>{0x04}, {0x08}, {}, {0x0C, 0x10}};
    img.sections.push_back(StoredSection("@reloc1", 1, EncodeReloc1(img.reloc1)));
    img.entryCodeOffset = 0x15;
    return img;
}

Bytes Written(const Image& img, Layout* layout = nullptr) {
    std::string error;
    auto bytes = WriteImage(img, layout, &error);
    EXPECT_FALSE(bytes.empty()) << error;
    return bytes;
}

TEST(ImageFormat, RoundTripKeepsEveryTableSectionAndWord) {
    const auto img = SampleImage();
    Layout layout;
    const auto bytes = Written(img, &layout);
    const auto r = ReadImage(bytes);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.image.reserved, kReservedWords);
    EXPECT_EQ(r.image.entryCodeOffset, 0x15u);
    EXPECT_EQ(r.image.dllLibraries, img.dllLibraries);
    EXPECT_EQ(r.image.dllFunctions, img.dllFunctions);
    EXPECT_EQ(r.image.libraryRows, img.libraryRows);
    EXPECT_EQ(r.image.reloc1, img.reloc1);
    ASSERT_EQ(r.image.sections.size(), img.sections.size());
    for (std::size_t i = 0; i < img.sections.size(); ++i) {
        SCOPED_TRACE(img.sections[i].name);
        EXPECT_EQ(r.image.sections[i].name, img.sections[i].name);
        EXPECT_EQ(r.image.sections[i].flags, img.sections[i].flags);
        EXPECT_EQ(r.image.sections[i].memorySize, img.sections[i].memorySize);
        EXPECT_EQ(r.image.sections[i].stored, img.sections[i].stored);
        EXPECT_EQ(r.image.sections[i].data, img.sections[i].data);
        EXPECT_EQ(r.image.sections[i].relocations, img.sections[i].relocations);
    }
    EXPECT_EQ(r.layout.headerOffsets, layout.headerOffsets);
    EXPECT_EQ(r.layout.dataOffsets, layout.dataOffsets);
    EXPECT_EQ(r.layout.size, bytes.size());
    // Writing what was read gives the same bytes.
    EXPECT_EQ(Written(r.image), bytes);
}

TEST(ImageFormat, HeaderFieldsAndChainAsLaidOut) {
    Layout layout;
    const auto bytes = Written(SampleImage(), &layout);
    EXPECT_EQ(LoadU32(bytes, 0x28), 1u);
    EXPECT_EQ(LoadU32(bytes, 0x2C), 3u);
    EXPECT_EQ(LoadU32(bytes, 0x30), 0u);
    EXPECT_EQ(LoadU32(bytes, 0x34), 0x1931Eu);
    EXPECT_EQ(LoadU32(bytes, 0x38), 2u);
    for (int i = 0; i < 36; ++i) EXPECT_EQ(bytes[i], 0) << i;
    // The first header follows the library table's empty row directly.
    EXPECT_EQ(LoadU32(bytes, 0x24), layout.headerOffsets[0]);
    EXPECT_EQ(bytes[layout.headerOffsets[0] - 1], 0);
    EXPECT_EQ(bytes[layout.headerOffsets[0] - 2], 0);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(LoadU32(bytes, 0x40 + 4 * k), layout.headerOffsets[k]);
    EXPECT_EQ(LoadU32(bytes, 0x54), layout.headerOffsets[0]);
    EXPECT_EQ(LoadU32(bytes, 0x3C), layout.dataOffsets[3] + 0x15);
    // Each next field reaches the following header; the last one holds 0xFFFFFFFF and only the
    // @reloc1 data follows it.
    for (std::size_t i = 0; i + 1 < layout.headerOffsets.size(); ++i)
        EXPECT_EQ(LoadU32(bytes, layout.headerOffsets[i] + 4), layout.headerOffsets[i + 1]);
    const auto last = layout.headerOffsets.back();
    EXPECT_EQ(LoadU32(bytes, last + 4), kNone);
    EXPECT_EQ(layout.dataOffsets.back() + 4 * 8, bytes.size());
    // Header size counts the relocation words.
    EXPECT_EQ(LoadU32(bytes, layout.headerOffsets[3]), 56u + 4 * 4);
}

TEST(ImageFormat, VarHasMemoryButNoStoredData) {
    Layout layout;
    const auto bytes = Written(SampleImage(), &layout);
    const auto var = layout.headerOffsets[4];
    EXPECT_EQ(LoadU32(bytes, var + 0x08), 19u);
    EXPECT_EQ(LoadU32(bytes, var + 0x24), 16u);
    EXPECT_EQ(LoadU32(bytes, var + 0x28), 0u);
    EXPECT_EQ(LoadU32(bytes, var + 0x2C), kNone);
    // Its next header follows the 56-byte header directly.
    EXPECT_EQ(LoadU32(bytes, var + 4), var + 56);
    const auto r = ReadImage(bytes);
    ASSERT_TRUE(r.ok) << r.error;
    const auto* s = r.image.Find("var");
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(s->stored);
    EXPECT_EQ(s->memorySize, 16u);
    EXPECT_TRUE(s->data.empty());
}

TEST(ImageFormat, FixUpAddsTheBaseOfEachKind) {
    auto img = SampleImage();
    RelocationBases bases{0x00500000, 0x00410000, 0x00620000, 0x00730000};
    // The word 0x81B in const turns the first method-table entry into the code address.
    auto& constSection = *img.Find("const");
    ASSERT_EQ(constSection.relocations[0], 0x81Bu);
    ASSERT_TRUE(FixUpSection(constSection.data, constSection.relocations, bases));
    EXPECT_EQ(LoadU32(constSection.data, 0x103), 0x00730000u + 0x10);
    EXPECT_EQ(LoadU32(constSection.data, 0x107), 0x00730000u + 0x15);

    auto& code = *img.Find("code");
    ASSERT_TRUE(FixUpSection(code.data, code.relocations, bases));
    EXPECT_EQ(LoadU32(code.data, 0x1C), 0x00500000u + 0x24);
    EXPECT_EQ(LoadU32(code.data, 0x04), 0x00410000u + 0x103);
    EXPECT_EQ(LoadU32(code.data, 0x08), 0x00620000u + 0x4);
    EXPECT_EQ(LoadU32(code.data, 0x0C), 0x00730000u + 0x15);
}

TEST(ImageFormat, FixUpRefusesWordsOutsideTheDataAndChangesNothing) {
    Bytes data(16, 0);
    const std::vector<std::uint32_t> words = {RelocationWord(0, RelocationKind::kConst),
                                              RelocationWord(13, RelocationKind::kConst)};
    EXPECT_FALSE(FixUpSection(data, words, {0, 0x1000, 0, 0}));
    EXPECT_EQ(data, Bytes(16, 0));
    const std::vector<std::uint32_t> badKind = {RelocationWord(0, RelocationKind::kConst) + 4};
    EXPECT_FALSE(FixUpSection(data, badKind, {}));
}

TEST(ImageFormat, ConstOffsetZeroIsTheEmptyText) {
    const auto r = ReadImage(Written(SampleImage()));
    ASSERT_TRUE(r.ok) << r.error;
    const auto& data = r.image.Find("const")->data;
    EXPECT_EQ(ConstText(data, 0), std::optional<std::string>(""));
    EXPECT_EQ(ConstText(data, 1), std::optional<std::string>("kernel32.dll"));
    EXPECT_EQ(ConstText(data, static_cast<std::uint32_t>(data.size())), std::nullopt);
}

TEST(ImageFormat, Reloc1StatedSizeMayBeUpToFourBytesShort) {
    Layout layout;
    auto bytes = Written(SampleImage(), &layout);
    const auto header = layout.headerOffsets.back();
    const auto trueSize = LoadU32(bytes, header + 0x28);
    for (std::uint32_t shortBy : {0u, 4u}) {
        StoreU32(bytes, header + 0x24, trueSize - shortBy);
        StoreU32(bytes, header + 0x28, trueSize - shortBy);
        const auto r = ReadImage(bytes);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.image.reloc1, SampleImage().reloc1);
    }
    StoreU32(bytes, header + 0x24, trueSize - 8);
    StoreU32(bytes, header + 0x28, trueSize - 8);
    EXPECT_FALSE(ReadImage(bytes).ok);
}

TEST(ImageFormat, DamagedImagesGiveAnErrorNotACrash) {
    const auto bytes = Written(SampleImage());
    // Every truncation is refused with a message.
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        const auto r = ReadImage(std::span(bytes).first(n));
        EXPECT_FALSE(r.ok) << n;
        EXPECT_FALSE(r.error.empty()) << n;
    }
    // A chain that loops, a header out of reach, and an absurd DLL count.
    Layout layout;
    auto looped = Written(SampleImage(), &layout);
    StoreU32(looped, layout.headerOffsets[2] + 4, layout.headerOffsets[0]);
    EXPECT_NE(ReadImage(looped).error.find("loops"), std::string::npos);
    auto far = looped;
    StoreU32(far, layout.headerOffsets[2] + 4, 0x7FFFFFF0);
    EXPECT_FALSE(ReadImage(far).ok);
    auto count = Written(SampleImage());
    StoreU32(count, 0x38, 0xFFFFFFFF);
    EXPECT_FALSE(ReadImage(count).ok);
    // Random damage never reads outside the buffer (the sanitizer build checks that), and the
    // verdict holds: damage only to data the reader does not interpret (help and code) still
    // reads, with the damaged bytes; any other verdict is a refusal with its reason, or an image
    // that writes back to one that reads the same.
    const auto sample = ReadImage(bytes);
    ASSERT_TRUE(sample.ok);
    std::vector<bool> plainData(bytes.size(), false);
    for (std::size_t i = 0; i < sample.image.sections.size(); ++i) {
        const auto& s = sample.image.sections[i];
        if (s.name != "help" && s.name != "code") continue;
        std::fill_n(plainData.begin() + sample.layout.dataOffsets[i], s.data.size(), true);
    }
    std::mt19937 random(1931);
    int refused = 0;
    for (int round = 0; round < 2000; ++round) {
        auto damaged = bytes;
        bool onlyPlainData = true;
        for (int k = 0; k < 4; ++k) {
            const auto at = random() % damaged.size();
            damaged[at] = static_cast<std::uint8_t>(random());
            onlyPlainData = onlyPlainData && plainData[at];
        }
        const auto r = ReadImage(damaged);
        EXPECT_EQ(r.ok, r.error.empty()) << round << ": " << r.error;
        if (onlyPlainData) {
            ASSERT_TRUE(r.ok) << round << ": " << r.error;
            const auto* code = r.image.Find("code");
            EXPECT_TRUE(std::equal(code->data.begin(), code->data.end(),
                                   damaged.begin() + sample.layout.dataOffsets[3]))
                << round;
        } else if (r.ok) {
            const auto again = ReadImage(WriteImage(r.image));
            ASSERT_TRUE(again.ok) << round << ": " << again.error;
            EXPECT_EQ(again.image.sections.size(), r.image.sections.size()) << round;
            EXPECT_EQ(again.image.entryCodeOffset, r.image.entryCodeOffset) << round;
            EXPECT_EQ(again.image.libraryRows, r.image.libraryRows) << round;
        } else {
            ++refused;
        }
    }
    EXPECT_GT(refused, 100);  // damage to headers and tables is found
}

// What the runtime places: 13 service slots and 16 bytes of var. Each case changes the sample
// image in one way that asks for something else.
TEST(ImagePlacement, RefusesWhatTheRuntimeDoesNotPlace) {
    std::string error;
    ASSERT_TRUE(CheckPlacement(SampleImage(), 13, 16, &error)) << error;
    struct Case {
        const char* what;
        void (*change)(Image&);
        const char* reason;
    };
    const Case cases[] = {
        {"a larger var", [](Image& i) { i.Find("var")->memorySize = 32; }, "var section"},
        {"a smaller var", [](Image& i) { i.Find("var")->memorySize = 8; }, "var section"},
        {"a slot past the table", [](Image& i) { StoreU32(i.Find("code")->data, 0x1C, 0x34); },
         "service table"},
        {"a value between slots", [](Image& i) { StoreU32(i.Find("code")->data, 0x1C, 0x06); },
         "service table"},
        {"a var value past var", [](Image& i) { StoreU32(i.Find("code")->data, 0x08, 16); },
         "outside var"},
        {"a code value past code", [](Image& i) { StoreU32(i.Find("const")->data, 0x103, 0x20); },
         "outside code"},
        {"a const value past const", [](Image& i) { StoreU32(i.Find("code")->data, 0x04, 0x10B); },
         "outside const"},
        {"a word past the stored data",
         [](Image& i) {
             Section& help = *i.Find("help");
             help.memorySize = 64;
             help.relocations.push_back(RelocationWord(56, RelocationKind::kConst));
         },
         "stored data"},
        {"two sections of one name",
         [](Image& i) { i.sections.insert(i.sections.begin() + 3, StoredSection("help", 1, {})); },
         "two sections are named help"},
    };
    for (const auto& c : cases) {
        Image img = SampleImage();
        c.change(img);
        error.clear();
        EXPECT_FALSE(CheckPlacement(img, 13, 16, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

TEST(ImageFormat, FindsAnImageInsideALargerFile) {
    const auto bytes = Written(SampleImage());
    Bytes file(1000 + bytes.size() + 300, 0);
    std::fill_n(file.begin(), 1000, 0xCC);
    std::copy(bytes.begin(), bytes.end(), file.begin() + 1000);
    const auto at = FindImage(file);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(*at, 1000u);
    EXPECT_TRUE(ReadImage(std::span(file).subspan(*at)).ok);
    EXPECT_FALSE(FindImage(Bytes(5000, 0)).has_value());
}

TEST(ImageFormat, SplitsLibraryRowsAndTypeRecords) {
    const auto img = SampleImage();
    const auto fields = SplitLibraryRow(img.libraryRows[1]);
    ASSERT_EQ(fields.size(), 6u);
    EXPECT_EQ(fields[0], "@@wmp.dll");
    EXPECT_EQ(fields[1], "{6BF52A52-394A-11d3-B153-00C04F79FAA6}##0");
    const auto records = SplitTypeRecords(fields[5]);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0],
              "0,{74C09E02-F828-11D2-A74B-00A0C905F36E},IWMPControls,{62,51,},{61,},{}");
    EXPECT_EQ(records[1].substr(0, 13), "2,{00000000-0");
    EXPECT_EQ(SplitLibraryRow(img.libraryRows[0]).size(), 5u);
}

// --- the form codec

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
