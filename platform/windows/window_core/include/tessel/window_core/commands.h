#pragma once
// The window half of the service table, decoded once: the unit property services, the window
// commands of the kernel, the media player's commands, and the commands of the report list and
// the status bar.
#include <cstdint>
#include <string>
#include <string_view>

#include "tessel/runtime/units.h"
#include "tessel/window_core/core.h"

namespace tessel::windows {

// A unit record names (window, unit); a window's own record may leave the unit word zero.
UnitRef RefOf(const Value& v);

// Reading a unit that is not loaded answers the empty text or 0; writing one does nothing.
void ReadUnitProperty(WindowCore& core, UnitRef unit, std::uint32_t property, Value* result);
void WriteUnitProperty(WindowCore& core, UnitRef unit, std::uint32_t property, Word low);
// False when `command` is not a window command.
bool RunWindowCommand(WindowCore& core, std::uint32_t command, std::uint32_t argCount,
                      const Value* args, Value* result);
// Library row 4; a unit that is no player is passed over.
void RunPlayerCommand(WindowCore& core, std::uint32_t command, std::uint32_t argCount,
                      const Value* args, Value* result);

// The report list and the status bar as a toolkit draws them (row 1). Rows, columns and panes are
// checked here, once: the toolkit is asked only for cells and panes that exist, and outside them
// the command answers false or the empty text.
class ReportUnits {
  public:
    virtual ~ReportUnits() = default;
    // Whether `unit` is a loaded unit of `kind` (tag::kReportList or tag::kStatusBar).
    virtual bool Has(UnitRef unit, std::uint32_t kind) = 0;
    virtual void DeleteAllRows(UnitRef list) = 0;
    virtual std::int32_t AppendRow(UnitRef list) = 0;  // the new row's index
    virtual std::int32_t RowCount(UnitRef list) = 0;
    virtual std::int32_t ColumnCount(UnitRef list) = 0;  // as the form gives them
    virtual std::int32_t PaneCount(UnitRef bar) = 0;     // as the form gives them
    virtual bool SetCell(UnitRef list, std::int32_t row, std::int32_t column,
                         std::string_view gbk) = 0;
    virtual std::string Cell(UnitRef list, std::int32_t row, std::int32_t column) = 0;
    virtual std::int32_t SelectedRow(UnitRef list) = 0;  // -1: none
    virtual bool SetPane(UnitRef bar, std::int32_t pane, std::string_view gbk) = 0;
    virtual std::string Pane(UnitRef bar, std::int32_t pane) = 0;
    // A text result, in the program's heap (a support library allocates through the runtime).
    virtual Value NewText(std::string_view gbk);
    // A list column or status-bar pane past what the form gives the unit was named.
    virtual void OutsideColumns(std::size_t, std::int32_t) {}
    virtual void OutsidePanes(std::size_t, std::int32_t) {}
};

void RunReportCommand(ReportUnits& units, std::uint32_t command, std::uint32_t argCount,
                      const Value* args, Value* result);

// The core the window slots of the service table serve: one at a time in a process. Until a
// runtime serves its own, an empty one answers (no window loads, every unit reads as unset).
void Serve(WindowCore* core);
WindowCore& Served();

// The slots themselves, over the served core.
void ReadUnitPropertySlot(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                          std::int32_t index, Value* result);
void WriteUnitPropertySlot(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                           std::int32_t index, Word low, std::uint32_t high);
void LoadAndShowWindowSlot(std::uint32_t windowId);

}  // namespace tessel::windows
