#pragma once
// A headless window double: the program's two windows as the built image's `form` section holds
// them, loaded through the window core that ships (its window commands, unit properties, list,
// status-bar and player commands) onto a toolkit that only keeps records. Units keep their text,
// place and shown state, the list its rows and a selection, the status bar its panes; loaded and
// destroyed windows, copies, pop-up menus, the player's addresses and stops and folder dialogs are
// recorded. Events are recorded, not run: tests call the handlers themselves. Everything else
// (kernel commands, DLL commands, objects, other libraries) is the headless runtime's.
//
// The double holds only what the form holds: a unit the form does not have, a list column or a
// status-bar pane past the form's count fails the running test. As the runtime libraries do, it
// docks the status bar to the bottom of the main window's client area across its width.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/runtime/services.h"
#include "tessel/runtime/units.h"
#include "tessel/window_core/core.h"
#include "tessel/window_core/records.h"

namespace tessel::testing {

using UnitState = windows::RecordedUnit;

class WindowDouble final : public windows::RecordToolkit {
  public:
    WindowDouble();   // installs itself over the headless runtime, the main window loaded
    ~WindowDouble();  // puts back the headless runtime
    WindowDouble(const WindowDouble&) = delete;
    WindowDouble& operator=(const WindowDouble&) = delete;

    // The main window's client area as Wine 8 gives the form's 811 x 498 window, and the height
    // of the status bar docked at its bottom (the form says 24).
    static constexpr std::int32_t kClientWidth = 803;
    static constexpr std::int32_t kClientHeight = 471;
    static constexpr std::int32_t kDockedStatusBarHeight = 20;

    // A loaded unit of the form or a copy made since; any other reference fails the running test.
    UnitState& Unit(UnitRef unit);
    windows::Unit& CoreUnit(UnitRef unit);
    // A unit property as the program reads it.
    std::int32_t Integer(UnitRef unit, std::uint32_t property);
    // The unit the form names `utf8Name` (main window first); an unknown name fails the test.
    UnitRef Named(std::string_view utf8Name) const;
    std::vector<UnitRef> copies;  // in creation order

    // The unit that raised the event whose handler the test calls next.
    void RaiseFrom(UnitRef unit);

    std::vector<std::string> folderDialogTitles;
    std::string folderChoice;  // what the folder dialog answers; empty: cancelled

    // Convenience reads of the song list and the status bar.
    using RecordToolkit::Cell;
    using RecordToolkit::Pane;
    const std::vector<std::vector<std::string>>& Rows();
    std::string Cell(std::size_t row, std::size_t column);
    std::string Pane(std::size_t pane);

    bool CreateUnit(windows::Window& window, windows::Unit& unit, bool shown) override;
    void NoSuchUnit(UnitRef unit) override;

  protected:
    void OutsideColumns(std::size_t columns, std::int32_t column) override;
    void OutsidePanes(std::size_t panes, std::int32_t pane) override;

  private:
    static void LibraryCommand(std::uint32_t row, std::uint32_t command, std::uint32_t n,
                               const Value* args, Value* result);

    windows::WindowCore core_;
    std::optional<windows::WindowCore::EventScope> raisedFrom_;
    std::map<std::string, UnitRef> names_;  // GBK name -> unit
    ServiceTable table_{};
    static WindowDouble* current_;
};

// UTF-8 to GBK and back, for expectations written in UTF-8.
std::string Gbk(std::string_view utf8);
std::string Utf8(std::string_view gbk);

}  // namespace tessel::testing
