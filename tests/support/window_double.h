#pragma once
// A headless window double: the program's two windows as the form describes them, kept as plain
// data so the handlers run natively. Units keep their text, tag, geometry, shown state, colours
// and other integer properties; the list keeps rows and cells and a selection, the status bar its
// panes; copies of units, routed events, the raising unit, loaded windows, the player's address
// and stops, pop-up menus and folder dialogs are recorded. Everything else (kernel commands,
// DLL commands, objects, other libraries) is the headless runtime's.
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
    std::vector<std::string> panes;  // a status bar's texts
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

    UnitState& Unit(UnitRef unit);
    bool Has(UnitRef unit) const;
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

  private:
    std::map<std::pair<std::uint32_t, std::uint32_t>, UnitState> units_;
    ServiceTable table_{};
};

// UTF-8 to GBK and back, for expectations written in UTF-8.
std::string Gbk(std::string_view utf8);
std::string Utf8(std::string_view gbk);

}  // namespace tessel::testing
