#include "tessel/window_core/records.h"

#include <algorithm>
#include <variant>

namespace tessel::windows {

namespace {

// The text a unit shows as the form gives it: caption, content or title.
std::string FormText(const image::UnitProperties& properties) {
    return std::visit(
        [](const auto& p) -> std::string {
            using P = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<P, image::LabelProperties> ||
                          std::is_same_v<P, image::ButtonProperties>)
                return p.caption;
            else if constexpr (std::is_same_v<P, image::EditBoxProperties>)
                return p.content;
            else if constexpr (std::is_same_v<P, image::WindowProperties>)
                return p.title;
            else
                return {};
        },
        properties);
}

std::unique_ptr<RecordedUnit> FromForm(const image::Unit& r) {
    auto part = std::make_unique<RecordedUnit>();
    part->text = FormText(r.properties);
    part->place = {r.left, r.top, r.width, r.height};
    if (const auto* list = std::get_if<image::ReportListProperties>(&r.properties))
        part->columns = list->columns.size();
    if (const auto* bar = std::get_if<image::StatusBarProperties>(&r.properties))
        for (const auto& pane : bar->panes) part->panes.push_back(pane.text);
    return part;
}

}  // namespace

bool RecordToolkit::MakeWindow(Window& window) {
    Unit& self = window.Self();
    self.part = FromForm(*self.record);
    return true;
}

bool RecordToolkit::CreateUnit(Window&, Unit& unit, bool shown) {
    auto part = FromForm(*unit.record);
    part->shown = shown;
    unit.part = std::move(part);
    return true;
}

void RecordToolkit::FinishWindow(Window& window, const std::vector<Unit*>&, bool show) {
    Recorded(window.Self()).shown = show;
    loadedWindows.push_back(window.id);
}

void RecordToolkit::DestroyWindow(Window& window) {
    destroyedWindows.push_back(window.id);
    std::erase(loadedWindows, window.id);
}

RecordedUnit& RecordToolkit::Of(UnitRef unit) {
    return Recorded(*core_->FindUnit(unit));
}

bool RecordToolkit::Has(UnitRef unit, std::uint32_t kind) {
    const Unit* u = core_ != nullptr ? core_->FindUnit(unit) : nullptr;
    if (u == nullptr) {
        NoSuchUnit(unit);
        return false;
    }
    return u->type == kind;
}

void RecordToolkit::DeleteAllRows(UnitRef list) {
    RecordedUnit& l = Of(list);
    l.rows.clear();
    l.selectedRow = -1;
}

std::int32_t RecordToolkit::AppendRow(UnitRef list) {
    RecordedUnit& l = Of(list);
    l.rows.emplace_back(l.columns);
    return static_cast<std::int32_t>(l.rows.size()) - 1;
}

std::int32_t RecordToolkit::RowCount(UnitRef list) {
    return static_cast<std::int32_t>(Of(list).rows.size());
}

// The cell at (row, column), or null outside the list's rows and the form's columns.
std::string* RecordToolkit::CellAt(UnitRef list, std::int32_t row, std::int32_t column) {
    RecordedUnit& l = Of(list);
    if (row < 0 || column < 0 || row >= static_cast<std::int32_t>(l.rows.size())) return nullptr;
    if (static_cast<std::size_t>(column) >= l.columns) {
        OutsideColumns(l.columns, column);
        return nullptr;
    }
    return &l.rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

bool RecordToolkit::SetCell(UnitRef list, std::int32_t row, std::int32_t column,
                            std::string_view gbk) {
    std::string* cell = CellAt(list, row, column);
    if (cell != nullptr) *cell = gbk;
    return cell != nullptr;
}

std::string RecordToolkit::Cell(UnitRef list, std::int32_t row, std::int32_t column) {
    const std::string* cell = CellAt(list, row, column);
    return cell != nullptr ? *cell : std::string();
}

std::int32_t RecordToolkit::SelectedRow(UnitRef list) {
    return Of(list).selectedRow;
}

// The pane's text, or null past the panes the form gives the bar.
std::string* RecordToolkit::PaneAt(UnitRef bar, std::int32_t pane) {
    RecordedUnit& b = Of(bar);
    if (pane < 0 || static_cast<std::size_t>(pane) >= b.panes.size()) {
        OutsidePanes(b.panes.size(), pane);
        return nullptr;
    }
    return &b.panes[static_cast<std::size_t>(pane)];
}

bool RecordToolkit::SetPane(UnitRef bar, std::int32_t pane, std::string_view gbk) {
    std::string* text = PaneAt(bar, pane);
    if (text != nullptr) *text = gbk;
    return text != nullptr;
}

std::string RecordToolkit::Pane(UnitRef bar, std::int32_t pane) {
    const std::string* text = PaneAt(bar, pane);
    return text != nullptr ? *text : std::string();
}

}  // namespace tessel::windows
