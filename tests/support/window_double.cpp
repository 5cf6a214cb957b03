#include "window_double.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tessel/app/window_units.h"
#include "tessel/headless/headless.h"
#include "tessel/image/form.h"
#include "tessel/image_tool/program.h"
#include "tessel/kernel/arguments.h"
#include "tessel/window_core/commands.h"

namespace tessel::testing {

WindowDouble* WindowDouble::current_ = nullptr;

namespace {

const ServiceTable* g_headless = nullptr;

std::string ReadSource(const char* relative) {
    std::ifstream in(std::string(TESSEL_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The `form` section of the program's image, built from the sources once per test program.
const image::Form& BuiltForm() {
    static const image::Form form = [] {
        const auto built = image_tool::BuildProgram(ReadSource("app/texts.tsv"),
                                                    ReadSource("image/data/wmp_types.txt"));
        if (!built.ok) {
            std::fprintf(stderr, "window double: the image does not build: %s\n",
                         built.error.c_str());
            std::abort();
        }
        const image::Section* section = built.program.image.Find("form");
        auto decoded = image::DecodeForm(section->data);
        if (!decoded.ok) {
            std::fprintf(stderr, "window double: the form does not decode\n");
            std::abort();
        }
        return decoded.form;
    }();
    return form;
}

}  // namespace

WindowDouble::WindowDouble() : core_(*this, BuiltForm()) {
    g_headless = headless::Install();
    table_ = *g_headless;
    table_.libraryCommand = &LibraryCommand;
    current_ = this;
    Attach(&core_);
    windows::Serve(&core_);
    for (const auto& window : BuiltForm().windows)
        for (const auto& u : window.units) names_.emplace(u.name, UnitRef{window.id, u.id});
    core_.LoadWindow(app::kMainWindowId, true);
    InstallServices(&table_);
}

WindowDouble::~WindowDouble() {
    raisedFrom_.reset();
    windows::Serve(nullptr);
    current_ = nullptr;
    headless::Install();
}

void WindowDouble::LibraryCommand(std::uint32_t row, std::uint32_t command, std::uint32_t n,
                                  const Value* a, Value* result) {
    *result = OmittedValue();
    WindowDouble& d = *current_;
    switch (row) {
        case row::kFacet:
            windows::RunReportCommand(d, command, n, a, result);
            return;
        case row::kVestry:
            d.folderDialogTitles.emplace_back(platform::ArgText(n, a, 0));
            *result = platform::NewText(d.folderChoice);
            return;
        case row::kMediaPlayer:
            windows::RunPlayerCommand(d.core_, command, n, a, result);
            return;
        default:
            g_headless->libraryCommand(row, command, n, a, result);
            return;
    }
}

bool WindowDouble::CreateUnit(windows::Window& window, windows::Unit& unit, bool shown) {
    RecordToolkit::CreateUnit(window, unit, shown);
    if (unit.id >= windows::kFirstCopyId) copies.push_back({unit.window, unit.id});
    if (unit.type == image::unit_type::kStatusBar && window.id == app::kMainWindowId)
        Recorded(unit).place = {0, kClientHeight - kDockedStatusBarHeight, kClientWidth,
                                kDockedStatusBarHeight};
    return true;
}

void WindowDouble::NoSuchUnit(UnitRef unit) {
    for (const auto& [name, known] : names_)
        if (known.window == unit.window && known.unit == unit.unit) return;  // not loaded yet
    ADD_FAILURE() << std::hex << std::showbase << "unit " << unit.unit << " of window "
                  << unit.window << " is not in the form";
}

void WindowDouble::OutsideColumns(std::size_t columns, std::int32_t column) {
    ADD_FAILURE() << "the list has " << columns << " columns, not column " << column;
}

void WindowDouble::OutsidePanes(std::size_t panes, std::int32_t pane) {
    ADD_FAILURE() << "the status bar has " << panes << " panes, not pane " << pane;
}

windows::Unit& WindowDouble::CoreUnit(UnitRef unit) {
    if (windows::Unit* u = core_.FindUnit(unit)) return *u;
    ADD_FAILURE() << std::hex << std::showbase << "unit " << unit.unit << " of window "
                  << unit.window << " is not loaded";
    static windows::Unit refused;
    refused = {};
    refused.part = std::make_unique<UnitState>();
    return refused;
}

UnitState& WindowDouble::Unit(UnitRef unit) {
    return Recorded(CoreUnit(unit));
}

std::int32_t WindowDouble::Integer(UnitRef unit, std::uint32_t property) {
    Value v{};
    windows::ReadUnitProperty(core_, unit, property, &v);
    return static_cast<std::int32_t>(v.low);
}

void WindowDouble::RaiseFrom(UnitRef unit) {
    raisedFrom_.reset();
    raisedFrom_.emplace(core_, unit);
}

UnitRef WindowDouble::Named(std::string_view utf8Name) const {
    const auto it = names_.find(Gbk(utf8Name));
    if (it != names_.end()) return it->second;
    ADD_FAILURE() << "the form has no unit named " << utf8Name;
    return {};
}

const std::vector<std::vector<std::string>>& WindowDouble::Rows() {
    return Unit(Named("超级列表框1")).rows;
}
std::string WindowDouble::Cell(std::size_t row, std::size_t column) {
    const auto& rows = Rows();
    return row < rows.size() && column < rows[row].size() ? rows[row][column] : std::string();
}
std::string WindowDouble::Pane(std::size_t pane) {
    const auto& panes = Unit(Named("状态条1")).panes;
    return pane < panes.size() ? panes[pane] : std::string();
}

std::string Gbk(std::string_view utf8) {
    return image_tool::Utf8ToGbk(utf8).value_or(std::string());
}
std::string Utf8(std::string_view gbk) {
    return image_tool::GbkToUtf8(gbk);
}

}  // namespace tessel::testing
