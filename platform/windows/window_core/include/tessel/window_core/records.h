#pragma once
// A toolkit that draws nothing: each unit keeps its text, place and shown state, a list its rows
// and selection, a status bar its panes, as the form gives them. The headless runtime answers
// through it, and the tests' window double is one, so the program's window commands run through
// the same core as on the screen.
#include <cstdint>
#include <string>
#include <vector>

#include "tessel/window_core/commands.h"
#include "tessel/window_core/core.h"
#include "tessel/window_core/unit_rules.h"

namespace tessel::windows {

struct RecordedUnit final : ToolkitPart {
    std::string text;  // GBK: content, caption or title
    UnitPlace place;
    bool shown = false;
    std::vector<std::vector<std::string>> rows;  // a list's cells
    std::size_t columns = 0;                     // a list's column count in the form
    std::int32_t selectedRow = -1;
    std::vector<std::string> panes;  // a status bar's texts, as many as the form gives it
};

class RecordToolkit : public Toolkit, public ReportUnits {
  public:
    // The core whose units the list and status-bar commands name.
    void Attach(WindowCore* core) { core_ = core; }

    static RecordedUnit& Recorded(Unit& unit) { return PartOf<RecordedUnit>(unit); }

    // What was asked of the windows besides their units, in order.
    std::vector<std::uint32_t> loadedWindows;  // loaded and not destroyed since
    std::vector<std::uint32_t> destroyedWindows;
    int menusPoppedUp = 0;
    std::vector<std::string> playerUrls;
    int playerStops = 0;
    // The events raised, by the code offset the form binds (handlers are not run here).
    std::vector<std::uint32_t> raisedHandlers;

    bool MakeWindow(Window& window) override;
    bool CreateUnit(Window& window, Unit& unit, bool shown) override;
    void CreateMenu(Window&, Unit& menu) override { menu.part = std::make_unique<RecordedUnit>(); }
    void AddMenuItem(Window&, Unit&, Unit& item) override {
        item.part = std::make_unique<RecordedUnit>();
    }
    void FinishWindow(Window& window, const std::vector<Unit*>& focusOrder, bool show) override;
    void ShowAgain(Window& window) override { Recorded(window.Self()).shown = true; }
    void DestroyWindow(Window& window) override;
    void Quit() override {}

    std::string Text(Unit& unit) override { return Recorded(unit).text; }
    void SetText(Unit& unit, std::string_view gbk) override { Recorded(unit).text = gbk; }
    UnitPlace Place(Unit& unit) override { return Recorded(unit).place; }
    void SetPlace(Unit& unit, UnitPlace place) override { Recorded(unit).place = place; }
    bool Shown(Unit& unit) override { return Recorded(unit).shown; }
    void SetShown(Unit& unit, bool shown) override { Recorded(unit).shown = shown; }
    void ColoursChanged(Unit&) override {}
    void TimerChanged(Unit&) override {}
    void PopUpMenu(Window&, Unit&, std::optional<std::pair<int, int>>) override { ++menusPoppedUp; }

    bool IsPlayer(Unit& unit) override { return unit.type == image::unit_type::kMediaPlayer; }
    void SetPlayerUrl(Unit&, std::string_view gbk) override { playerUrls.emplace_back(gbk); }
    void StopPlayer(Unit&) override { ++playerStops; }
    void ReleasePlayers() override {}
    int RunHandler(std::uint32_t codeOffset, std::int32_t, std::int32_t, std::int32_t,
                   int fallback) override {
        raisedHandlers.push_back(codeOffset);
        return fallback;
    }

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

  protected:
    RecordedUnit& Of(UnitRef unit);

  private:
    std::string& CellAt(UnitRef list, std::int32_t row, std::int32_t column);

    WindowCore* core_ = nullptr;
};

}  // namespace tessel::windows
