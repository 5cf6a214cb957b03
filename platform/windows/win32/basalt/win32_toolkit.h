#pragma once
// basalt's toolkit under the window core: the Win32 window, controls, pop-up menus, timers and
// players of the units the core keeps.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tessel/basalt/player_slot.h"
#include "tessel/window_core/core.h"
#include "tessel/window_core/unit_rules.h"

namespace tessel::basalt {

struct Win32Part final : windows::ToolkitPart {
    HWND hwnd = nullptr;  // null for the timer and menu items
    HBRUSH backBrush = nullptr;
    HMENU menu = nullptr;  // a top-level menu's pop-up
    std::unique_ptr<PlayerUnit> player;
};

// A unit's control id, its timer's too: the low word of its id.
inline WORD ControlId(std::uint32_t unitId) {
    return static_cast<WORD>(unitId & 0xFFFF);
}

using windows::PartOf;
HFONT UnitFont();

class Win32Toolkit final : public windows::Toolkit {
  public:
    bool MakeWindow(windows::Window& window) override;
    bool CreateUnit(windows::Window& window, windows::Unit& unit, bool shown) override;
    void CreateMenu(windows::Window& window, windows::Unit& menu) override;
    void AddMenuItem(windows::Window& window, windows::Unit& menu, windows::Unit& item) override;
    void FinishWindow(windows::Window& window, const std::vector<windows::Unit*>& focusOrder,
                      bool show) override;
    void ShowAgain(windows::Window& window) override;
    void DestroyWindow(windows::Window& window) override;
    void Quit() override;

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

    int RunHandler(std::uint32_t codeOffset, std::int32_t a, std::int32_t b, std::int32_t c,
                   int fallback) override;

    // The system destroys `hwnd` (a window still registered): its parts go, the window stays.
    void DestroyedBySystem(HWND hwnd) { destroyedBySystem_ = hwnd; }

  private:
    HWND destroyedBySystem_ = nullptr;
};

}  // namespace tessel::basalt
