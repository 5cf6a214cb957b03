#include "window_double.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <variant>

#include "tessel/app/window_units.h"
#include "tessel/image/form.h"
#include "tessel/image_build/program.h"
#include "tessel/platform/arguments.h"
#include "tessel/platform/headless.h"
#include "tessel/runtime/program.h"

namespace tessel::testing {

WindowDouble* WindowDouble::current = nullptr;

namespace {

using platform::ArgInt;
using platform::ArgText;

const ServiceTable* g_headless = nullptr;

WindowDouble& Double() {
    return *WindowDouble::current;
}

UnitRef RefOf(const Value& v) {
    return {static_cast<std::uint32_t>(v.low),
            v.high != 0 ? v.high : static_cast<std::uint32_t>(v.low)};
}

bool IsText(std::uint32_t property) {
    return property == unit_property::kText || property == unit_property::kTag;
}

void ReadProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property, std::int32_t,
                  Value* result) {
    UnitState& u = Double().Unit({window, unit});
    if (IsText(property)) {
        *result = platform::NewText(property == unit_property::kTag ? u.tag : u.text);
    } else if (property == unit_property::kShown) {
        *result = LogicalValue(u.Integer(property) != 0);
    } else {
        *result = IntegerValue(u.Integer(property));
    }
}

void WriteProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property, std::int32_t,
                   Word low, std::uint32_t) {
    UnitState& u = Double().Unit({window, unit});
    if (IsText(property)) {
        const char* text = reinterpret_cast<const char*>(low);
        (property == unit_property::kTag ? u.tag : u.text) = text != nullptr ? text : "";
    } else {
        u.integers[property] = static_cast<std::int32_t>(low);
    }
}

bool Loaded(std::uint32_t window) {
    const auto& w = Double().loadedWindows;
    return std::find(w.begin(), w.end(), window) != w.end();
}

bool WindowCommand(std::uint32_t command, std::uint32_t n, const Value* a, Value* result) {
    WindowDouble& d = Double();
    switch (command) {
        case window_command::kCopyUnit: {
            const UnitRef source = RefOf(a[0]);
            const UnitRef copy{source.window,
                               0x7E00E000u + static_cast<std::uint32_t>(d.copies.size())};
            UnitState state = d.Unit(source);
            state.copyOf = source;
            state.integers[unit_property::kShown] = 0;
            d.AddCopy(copy, state);
            d.copies.push_back(copy);
            *result = UnitValue(copy.window, copy.unit, a[0].tag);
            return true;
        }
        case window_command::kRouteEvents:
            d.Unit(RefOf(a[0])).routedTo = RefOf(a[1]);
            return true;
        case window_command::kEventUnit:
            *result = UnitValue(d.eventUnit.window, d.eventUnit.unit, d.Unit(d.eventUnit).type);
            return true;
        case window_command::kIsCreated: {
            const UnitRef unit = RefOf(a[0]);
            *result = LogicalValue(unit.window != 0 && Loaded(unit.window) && d.Has(unit));
            return true;
        }
        case window_command::kLoadWindow: {
            const auto window = static_cast<std::uint32_t>(ArgInt(n, a, 0, 0));
            const bool known = d.Has({window, window});
            if (known && !Loaded(window)) d.loadedWindows.push_back(window);
            *result = LogicalValue(known);
            return true;
        }
        case window_command::kDestroyWindow: {
            const auto window = static_cast<std::uint32_t>(ArgInt(n, a, 0, 0));
            d.destroyedWindows.push_back(window);
            std::erase(d.loadedWindows, window);
            return true;
        }
        case window_command::kPopUpMenu:
            ++d.menusPoppedUp;
            return true;
        default:
            return false;
    }
}

void KernelCommand(std::uint32_t command, std::uint32_t n, const Value* a, Value* result) {
    *result = OmittedValue();
    if (WindowCommand(command, n, a, result)) return;
    g_headless->kernelCommand(command, n, a, result);
}

