// The report list's and the status bar's commands, in a file of their own: facet.fnr links
// only these.
#include "tessel/kernel/arguments.h"
#include "tessel/window_core/commands.h"

namespace tessel::windows {

using platform::ArgInt;
using platform::ArgText;

Value ReportUnits::NewText(std::string_view gbk) {
    return platform::NewText(gbk);
}

namespace {

// A cell lies in a row the list holds and a column its form gives it.
bool IsCell(ReportUnits& units, UnitRef list, std::int32_t row, std::int32_t column) {
    if (row < 0 || column < 0 || row >= units.RowCount(list)) return false;
    const std::int32_t columns = units.ColumnCount(list);
    if (column >= columns) {
        units.OutsideColumns(static_cast<std::size_t>(columns), column);
        return false;
    }
    return true;
}

bool IsPane(ReportUnits& units, UnitRef bar, std::int32_t pane) {
    const std::int32_t panes = units.PaneCount(bar);
    if (pane < 0 || pane >= panes) {
        units.OutsidePanes(static_cast<std::size_t>(panes), pane);
        return false;
    }
    return true;
}

}  // namespace

void RunReportCommand(ReportUnits& units, std::uint32_t command, std::uint32_t n, const Value* args,
                      Value* result) {
    *result = OmittedValue();
    if (n == 0) return;
    const UnitRef unit{static_cast<std::uint32_t>(args[0].low), args[0].high};
    const std::uint32_t kind = args[0].tag;
    if (kind != tag::kReportList && kind != tag::kStatusBar) return;
    if (!units.Has(unit, kind)) return;
    const std::int32_t row = ArgInt(n, args, 1, -1);
    const std::int32_t column = ArgInt(n, args, 2, -1);
    if (kind == tag::kReportList) {
        switch (command) {
            case facet::kListDeleteAll:
                units.DeleteAllRows(unit);
                return;
            case facet::kListAppendRow:
                *result = IntegerValue(units.AppendRow(unit));
                return;
            case facet::kListRowCount:
                *result = IntegerValue(units.RowCount(unit));
                return;
            case facet::kListSetCell:
                *result = LogicalValue(IsCell(units, unit, row, column) &&
                                       units.SetCell(unit, row, column, ArgText(n, args, 3)));
                return;
            case facet::kListReadCell:
                *result =
                    units.NewText(IsCell(units, unit, row, column) ? units.Cell(unit, row, column)
                                                                   : std::string());
                return;
            case facet::kListSelectedRow:
                *result = IntegerValue(units.SelectedRow(unit));
                return;
            default:
                return;
        }
    }
    const std::int32_t pane = row;
    switch (command) {
        case facet::kStatusSetPane:
            *result = LogicalValue(IsPane(units, unit, pane) &&
                                   units.SetPane(unit, pane, ArgText(n, args, 2)));
            return;
        case facet::kStatusReadPane:
            *result =
                units.NewText(IsPane(units, unit, pane) ? units.Pane(unit, pane) : std::string());
            return;
        default:
            return;
    }
}

}  // namespace tessel::windows
