#pragma once
// A headless window double: the program's two windows as the built image's `form` section holds
// them, kept as plain data so the handlers run natively. Units keep their text, tag, geometry,
// shown state, colours and other integer properties; the list keeps rows and cells and a
// selection, the status bar its panes; copies of units, routed events, the raising unit, loaded
// windows, the player's address and stops, pop-up menus and folder dialogs are recorded.
// Everything else (kernel commands, DLL commands, objects, other libraries) is the headless
// runtime's.
//
// The double holds only what the form holds: a unit the form does not have, a list column or a
// status-bar pane past the form's count fails the running test. As the runtime libraries do, it
// docks the status bar to the bottom of the main window's client area across its width.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tessel/runtime/services.h"
#include "tessel/runtime/units.h"

namespace tessel::testing {

struct UnitState {
    std::uint32_t type = 0;
    std::string text;  // GBK: content, caption or title
    std::string tag;
    std::map<std::uint32_t, std::int32_t> integers;  // by unit property
    std::vector<std::vector<std::string>> rows;      // a list's cells
    std::int32_t selectedRow = -1;
    std::vector<std::string> panes;  // a status bar's texts, as many as the form gives it
    std::size_t columns = 0;         // a list's column count in the form
    UnitRef routedTo{};              // a copy's events run this unit's handlers
    UnitRef copyOf{};

    std::int32_t Integer(std::uint32_t property) const;
};

class WindowDouble {
  public:
    WindowDouble();   // installs itself over the headless runtime
    ~WindowDouble();  // puts back the headless runtime
    WindowDouble(const WindowDouble&) = delete;
    WindowDouble& operator=(const WindowDouble&) = delete;

    // The main window's client area as Wine 8 gives the form's 811 x 498 window, and the height
    // of the status bar docked at its bottom (the form says 24).
    static constexpr std::int32_t kClientWidth = 803;
    static constexpr std::int32_t kClientHeight = 471;
    static constexpr std::int32_t kDockedStatusBarHeight = 20;

    // A unit of the form or a copy made since; any other reference fails the running test.
    UnitState& Unit(UnitRef unit);
    bool Has(UnitRef unit) const;
    // The unit the form names `utf8Name` (main window first); an unknown name fails the test.
    UnitRef Named(std::string_view utf8Name) const;
    std::vector<UnitRef> copies;  // in creation order

    // The unit the next handler is raised by (the window command "event unit").
    void RaiseFrom(UnitRef unit) { eventUnit = unit; }
    UnitRef eventUnit{};

    std::vector<std::uint32_t> loadedWindows;  // in load order, the main window first
    std::vector<std::uint32_t> destroyedWindows;
    int menusPoppedUp = 0;
    std::vector<std::string> playerUrls;  // every address set, in order
    int playerStops = 0;
    std::vector<std::string> folderDialogTitles;
    std::string folderChoice;  // what the folder dialog answers; empty: cancelled

    // Convenience reads of the song list and the status bar.
    const std::vector<std::vector<std::string>>& Rows();
    std::string Cell(std::size_t row, std::size_t column);
    std::string Pane(std::size_t pane);

    static WindowDouble* current;

    // A unit the double's services add: the form's units and the copies made of them.
    UnitState& AddCopy(UnitRef copy, const UnitState& state);

  private:
    std::map<std::pair<std::uint32_t, std::uint32_t>, UnitState> units_;
    std::map<std::string, UnitRef> names_;  // GBK name -> unit
    UnitState refused_;                     // what a refused reference reads and writes
    ServiceTable table_{};
};

// UTF-8 to GBK and back, for expectations written in UTF-8.
std::string Gbk(std::string_view utf8);
std::string Utf8(std::string_view gbk);

}  // namespace tessel::testing
