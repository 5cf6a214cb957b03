#pragma once
// The Qt toolkit under the window core: what Qt keeps of each unit, and the widgets, timers,
// menus and players it makes of the units the core loads.
#include <QPointer>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/image/form.h"
#include "tessel/image/image.h"
#include "tessel/qt/runtime.h"
#include "tessel/window_core/commands.h"
#include "tessel/window_core/core.h"
#include "tessel/window_core/unit_rules.h"

class QMenu;
class QTimer;
class QWidget;

namespace tessel::qt {

class PlayerWidget;

struct QtPart final : windows::ToolkitPart {
    QPointer<QWidget> widget;  // a window's own unit: the window; null for timers and menu items
    QPointer<QTimer> timer;
    QPointer<QMenu> menu;            // a top-level menu unit: its pop-up
    PlayerWidget* player = nullptr;  // owned by `widget`
};

using windows::PartOf;
QWidget* WidgetOf(windows::Window& window);

class QtToolkit final : public windows::Toolkit, public windows::ReportUnits {
  public:
    // Windows and their units (window_system.cpp).
    bool MakeWindow(windows::Window& window) override;
    bool CreateUnit(windows::Window& window, windows::Unit& unit, bool shown) override;
    void CreateMenu(windows::Window& window, windows::Unit& menu) override;
    void AddMenuItem(windows::Window& window, windows::Unit& menu, windows::Unit& item) override;
    void FinishWindow(windows::Window& window, const std::vector<windows::Unit*>& focusOrder,
                      bool show) override;
    void ShowAgain(windows::Window& window) override;
    void DestroyWindow(windows::Window& window) override;
    void Quit() override;
    int RunHandler(std::uint32_t codeOffset, std::int32_t a, std::int32_t b, std::int32_t c,
                   int fallback) override;

    // What the program reads and changes on its units (unit_operations.cpp).
    std::string Text(windows::Unit& unit) override;
    void SetText(windows::Unit& unit, std::string_view gbk) override;
    windows::UnitPlace Place(windows::Unit& unit) override;
    void SetPlace(windows::Unit& unit, windows::UnitPlace place) override;
    bool Shown(windows::Unit& unit) override;
    void SetShown(windows::Unit& unit, bool shown) override;
    void ColoursChanged(windows::Unit& unit) override;
    void TimerChanged(windows::Unit& unit) override;
    void PopUpMenu(windows::Window& window, windows::Unit& menu,
                   std::optional<std::pair<int, int>> at) override;
    bool IsPlayer(windows::Unit& unit) override;
    void SetPlayerUrl(windows::Unit& player, std::string_view gbk) override;
    void StopPlayer(windows::Unit& player) override;
    void ReleasePlayers() override;

    // The report list and the status bar (report_widgets.cpp).
    bool Has(UnitRef unit, std::uint32_t kind) override;
    void DeleteAllRows(UnitRef list) override;
    std::int32_t AppendRow(UnitRef list) override;
    std::int32_t RowCount(UnitRef list) override;
    std::int32_t ColumnCount(UnitRef list) override;
    std::int32_t PaneCount(UnitRef bar) override;
    bool SetCell(UnitRef list, std::int32_t row, std::int32_t column,
                 std::string_view gbk) override;
    std::string Cell(UnitRef list, std::int32_t row, std::int32_t column) override;
    std::int32_t SelectedRow(UnitRef list) override;
    bool SetPane(UnitRef bar, std::int32_t pane, std::string_view gbk) override;
    std::string Pane(UnitRef bar, std::int32_t pane) override;

    // Tests start afresh: windows go at once, not when the event loop next runs.
    bool discarding = false;
};

// The core of the runtime's windows, over the Qt toolkit (runtime.cpp).
windows::WindowCore& Windows();
// Each widget the toolkit makes for a unit carries the unit's ids, so an event finds its unit
// without a search through the units.
void CarryUnitIds(QWidget* widget, const windows::Unit& unit);
windows::Unit* UnitOfWidget(const QWidget* widget);
QWidget* ActiveProgramWindow();

// Colours as the units take them.
void ApplyColours(windows::Unit& unit);
// Captioned units (labels, buttons) are named by their caption for screen readers, others by
// the unit's name; the name stays in the description.
void UpdateAccessibleName(windows::Unit& unit);

// GBK inside the program, UTF-8 at Qt's edge.
QString FromGbk(std::string_view gbk);
std::string ToGbk(const QString& text);                        // '?' for what GBK lacks
std::optional<std::string> ToGbkExactly(const QString& text);  // nullopt when GBK lacks some

// The host's own commands (system.cpp): vestry's folder dialog, message boxes, the clipboard and
// the completion sound.
void RunVestryCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result);
bool RunSystemCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result);

// Appends one UTF-8 line to the file the environment variable names, if it names one, so that
// tests can follow from outside what the runtime did ("url A", "sound N").
void AppendTrace(const char* variable, const std::string& line);

}  // namespace tessel::qt
