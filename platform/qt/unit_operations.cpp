// Unit properties and the window commands: what the program reads and changes on its units.
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "player_widget.h"
#include "tessel/platform/window_commands.h"
#include "tessel/runtime/units.h"
#include "window_state.h"

namespace tessel::qt {

namespace {

namespace type = image::unit_type;
using platform::UnitPlace;

bool IsWindow(const UnitState& u) {
    return u.type == type::kWindow;
}

Value UnitRecord(const UnitState* u) {
    return u != nullptr ? UnitValue(u->window, u->id, u->type) : OmittedValue();
}

// The window commands, the unit properties and the player's commands on this runtime's windows.
// Units named by a property service exist (the shared decoding asks IsCreated first).
class QtWindowOperations final : public platform::WindowOperations {
  public:
    std::string Text(UnitRef unit) override {
        QWidget* w = Unit(unit).widget;
        if (w == nullptr) return {};
        if (IsWindow(Unit(unit))) return ToGbk(w->windowTitle());
        if (auto* edit = qobject_cast<QLineEdit*>(w)) return ToGbk(edit->text());
        if (auto* label = qobject_cast<QLabel*>(w)) return ToGbk(label->text());
        if (auto* button = qobject_cast<QPushButton*>(w)) return ToGbk(button->text());
        return {};
    }
    void SetText(UnitRef unit, std::string_view gbk) override {
        UnitState& u = Unit(unit);
        QWidget* w = u.widget;
        if (w == nullptr) return;
        const QString text = FromGbk(gbk);
        if (IsWindow(u)) {
            w->setWindowTitle(text);
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->setText(text);
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            label->setText(text);
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            button->setText(text);
        }
        UpdateAccessibleName(u);
    }
    UnitPlace Place(UnitRef unit) override {
        const UnitState& u = Unit(unit);
        QRect r;
        if (u.type == type::kTimer) {
            // A timer is never drawn but keeps its place.
            if (u.timer != nullptr) r = u.timer->property("tesselGeometry").toRect();
        } else if (u.widget != nullptr && IsWindow(u)) {
            r = {u.widget->pos(), u.widget->size() + QSize(kFrameWidth, kFrameHeight)};
        } else if (u.widget != nullptr) {
            r = u.widget->geometry();
        }
        return {r.left(), r.top(), r.width(), r.height()};
    }
    void SetPlace(UnitRef unit, UnitPlace p) override {
        UnitState& u = Unit(unit);
        const QRect r(p.left, p.top, p.width, p.height);
        if (u.type == type::kTimer) {
            if (u.timer != nullptr) u.timer->setProperty("tesselGeometry", r);
        } else if (u.widget != nullptr && IsWindow(u)) {
            u.widget->move(r.topLeft());
            u.widget->setFixedSize(std::max(0, r.width() - kFrameWidth),
                                   std::max(0, r.height() - kFrameHeight));
        } else if (u.widget != nullptr) {
            u.widget->setGeometry(r);
        }
    }
    bool Shown(UnitRef unit) override {
        const UnitState& u = Unit(unit);
        return u.widget != nullptr && u.widget->isVisible();
    }
    void SetShown(UnitRef unit, bool shown) override {
        if (QWidget* w = Unit(unit).widget) w->setVisible(shown);
    }
    std::string& Tag(UnitRef unit) override { return Unit(unit).tag; }
    std::uint32_t Colour(UnitRef unit, std::uint32_t property) override {
        const UnitState& u = Unit(unit);
        return property == unit_property::kTextColour ? u.textColour : u.backColour;
    }
    void SetColour(UnitRef unit, std::uint32_t property, std::uint32_t colour) override {
        UnitState& u = Unit(unit);
        (property == unit_property::kTextColour ? u.textColour : u.backColour) = colour;
        ApplyColours(u);
    }
    std::int32_t& Attribute24(UnitRef unit) override { return Unit(unit).attribute24; }
    std::int32_t TimerPeriod(UnitRef unit) override {
        const UnitState& u = Unit(unit);
        return u.timer != nullptr && u.timer->isActive() ? u.timer->interval() : 0;
    }
    void SetTimerPeriod(UnitRef unit, std::int32_t period) override {
        QTimer* timer = Unit(unit).timer;
        if (timer == nullptr) return;
        timer->stop();
        if (period > 0) timer->start(period);
    }

    Value CopyUnit(UnitRef source) override {
        UnitState* from = FindUnit(source.window, source.unit);
        WindowState* w = from != nullptr ? FindWindowState(from->window) : nullptr;
        if (w == nullptr || from->record == nullptr || from->id == w->id ||
            from->type == type::kMenuItem)
            return OmittedValue();
        auto copy = std::make_unique<UnitState>();
        copy->window = w->id;
        copy->id = NewCopyId();
        copy->type = from->type;
        copy->record = from->record;
        copy->events = from->events;
        if (!CreateUnitWidget(*w, *copy, true)) return OmittedValue();
        copy->textColour = from->textColour;
        copy->backColour = from->backColour;
        ApplyColours(*copy);
        UnitState* made = copy.get();
        w->units[copy->id] = std::move(copy);
        return UnitRecord(made);
    }
    void RouteEvents(UnitRef unit, UnitRef source) override {
        UnitState* to = FindUnit(unit.window, unit.unit);
        const UnitState* from = FindUnit(source.window, source.unit);
        if (to != nullptr && from != nullptr) to->events = from->events;
    }
    Value EventUnit() override {
        const auto [w, u] = CurrentEventUnit();
        return UnitRecord(FindUnit(w, u));
    }
    bool IsCreated(UnitRef unit) override { return FindUnit(unit.window, unit.unit) != nullptr; }
    bool LoadWindow(std::uint32_t windowId) override { return qt::LoadWindow(windowId, true); }
    void DestroyWindow(std::uint32_t windowId) override { qt::DestroyWindow(windowId); }
    void PopUpMenu(std::uint32_t windowId, UnitRef menuUnit,
                   std::optional<std::pair<int, int>> at) override {
        WindowState* w = FindWindowState(windowId);
        UnitState* menu = FindUnit(menuUnit.window, menuUnit.unit);
        if (w == nullptr || menu == nullptr || menu->menu == nullptr) return;
        // Not modal: the chosen item runs its handler when it is triggered.
        menu->menu->popup(at ? w->widget->mapToGlobal(QPoint(at->first, at->second))
                             : QCursor::pos());
    }
    bool IsPlayer(UnitRef unit) override { return Player(unit) != nullptr; }
    void SetPlayerUrl(UnitRef player, std::string_view url) override {
        Player(player)->SetUrl(FromGbk(url));
    }
    void StopPlayer(UnitRef player) override { Player(player)->Stop(); }

  private:
    static UnitState& Unit(UnitRef unit) { return *FindUnit(unit.window, unit.unit); }
    static PlayerWidget* Player(UnitRef unit) {
        const UnitState* u = FindUnit(unit.window, unit.unit);
        return u != nullptr ? u->player : nullptr;
    }
};

QtWindowOperations g_operations;

}  // namespace

void ReadUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                      std::int32_t, Value* result) {
    platform::ReadUnitProperty(g_operations, {window, unit}, property, result);
}

void WriteUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                       std::int32_t, Word low, std::uint32_t) {
    platform::WriteUnitProperty(g_operations, {window, unit}, property, low);
}

bool RunWindowCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result) {
    return platform::RunWindowCommand(g_operations, command, n, args, result);
}

void RunPlayerCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result) {
    platform::RunPlayerCommand(g_operations, command, n, args, result);
}

}  // namespace tessel::qt
