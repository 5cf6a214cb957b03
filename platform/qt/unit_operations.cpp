// Unit properties and the window commands: what the program reads and changes on its units.
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "player_widget.h"
#include "tessel/platform/arguments.h"
#include "tessel/platform/window_commands.h"
#include "tessel/runtime/units.h"
#include "window_state.h"

namespace tessel::qt {

namespace {

namespace type = image::unit_type;

bool IsWindow(const UnitState& u) {
    return u.type == type::kWindow;
}

// Geometry relative to the parent's client area; a window's on the screen, with its frame.
QRect UnitRect(const UnitState& u) {
    if (u.type == type::kTimer)
        return u.timer != nullptr ? u.timer->property("tesselGeometry").toRect() : QRect();
    if (u.widget == nullptr) return {};
    if (IsWindow(u)) {
        const QRect client = u.widget->geometry();
        return {u.widget->pos(), QSize(client.width() + kFrameWidth, client.height() + kFrameHeight)};
    }
    return u.widget->geometry();
}

void MoveUnit(UnitState& u, std::uint32_t property, std::int32_t v) {
    QRect r = UnitRect(u);
    switch (property) {
        case unit_property::kLeft:
            r.moveLeft(v);
            break;
        case unit_property::kTop:
            r.moveTop(v);
            break;
        case unit_property::kWidth:
            r.setWidth(v);
            break;
        default:
            r.setHeight(v);
            break;
    }
    if (u.type == type::kTimer) {
        if (u.timer != nullptr) u.timer->setProperty("tesselGeometry", r);
    } else if (IsWindow(u)) {
        u.widget->move(r.topLeft());
        u.widget->setFixedSize(std::max(0, r.width() - kFrameWidth),
                               std::max(0, r.height() - kFrameHeight));
    } else {
        u.widget->setGeometry(r);
    }
}

QString WidgetText(const UnitState& u) {
    QWidget* w = u.widget;
    if (w == nullptr) return {};
    if (IsWindow(u)) return w->windowTitle();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
    return {};
}

void SetWidgetText(UnitState& u, const QString& text) {
    QWidget* w = u.widget;
    if (w == nullptr) return;
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

void SetTimerPeriod(UnitState& u, std::int32_t period) {
    if (u.timer == nullptr) return;
    u.timer->stop();
    if (period > 0) u.timer->start(period);
}

Value UnitRecord(const UnitState* u) {
    return u != nullptr ? UnitValue(u->window, u->id, u->type) : OmittedValue();
}

Value CopyUnit(UnitRef source) {
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

void PopUpMenu(std::uint32_t windowId, UnitRef menuUnit, std::optional<std::pair<int, int>> at) {
    WindowState* w = FindWindowState(windowId);
    UnitState* menu = FindUnit(menuUnit.window, menuUnit.unit);
    if (w == nullptr || menu == nullptr || menu->menu == nullptr) return;
    // Not modal: the chosen item runs its handler when it is triggered.
    menu->menu->popup(at ? w->widget->mapToGlobal(QPoint(at->first, at->second)) : QCursor::pos());
}

}  // namespace

void ReadUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                      std::int32_t, Value* result) {
    UnitState* u = FindUnit(window, unit);
    const bool isText = property == unit_property::kText || property == unit_property::kTag;
    if (u == nullptr) {
        *result = isText ? platform::NewText("") : IntegerValue(0);
        return;
    }
    switch (property) {
        case unit_property::kText:
            *result = platform::NewText(ToGbk(WidgetText(*u)));
            return;
        case unit_property::kTag:
            *result = platform::NewText(u->tag);
            return;
        case unit_property::kLeft:
        case unit_property::kTop:
        case unit_property::kWidth:
        case unit_property::kHeight: {
            const QRect r = UnitRect(*u);
            *result = IntegerValue(property == unit_property::kLeft    ? r.left()
                                   : property == unit_property::kTop   ? r.top()
                                   : property == unit_property::kWidth ? r.width()
                                                                       : r.height());
            return;
        }
        case unit_property::kShown:
            *result = LogicalValue(u->widget != nullptr && u->widget->isVisible());
            return;
        case unit_property::kTextColour:
            *result = IntegerValue(static_cast<std::int32_t>(u->textColour));
            return;
        case unit_property::kBackColour:
            *result = IntegerValue(static_cast<std::int32_t>(u->backColour));
            return;
        case unit_property::kTimerPeriod:
            *result = IntegerValue(u->timer != nullptr && u->timer->isActive()
                                       ? u->timer->interval()
                                       : 0);
            return;
        case unit_property::kAttribute24:
            *result = IntegerValue(u->attribute24);
            return;
        default:
            *result = IntegerValue(0);
            return;
    }
}

void WriteUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                       std::int32_t, Word low, std::uint32_t) {
    UnitState* u = FindUnit(window, unit);
    if (u == nullptr) return;
    const auto integer = static_cast<std::int32_t>(static_cast<std::uint32_t>(low));
    const char* text = reinterpret_cast<const char*>(low);
    switch (property) {
        case unit_property::kText:
            SetWidgetText(*u, FromGbk(text != nullptr ? text : ""));
            return;
        case unit_property::kTag:
            u->tag = text != nullptr ? text : "";
            return;
        case unit_property::kLeft:
        case unit_property::kTop:
        case unit_property::kWidth:
        case unit_property::kHeight:
            if (u->widget != nullptr || u->type == type::kTimer) MoveUnit(*u, property, integer);
            return;
        case unit_property::kShown:
            if (u->widget != nullptr) u->widget->setVisible(low != 0);
            return;
        case unit_property::kTextColour:
        case unit_property::kBackColour:
            (property == unit_property::kTextColour ? u->textColour : u->backColour) =
                static_cast<std::uint32_t>(integer);
            ApplyColours(*u);
            return;
        case unit_property::kTimerPeriod:
            SetTimerPeriod(*u, integer);
            return;
        case unit_property::kAttribute24:
            u->attribute24 = integer;
            return;
        default:
            return;
    }
}

namespace {

// The window commands and the player's on this runtime's windows.
class QtWindowOperations final : public platform::WindowOperations {
  public:
    Value CopyUnit(UnitRef source) override { return qt::CopyUnit(source); }
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
    void PopUpMenu(std::uint32_t windowId, UnitRef menu,
                   std::optional<std::pair<int, int>> at) override {
        qt::PopUpMenu(windowId, menu, at);
    }
    bool IsPlayer(UnitRef unit) override { return Player(unit) != nullptr; }
    void SetPlayerUrl(UnitRef player, std::string_view url) override {
        Player(player)->SetUrl(FromGbk(url));
    }
    void StopPlayer(UnitRef player) override { Player(player)->Stop(); }

  private:
    static PlayerWidget* Player(UnitRef unit) {
        const UnitState* u = FindUnit(unit.window, unit.unit);
        return u != nullptr ? u->player : nullptr;
    }
};

QtWindowOperations g_operations;

}  // namespace

bool RunWindowCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result) {
    return platform::RunWindowCommand(g_operations, command, n, args, result);
}

void RunPlayerCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result) {
    platform::RunPlayerCommand(g_operations, command, n, args, result);
}

}  // namespace tessel::qt
