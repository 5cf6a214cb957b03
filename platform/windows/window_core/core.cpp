#include "tessel/window_core/core.h"

namespace tessel::windows {

namespace {

namespace type = image::unit_type;
using namespace image::event;

}  // namespace

bool Unit::TakesFocus() const {
    return record != nullptr && (record->flags & image::kUnitTakesFocus) != 0;
}

bool Unit::ShownInForm() const {
    return record != nullptr && (record->flags & image::kUnitShown) != 0;
}

// A unit's state as the form gives it; the toolkit makes what it looks like.
std::unique_ptr<Unit> WindowCore::MakeUnit(const Window& window, const image::Unit& r,
                                           std::uint32_t id) const {
    auto u = std::make_unique<Unit>();
    u->window = window.id;
    u->id = id;
    u->type = r.type;
    u->record = &r;
    u->events = r.events;
    if (const auto* edit = std::get_if<image::EditBoxProperties>(&r.properties)) {
        u->backColour = edit->backColour;
    } else if (const auto* label = std::get_if<image::LabelProperties>(&r.properties)) {
        u->textColour = label->textColour;
        u->backColour = label->backColour;
    } else if (const auto* timer = std::get_if<image::TimerProperties>(&r.properties)) {
        u->timerPeriod = static_cast<std::int32_t>(timer->period);
        u->timerPlace = {r.left, r.top, r.width, r.height};
    }
    return u;
}

bool WindowCore::LoadWindow(std::uint32_t windowId, bool show) {
    if (Window* existing = LoadedWindow(windowId)) {
        if (show) toolkit_.ShowAgain(*existing);
        return true;
    }
    const image::FormWindow* form = nullptr;
    for (const auto& fw : form_.windows)
        if (fw.id == windowId) form = &fw;
    if (form == nullptr || form->units.empty()) return false;

    auto state = std::make_unique<Window>();
    Window& w = *state;
    w.id = windowId;
    w.form = form;
    w.isMain = &form_.windows.front() == form;
    const image::Unit& selfRecord = form->units.front();
    w.units[windowId] = MakeUnit(w, selfRecord, windowId);
    if (!toolkit_.MakeWindow(w)) return false;
    windows_[windowId] = std::move(state);

    // Units in stored order: the window's own record, the controls, then the menu items.
    Unit* currentMenu = nullptr;
    std::vector<Unit*> focusOrder;
    for (const auto& r : form->units) {
        if (&r == &selfRecord) continue;
        auto u = MakeUnit(w, r, r.id);
        if (r.type == type::kMenuItem) {
            const auto* p = std::get_if<image::MenuItemProperties>(&r.properties);
            if (p != nullptr && p->level == 0) {
                u->isMenu = true;
                currentMenu = u.get();
                toolkit_.CreateMenu(w, *u);
            } else if (p != nullptr && currentMenu != nullptr) {
                u->clickHandler = p->clickHandler;
                toolkit_.AddMenuItem(w, *currentMenu, *u);
            }
        } else if (!toolkit_.CreateUnit(w, *u, u->ShownInForm())) {
            // A unit the toolkit could not make is not registered: the window stands without
            // it (as without facet.fnr's list), and what is asked of it finds no unit.
            continue;
        } else if (u->TakesFocus()) {
            focusOrder.push_back(u.get());
        }
        w.units[r.id] = std::move(u);
    }
    toolkit_.FinishWindow(w, focusOrder, show);
    RaiseEvent(w.Self(), kCreated);
    return true;
}

void WindowCore::DestroyWindow(std::uint32_t windowId) {
    Window* w = LoadedWindow(windowId);
    if (w == nullptr) return;
    RaiseEvent(w->Self(), kDestroying);
    const auto it = windows_.find(windowId);  // the handler may have destroyed it already
    if (it == windows_.end()) return;
    std::unique_ptr<Window> gone = std::move(it->second);
    windows_.erase(it);  // the window may be loaded again
    toolkit_.DestroyWindow(*gone);
    if (gone->isMain) {
        std::vector<std::uint32_t> others;
        for (auto& [id, other] : windows_) others.push_back(id);
        for (std::uint32_t id : others) DestroyWindow(id);
        toolkit_.Quit();
    }
}

void WindowCore::DiscardWindows() {
    for (auto& [id, w] : windows_) toolkit_.DestroyWindow(*w);
    windows_.clear();
    eventUnits_.clear();
}

bool WindowCore::MayClose(Window& window) {
    return RaiseEvent(window.Self(), kCloseQuery, 0, 0, 0, 1) != 0;
}

Window* WindowCore::LoadedWindow(std::uint32_t windowId) {
    const auto it = windows_.find(windowId);
    return it == windows_.end() ? nullptr : it->second.get();
}

Unit* WindowCore::FindUnit(UnitRef unit) {
    Window* w = LoadedWindow(unit.window);
    if (w == nullptr) return nullptr;
    const auto it = w->units.find(unit.unit);
    return it == w->units.end() ? nullptr : it->second.get();
}

Unit* WindowCore::FindUnit(const std::function<bool(const Unit&)>& matches) {
    for (auto& [id, w] : windows_)
        for (auto& [uid, u] : w->units)
            if (matches(*u)) return u.get();
    return nullptr;
}

Window* WindowCore::MainWindow() {
    for (auto& [id, w] : windows_)
        if (w->isMain) return w.get();
    return nullptr;
}

Unit* WindowCore::CopyUnit(const Unit& from) {
    Window* w = LoadedWindow(from.window);
    if (w == nullptr || from.record == nullptr || from.IsWindow() || from.type == type::kMenuItem)
        return nullptr;
    auto copy = MakeUnit(*w, *from.record, nextCopy_++);
    copy->events = from.events;
    if (!toolkit_.CreateUnit(*w, *copy, false)) return nullptr;
    copy->textColour = from.textColour;
    copy->backColour = from.backColour;
    toolkit_.ColoursChanged(*copy);
    Unit* made = copy.get();
    w->units[made->id] = std::move(copy);
    return made;
}

int WindowCore::RunBound(const Unit& unit, std::uint32_t codeOffset, std::int32_t a, std::int32_t b,
                         std::int32_t c, int fallback) {
    if (codeOffset == image::kNone) return fallback;
    const EventScope raising(*this, {unit.window, unit.id});
    return toolkit_.RunHandler(codeOffset, a, b, c, fallback);
}

int WindowCore::RaiseEvent(const Unit& unit, std::int32_t event, std::int32_t a, std::int32_t b,
                           std::int32_t c, int fallback) {
    std::uint32_t offset = image::kNone;
    for (const auto& e : unit.events)
        if (e.number == event) offset = e.codeOffset;
    return RunBound(unit, offset, a, b, c, fallback);
}

void WindowCore::RaiseIfLoaded(UnitRef unit, std::int32_t event, std::int32_t a) {
    if (const Unit* u = FindUnit(unit)) RaiseEvent(*u, event, a);
}

void WindowCore::RunMenuItem(const Unit& item) {
    RunBound(item, item.clickHandler, 0, 0, 0, 0);
}

void WindowCore::RunMenuItemIfLoaded(UnitRef item) {
    if (const Unit* u = FindUnit(item)) RunMenuItem(*u);
}

UnitRef WindowCore::EventUnit() const {
    return eventUnits_.empty() ? UnitRef{} : eventUnits_.back();
}

WindowCore::EventScope::EventScope(WindowCore& core, UnitRef unit) : core_(core) {
    core_.eventUnits_.push_back(unit);
}

WindowCore::EventScope::~EventScope() {
    core_.eventUnits_.pop_back();
}

}  // namespace tessel::windows