void ListCommand(UnitState& list, std::uint32_t command, std::uint32_t n, const Value* a,
                 Value* result) {
    auto cell = [&](bool create) -> std::string* {
        const std::int32_t row = ArgInt(n, a, 1, -1);
        const std::int32_t column = ArgInt(n, a, 2, -1);
        if (row < 0 || column < 0 || row >= static_cast<std::int32_t>(list.rows.size()))
            return nullptr;
        auto& cells = list.rows[static_cast<std::size_t>(row)];
        if (static_cast<std::size_t>(column) >= list.columns) {
            ADD_FAILURE() << "the list has " << list.columns << " columns, not column " << column;
            return nullptr;
        }
        if (create && cells.size() <= static_cast<std::size_t>(column))
            cells.resize(list.columns);
        return static_cast<std::size_t>(column) < cells.size()
                   ? &cells[static_cast<std::size_t>(column)]
                   : nullptr;
    };
    switch (command) {
        case facet::kListDeleteAll:
            list.rows.clear();
            list.selectedRow = -1;
            return;
        case facet::kListAppendRow:
            list.rows.emplace_back(list.columns);
            *result = IntegerValue(static_cast<std::int32_t>(list.rows.size()) - 1);
            return;
        case facet::kListRowCount:
            *result = IntegerValue(static_cast<std::int32_t>(list.rows.size()));
            return;
        case facet::kListSetCell:
            if (std::string* c = cell(true)) {
                *c = std::string(ArgText(n, a, 3));
                *result = LogicalValue(true);
            } else {
                *result = LogicalValue(false);
            }
            return;
        case facet::kListReadCell: {
            const std::string* c = cell(false);
            *result = platform::NewText(c != nullptr ? *c : std::string());
            return;
        }
        case facet::kListSelectedRow:
            *result = IntegerValue(list.selectedRow);
            return;
        default:
            return;
    }
}

void LibraryCommand(std::uint32_t row, std::uint32_t command, std::uint32_t n, const Value* a,
                    Value* result) {
    *result = OmittedValue();
    WindowDouble& d = Double();
    switch (row) {
        case row::kFacet: {
            UnitState& unit = d.Unit(RefOf(a[0]));
            if (command == facet::kStatusSetPane || command == facet::kStatusReadPane) {
                const auto pane = static_cast<std::size_t>(ArgInt(n, a, 1, 0));
                if (unit.panes.size() <= pane) {
                    ADD_FAILURE() << "the status bar has " << unit.panes.size()
                                  << " panes, not pane " << pane;
                    *result = command == facet::kStatusSetPane ? LogicalValue(false)
                                                               : platform::NewText("");
                    return;
                }
                if (command == facet::kStatusSetPane) {
                    unit.panes[pane] = std::string(ArgText(n, a, 2));
                    *result = LogicalValue(true);
                } else {
                    *result = platform::NewText(unit.panes[pane]);
                }
                return;
            }
            ListCommand(unit, command, n, a, result);
            return;
        }
        case row::kVestry:
            d.folderDialogTitles.emplace_back(ArgText(n, a, 0));
            *result = platform::NewText(d.folderChoice);
            return;
        case row::kMediaPlayer:
            if (command == player::kSetUrl) d.playerUrls.emplace_back(ArgText(n, a, 1));
            if (command == player::kControls)
                *result = UnitValue(a[0].low, a[0].high, tag::kMediaPlayerControls);
            if (command == player::kStop) ++d.playerStops;
            return;
        default:
            g_headless->libraryCommand(row, command, n, a, result);
            return;
    }
}

