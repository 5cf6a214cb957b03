// libFuzzer target: the image reader and the form decoder on arbitrary bytes, and on a valid
// image damaged at the places the input names (so the search starts deep inside the format).
#include <cstddef>
#include <cstdint>
#include <span>

#include "tessel/image/form.h"
#include "tessel/image/image.h"

namespace {

using namespace tessel::image;

Bytes SampleImage() {
    Form form;
    FormWindow window;
    window.id = 0x52010001;
    Unit self;
    self.id = window.id;
    self.type = unit_type::kWindow;
    self.events = {{0, 0}};
    self.properties = WindowProperties{1, 1, 1, 0, Bytes(16, 1), "t"};
    Unit list;
    list.type = unit_type::kReportList;
    list.properties = ReportListProperties{1, 0, {{"", -1, 0, 50, "h"}}};
    Unit status;
    status.type = unit_type::kStatusBar;
    status.properties = StatusBarProperties{{{130, "s", ""}}};
    Unit player;
    player.type = unit_type::kMediaPlayer;
    MediaPlayerProperties mp;
    mp.values.resize(2);
    mp.values[1].type = ControlValue::kText;
    mp.values[1].text = u"full";
    player.properties = mp;
    Unit menu;
    menu.type = unit_type::kMenuItem;
    menu.properties = MenuItemProperties{0, 3, "m", kNone};
    window.units = {self, list, status, player, menu};
    form.windows.push_back(window);

    Image img;
    Bytes constData(16, 0);
    constData[1] = 'k';
    img.dllLibraries = {0};
    img.dllFunctions = {1};
    img.libraryRows = {"basalt\r00\r5\r3\rcore",
                       "@@wmp.dll\r{X}##0\r1\r0\rp\r0,{A},I,{1,},{2,},{}2,{B},E,{},{3,},{}"};
    img.sections = {
        StoredSection("const", 1, constData, {RelocationWord(4, RelocationKind::kCode)}),
        StoredSection("form", 1, EncodeForm(form)), StoredSection("help", 1, Bytes(8, 0)),
        StoredSection("code", 5, Bytes(16, 0x90), {RelocationWord(8, RelocationKind::kService)})};
    Section var;
    var.name = "var";
    var.memorySize = 16;
    var.stored = false;
    img.sections.push_back(var);
    img.reloc1 = {std::vector<std::uint32_t>{4}, {}, {8}, {}};
    img.sections.push_back(StoredSection("@reloc1", 1, EncodeReloc1(img.reloc1)));
    return WriteImage(img);
}

void ReadAll(std::span<const std::uint8_t> bytes) {
    const auto r = ReadImage(bytes);
    if (!r.ok) return;
    (void)CheckPlacement(r.image, 13, 16, nullptr);
    if (const auto* form = r.image.Find("form")) (void)DecodeForm(form->data);
    for (const auto& row : r.image.libraryRows) {
        const auto fields = SplitLibraryRow(row);
        if (fields.size() > 5) (void)SplitTypeRecords(fields[5]);
    }
    for (auto section : r.image.sections)
        (void)FixUpSection(section.data, section.relocations, {1, 2, 3, 4});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    ReadAll(bytes);
    (void)DecodeForm(bytes);
    (void)FindImage(bytes);

    // Input as (position, value) pairs applied to the valid image; a final odd byte truncates it.
    static const Bytes sample = SampleImage();
    Bytes damaged = sample;
    for (std::size_t i = 0; i + 2 < size; i += 3)
        damaged[(data[i] | data[i + 1] << 8) % damaged.size()] = data[i + 2];
    if (size % 3 != 0) damaged.resize(damaged.size() - data[size - 1] % damaged.size());
    ReadAll(damaged);
    return 0;
}
