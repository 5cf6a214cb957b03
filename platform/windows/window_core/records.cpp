#include "tessel/window_core/records.h"

#include <algorithm>
#include <variant>

#include "tessel/window_core/unit_rules.h"

namespace tessel::windows {

namespace {

std::unique_ptr<RecordedUnit> FromForm(const image::Unit& r) {
    auto part = std::make_unique<RecordedUnit>();
    part->text = FormText(r);
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

// The core asks only for cells that exist.
std::string& RecordToolkit::CellAt(UnitRef list, std::int32_t row, std::int32_t column) {
    return Of(list).rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

std::int32_t RecordToolkit::ColumnCount(UnitRef list) {
    return static_cast<std::int32_t>(Of(list).columns);
}

bool RecordToolkit::SetCell(UnitRef list, std::int32_t row, std::int32_t column,
                            std::string_view gbk) {
    CellAt(list, row, column) = gbk;
    return true;
}

std::string RecordToolkit::Cell(UnitRef list, std::int32_t row, std::int32_t column) {
    return CellAt(list, row, column);
}

std::int32_t RecordToolkit::SelectedRow(UnitRef list) {
    return Of(list).selectedRow;
}

std::int32_t RecordToolkit::PaneCount(UnitRef bar) {
    return static_cast<std::int32_t>(Of(bar).panes.size());
}

bool RecordToolkit::SetPane(UnitRef bar, std::int32_t pane, std::string_view gbk) {
    Of(bar).panes[static_cast<std::size_t>(pane)] = gbk;
    return true;
}

std::string RecordToolkit::Pane(UnitRef bar, std::int32_t pane) {
    return Of(bar).panes[static_cast<std::size_t>(pane)];
}

}  // namespace tessel::windows