std::string ReadSource(const char* relative) {
    std::ifstream in(std::string(TESSEL_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The `form` section of the program's image, built from the sources once per test program.
const image::Form& BuiltForm() {
    static const image::Form form = [] {
        const auto built = image_build::BuildProgram(ReadSource("app/texts.tsv"),
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

// The form's units with their design-time state.
void Seed(WindowDouble& d, std::map<std::string, UnitRef>& names) {
    for (const auto& window : BuiltForm().windows) {
        for (const auto& u : window.units) {
            UnitState& s = d.AddCopy({window.id, u.id}, UnitState{});
            names.emplace(u.name, UnitRef{window.id, u.id});
            s.type = u.type;
            if (u.type == image::unit_type::kMenuItem) continue;
            s.integers[unit_property::kLeft] = u.left;
            s.integers[unit_property::kTop] = u.top;
            s.integers[unit_property::kWidth] = u.width;
            s.integers[unit_property::kHeight] = u.height;
            s.integers[unit_property::kShown] = (u.flags & image::kUnitShown) != 0 ? 1 : 0;
            std::visit(
                [&](const auto& p) {
                    using P = std::decay_t<decltype(p)>;
                    if constexpr (std::is_same_v<P, image::LabelProperties>) {
                        s.text = p.caption;
                        s.integers[unit_property::kTextColour] =
                            static_cast<std::int32_t>(p.textColour);
                        s.integers[unit_property::kBackColour] =
                            static_cast<std::int32_t>(p.backColour);
                    } else if constexpr (std::is_same_v<P, image::ButtonProperties>) {
                        s.text = p.caption;
                    } else if constexpr (std::is_same_v<P, image::EditBoxProperties>) {
                        s.text = p.content;
                    } else if constexpr (std::is_same_v<P, image::WindowProperties>) {
                        s.text = p.title;
                    } else if constexpr (std::is_same_v<P, image::TimerProperties>) {
                        s.integers[unit_property::kTimerPeriod] =
                            static_cast<std::int32_t>(p.period);
                    } else if constexpr (std::is_same_v<P, image::StatusBarProperties>) {
                        for (const auto& pane : p.panes) s.panes.push_back(pane.text);
                        if (window.id == app::kMainWindowId) {
                            const std::int32_t height = WindowDouble::kDockedStatusBarHeight;
                            s.integers[unit_property::kLeft] = 0;
                            s.integers[unit_property::kTop] = WindowDouble::kClientHeight - height;
                            s.integers[unit_property::kWidth] = WindowDouble::kClientWidth;
                            s.integers[unit_property::kHeight] = height;
                        }
                    } else if constexpr (std::is_same_v<P, image::ReportListProperties>) {
                        s.columns = p.columns.size();
                    }
                },
                u.properties);
        }
    }
    d.loadedWindows.push_back(app::kMainWindowId);
}

}  // namespace

std::int32_t UnitState::Integer(std::uint32_t property) const {
    const auto it = integers.find(property);
    return it == integers.end() ? 0 : it->second;
}

WindowDouble::WindowDouble() {
    g_headless = headless::Install();
    table_ = *g_headless;
    table_.readUnitProperty = &ReadProperty;
    table_.writeUnitProperty = &WriteProperty;
    table_.kernelCommand = &KernelCommand;
    table_.libraryCommand = &LibraryCommand;
    current = this;
    Seed(*this, names_);
    InstallServices(&table_);
}

WindowDouble::~WindowDouble() {
    current = nullptr;
    headless::Install();
}

UnitState& WindowDouble::Unit(UnitRef unit) {
    const auto it = units_.find({unit.window, unit.unit});
    if (it != units_.end()) return it->second;
    ADD_FAILURE() << std::hex << std::showbase << "unit " << unit.unit << " of window "
                  << unit.window << " is not in the form";
    refused_ = UnitState{};
    return refused_;
}

UnitState& WindowDouble::AddCopy(UnitRef copy, const UnitState& state) {
    return units_[{copy.window, copy.unit}] = state;
}

UnitRef WindowDouble::Named(std::string_view utf8Name) const {
    const auto it = names_.find(Gbk(utf8Name));
    if (it != names_.end()) return it->second;
    ADD_FAILURE() << "the form has no unit named " << utf8Name;
    return {};
}
bool WindowDouble::Has(UnitRef unit) const {
    return units_.count({unit.window, unit.unit}) != 0;
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
    return image_build::Utf8ToGbk(utf8).value_or(std::string());
}
std::string Utf8(std::string_view gbk) {
    return image_build::GbkToUtf8(gbk);
}

}  // namespace tessel::testing
