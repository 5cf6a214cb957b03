#pragma once
// The window core: the windows and units the program has loaded from the `form` section, kept
// once for every toolkit. It walks the form to load a window, keeps the registry, the copies and
// their ids, the unit whose event is being handled, and raises the events the form binds. What a
// unit looks like on the screen is the toolkit's (Win32, Qt, or records only), behind `Toolkit`.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tessel/image/form.h"
#include "tessel/image/image.h"
#include "tessel/runtime/units.h"

namespace tessel::windows {

// A back colour of none: the unit is drawn on its parent's background.
inline constexpr std::uint32_t kNoColour = 0xFFFFFFFF;
// Copies of units are numbered from here, one after the other, in every window.
inline constexpr std::uint32_t kFirstCopyId = 0x7E00E000;

// A unit's place: relative to its parent's client area; a window's on the screen, with its frame.
struct UnitPlace {
    std::int32_t left = 0, top = 0, width = 0, height = 0;
};

// What a toolkit keeps of one unit: its control, widget, menu or player.
class ToolkitPart {
  public:
    virtual ~ToolkitPart() = default;
};

struct Unit {
    std::uint32_t window = 0;
    std::uint32_t id = 0;  // a window's own unit has the window's id
    std::uint32_t type = 0;
    const image::Unit* record = nullptr;  // the form's record; a copy shares its source's
    std::vector<image::FormEvent> events;
    std::string tag;  // GBK, kept for the program
    std::int32_t tagMark = 0;
    std::uint32_t textColour = 0;  // 0x00BBGGRR
    std::uint32_t backColour = kNoColour;
    std::int32_t timerPeriod = 0;  // milliseconds; 0 while the timer stands still
    UnitPlace timerPlace;          // a timer is never drawn but keeps its place
    bool isMenu = false;           // a top-level menu: popped up over units, never a menu bar
    std::uint32_t clickHandler = image::kNone;  // a menu item's
    std::unique_ptr<ToolkitPart> part;

    bool IsWindow() const { return id == window; }
    bool TakesFocus() const;
    bool ShownInForm() const;
};

struct Window {
    std::uint32_t id = 0;
    const image::FormWindow* form = nullptr;
    bool isMain = false;  // the form's first window: the program ends with it
    std::map<std::uint32_t, std::unique_ptr<Unit>> units;  // the window's own under its id

    Unit& Self() { return *units.at(id); }
};

// What differs between toolkits. The core calls these for units it has registered.
class Toolkit {
  public:
    virtual ~Toolkit() = default;

    // Loading, in this order: the window (its own unit), then each control with its shown state,
    // the menus (a top-level menu, then its items), then FinishWindow with the units that take
    // the focus in creation order, and the created event. False when the toolkit cannot make it,
    // having made nothing of it: a window it cannot make is not loaded, a unit it cannot make is
    // not registered and its window stands without it.
    virtual bool MakeWindow(Window& window) = 0;
    virtual bool CreateUnit(Window& window, Unit& unit, bool shown) = 0;
    virtual void CreateMenu(Window& window, Unit& menu) = 0;
    virtual void AddMenuItem(Window& window, Unit& menu, Unit& item) = 0;
    virtual void FinishWindow(Window& window, const std::vector<Unit*>& focusOrder, bool show) = 0;
    virtual void ShowAgain(Window& window) = 0;
    // The window has left the registry; its parts go with it.
    virtual void DestroyWindow(Window& window) = 0;
    // The main window has gone: the message loop ends.
    virtual void Quit() = 0;

    virtual std::string Text(Unit& unit) = 0;  // GBK
    virtual void SetText(Unit& unit, std::string_view gbk) = 0;
    virtual UnitPlace Place(Unit& unit) = 0;  // not asked for timers
    virtual void SetPlace(Unit& unit, UnitPlace place) = 0;
    virtual bool Shown(Unit& unit) = 0;
    virtual void SetShown(Unit& unit, bool shown) = 0;
    virtual void ColoursChanged(Unit& unit) = 0;
    virtual void TimerChanged(Unit& unit) = 0;  // start or stop it at unit.timerPeriod
    // At `at` in the window's client area, or at the mouse pointer.
    virtual void PopUpMenu(Window& window, Unit& menu, std::optional<std::pair<int, int>> at) = 0;

    virtual bool IsPlayer(Unit& unit) = 0;
    virtual void SetPlayerUrl(Unit& player, std::string_view gbk) = 0;
    virtual void StopPlayer(Unit& player) = 0;
    // Every player closes (at the end of the program, whichever way it ends).
    virtual void ReleasePlayers() = 0;

    // Runs the routine the form names by its code offset; `fallback` when there is none.
    virtual int RunHandler(std::uint32_t codeOffset, std::int32_t a, std::int32_t b, std::int32_t c,
                           int fallback) = 0;
    // A command named a unit that is not loaded (the tests' double refuses those).
    virtual void NoSuchUnit(UnitRef) {}
};

class WindowCore {
  public:
    WindowCore(Toolkit& toolkit, const image::Form& form) : toolkit_(toolkit), form_(form) {}
    WindowCore(const WindowCore&) = delete;
    WindowCore& operator=(const WindowCore&) = delete;

    Toolkit& toolkit() { return toolkit_; }
    const image::Form& form() const { return form_; }

    // Creates the window and its units from the form; `show` shows it. False when the form has
    // no such window or the toolkit cannot make the window itself; a unit the toolkit cannot make
    // is left out. A window already loaded is only shown again.
    bool LoadWindow(std::uint32_t windowId, bool show);
    // Raises the window's destroying event and removes it; the main window takes the others with
    // it and ends the message loop.
    void DestroyWindow(std::uint32_t windowId);
    // Removes every window without raising events (a runtime that starts afresh).
    void DiscardWindows();
    // The user asked to close the window: the close query answers whether it may go.
    bool MayClose(Window& window);

    Window* LoadedWindow(std::uint32_t windowId);
    Unit* FindUnit(UnitRef unit);
    Unit* FindUnit(const std::function<bool(const Unit&)>& matches);
    Window* MainWindow();
    template <class F>
    void ForEachUnit(F&& f) {
        for (auto& [id, w] : windows_)
            for (auto& [uid, u] : w->units) f(*u);
    }

    // A new unit of the same kind and window as a loaded one, not shown; null when it cannot be
    // made.
    Unit* CopyUnit(const Unit& source);
    // Runs the unit's handler for `event` with the unit as the one raising it. Answers the
    // handler's result, or `fallback` when the form binds none.
    int RaiseEvent(const Unit& unit, std::int32_t event, std::int32_t a = 0, std::int32_t b = 0,
                   std::int32_t c = 0, int fallback = 0);
    // The same for a unit named by its ids: a signal may arrive after its unit has gone, and
    // then nothing is raised.
    void RaiseIfLoaded(UnitRef unit, std::int32_t event, std::int32_t a = 0);
    // A menu item was chosen; by its ids, only while it is loaded.
    void RunMenuItem(const Unit& item);
    void RunMenuItemIfLoaded(UnitRef item);
    // The unit whose event is being handled; unset outside any event.
    UnitRef EventUnit() const;

    // While it stands, `unit` is the one raising the event: every event the core raises stands
    // one, and so do the tests that call a handler directly.
    class EventScope {
      public:
        EventScope(WindowCore& core, UnitRef unit);
        ~EventScope();
        EventScope(const EventScope&) = delete;
        EventScope& operator=(const EventScope&) = delete;

      private:
        WindowCore& core_;
    };

  private:
    std::unique_ptr<Unit> MakeUnit(const Window& window, const image::Unit& record,
                                   std::uint32_t id) const;
    int RunBound(const Unit& unit, std::uint32_t codeOffset, std::int32_t a, std::int32_t b,
                 std::int32_t c, int fallback);

    Toolkit& toolkit_;
    const image::Form& form_;
    std::map<std::uint32_t, std::unique_ptr<Window>> windows_;
    std::vector<UnitRef> eventUnits_;  // innermost last
    std::uint32_t nextCopy_ = kFirstCopyId;
};

}  // namespace tessel::windows
