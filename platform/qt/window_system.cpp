// Windows and their units built from the `form` section, the widgets that turn user actions into
// the events bound in the form, and the event-unit bookkeeping.
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QWidget>

#include "player_widget.h"
#include "report_widgets.h"
#include "runtime_state.h"
#include "tessel/runtime/units.h"
#include "window_state.h"

namespace tessel::qt {

namespace {

namespace type = image::unit_type;
using namespace image::event;

std::map<std::uint32_t, std::unique_ptr<WindowState>> g_windows;
std::vector<std::pair<std::uint32_t, std::uint32_t>> g_eventUnits;  // innermost last
std::uint32_t g_nextCopy = 0xE000;

// Windows virtual-key codes of the keys a handler may look at.
std::int32_t VirtualKey(const QKeyEvent& e) {
    const int key = e.key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return 'A' + (key - Qt::Key_A);
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return '0' + (key - Qt::Key_0);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return 0x70 + (key - Qt::Key_F1);
    switch (key) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 13;
        case Qt::Key_Backspace:
            return 8;
        case Qt::Key_Tab:
            return 9;
        case Qt::Key_Escape:
            return 27;
        case Qt::Key_Space:
            return 32;
        case Qt::Key_PageUp:
            return 33;
        case Qt::Key_PageDown:
            return 34;
        case Qt::Key_End:
            return 35;
        case Qt::Key_Home:
            return 36;
        case Qt::Key_Left:
            return 37;
        case Qt::Key_Up:
            return 38;
        case Qt::Key_Right:
            return 39;
        case Qt::Key_Down:
            return 40;
        case Qt::Key_Insert:
            return 45;
        case Qt::Key_Delete:
            return 46;
        case Qt::Key_Shift:
            return 16;
        case Qt::Key_Control:
            return 17;
        case Qt::Key_Alt:
            return 18;
        default:
            return 0;
    }
}

// 1 shift, 2 control, 4 alt, as the key-down event reports them.
std::int32_t ShiftState(Qt::KeyboardModifiers m) {
    std::int32_t s = 0;
    if (m & Qt::ShiftModifier) s |= 1;
    if (m & Qt::ControlModifier) s |= 2;
    if (m & Qt::AltModifier) s |= 4;
    return s;
}

// The MK_* key state of a button press: left button 1, shift 4, control 8.
std::int32_t MouseKeyState(Qt::KeyboardModifiers m) {
    std::int32_t s = 1;
    if (m & Qt::ShiftModifier) s |= 4;
    if (m & Qt::ControlModifier) s |= 8;
    return s;
}

class EditBox final : public QLineEdit {
  public:
    using QLineEdit::QLineEdit;

  protected:
    void keyPressEvent(QKeyEvent* e) override {
        const QPointer<EditBox> self(this);
        if (const UnitState* u = FindUnitByWidget(this))
            RaiseEvent(*u, kKeyDown, VirtualKey(*e), ShiftState(e->modifiers()));
        // Enter reached the key-down handler already; the handler may have closed the window.
        if (self != nullptr && e->key() != Qt::Key_Return && e->key() != Qt::Key_Enter)
            QLineEdit::keyPressEvent(e);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        QLineEdit::mouseDoubleClickEvent(e);
        if (const UnitState* u = FindUnitByWidget(this)) RaiseEvent(*u, kDoubleClick);
    }
};

// The pixels a label's text keeps free before a label that begins where it ends.
constexpr int kGapBeforeNextLabel = 4;

class Label final : public QLabel {
  public:
    using QLabel::QLabel;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(TextArea(), static_cast<int>(alignment()), ShownText());
    }
    // A text cut short is shown whole in a tool tip where the pointer rests on it (the save
    // directory's label is narrower than most paths).
    bool event(QEvent* e) override {
        if (e->type() != QEvent::ToolTip || !toolTip().isEmpty()) return QLabel::event(e);
        if (ShownText() != text())
            QToolTip::showText(static_cast<QHelpEvent*>(e)->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    void mousePressEvent(QMouseEvent* e) override {
        QLabel::mousePressEvent(e);
        if (e->button() != Qt::LeftButton) return;
        if (const UnitState* u = FindUnitByWidget(this)) {
            const QPoint at = e->position().toPoint();
            RaiseEvent(*u, kLeftButtonDown, at.x(), at.y(), MouseKeyState(e->modifiers()));
        }
    }

  private:
    // A text longer than the label ends in an ellipsis, as a static text does on Windows. Labels
    // laid out edge to edge (the tags of a row) would read as one text where a caption fills its
    // label: such a text ends a little earlier, the label keeps its place and width.
    QRect TextArea() const {
        QRect area = contentsRect();
        if (NextLabelTouches()) area.setRight(area.right() - kGapBeforeNextLabel);
        return area;
    }
    QString ShownText() const {
        return fontMetrics().elidedText(text(), Qt::ElideRight, TextArea().width());
    }
    // Whether a shown label of the same window begins within the gap after this one's right
    // edge, beside it.
    bool NextLabelTouches() const {
        if (parentWidget() == nullptr) return false;
        const QRect mine = geometry();
        for (const QObject* child : parentWidget()->children()) {
            const auto* other = dynamic_cast<const Label*>(child);
            if (other == nullptr || other == this || other->isHidden()) continue;
            const QRect next = other->geometry();
            const int gap = next.left() - (mine.right() + 1);
            if (gap >= 0 && gap < kGapBeforeNextLabel && next.top() <= mine.bottom() &&
                next.bottom() >= mine.top())
                return true;
        }
        return false;
    }
};

// A program window: its client area holds the units at their stored places.
class ProgramWindow final : public QWidget {
  public:
    explicit ProgramWindow(std::uint32_t id) : id_(id) {}

  protected:
    void closeEvent(QCloseEvent* e) override {
        WindowState* w = FindWindowState(id_);
        if (w == nullptr) return;
        // The close query answers whether the window may go; one that stays is the handler's.
        if (RaiseEvent(*w->units.at(id_), kCloseQuery, 0, 0, 0, 1) == 0) {
            e->ignore();
            return;
        }
        e->ignore();  // the window is destroyed below, not merely hidden
        QTimer::singleShot(0, [id = id_] { DestroyWindow(id); });
    }

  private:
    std::uint32_t id_;
};

QIcon IconFromIco(const image::Bytes& ico) {
    QImage picture;
    if (!picture.loadFromData(ico.data(), static_cast<int>(ico.size()), "ICO")) return {};
    return QIcon(QPixmap::fromImage(picture));
}

QWidget* MakeWidget(WindowState& w, UnitState& u) {
    const image::Unit& r = *u.record;
    switch (r.type) {
        case type::kEditBox: {
            const auto* p = std::get_if<image::EditBoxProperties>(&r.properties);
            auto* edit = new EditBox(p != nullptr ? FromGbk(p->content) : QString(), w.widget);
            if (p != nullptr) u.backColour = p->backColour;
            return edit;
        }
        case type::kButton: {
            const auto* p = std::get_if<image::ButtonProperties>(&r.properties);
            auto* button = new QPushButton(p != nullptr ? FromGbk(p->caption) : QString(), w.widget);
            const std::uint32_t window = w.id, unit = u.id;
            QObject::connect(button, &QPushButton::clicked, [window, unit] {
                if (const UnitState* self = FindUnit(window, unit)) RaiseEvent(*self, kClick);
            });
            return button;
        }
        case type::kLabel: {
            const auto* p = std::get_if<image::LabelProperties>(&r.properties);
            auto* label = new Label(p != nullptr ? FromGbk(p->caption) : QString(), w.widget);
            if (p != nullptr) {
                u.textColour = p->textColour;
                u.backColour = p->backColour;
            }
            return label;
        }
        case type::kReportList:
            return MakeReportList(w, u);
        case type::kStatusBar:
            return MakeStatusBar(w, u);
        case type::kMediaPlayer: {
            auto* player = MakePlayer(w, u);
            u.player = player;
            return player;
        }
        default:
            return nullptr;
    }
}

}  // namespace

WindowState* FindWindowState(std::uint32_t windowId) {
    const auto it = g_windows.find(windowId);
    return it == g_windows.end() ? nullptr : it->second.get();
}

UnitState* FindUnit(std::uint32_t window, std::uint32_t unit) {
    WindowState* w = FindWindowState(window);
    if (w == nullptr) return nullptr;
    const auto it = w->units.find(unit);
    return it == w->units.end() ? nullptr : it->second.get();
}

UnitState* FindUnitByWidget(const QWidget* widget) {
    if (widget == nullptr) return nullptr;
    for (auto& [id, w] : g_windows)
        for (auto& [uid, u] : w->units)
            if (u->widget == widget) return u.get();
    return nullptr;
}

std::uint32_t NewCopyId() {
    return 0x7E000000u | g_nextCopy++;
}

int RunHandler(std::uint32_t window, std::uint32_t unit, std::uint32_t codeOffset) {
    return RunHandlerWith(window, unit, codeOffset, 0, 0, 0, 0);
}

int RunHandlerWith(std::uint32_t window, std::uint32_t unit, std::uint32_t codeOffset,
                   std::int32_t a, std::int32_t b, std::int32_t c, int fallback) {
    const EventHandler handler = LookUpHandler(codeOffset);
    if (handler == nullptr) return fallback;
    g_eventUnits.emplace_back(window, unit);
    QElapsedTimer took;
    took.start();
    const int result = handler(a, b, c);
    g_eventUnits.pop_back();
    AppendTrace("TESSEL_EVENT_LOG", "handler " + std::to_string(codeOffset) + " unit " +
                                        std::to_string(unit) + " " +
                                        std::to_string(took.nsecsElapsed() / 1000) + " us");
    return result;
}

int RaiseEvent(const UnitState& unit, std::int32_t event, std::int32_t a, std::int32_t b,
               std::int32_t c, int fallback) {
    std::uint32_t offset = image::kNone;
    for (const auto& e : unit.events)
        if (e.number == event) offset = e.codeOffset;
    if (offset == image::kNone) return fallback;
    return RunHandlerWith(unit.window, unit.id, offset, a, b, c, fallback);
}

std::pair<std::uint32_t, std::uint32_t> CurrentEventUnit() {
    return g_eventUnits.empty() ? std::pair<std::uint32_t, std::uint32_t>{0, 0}
                                : g_eventUnits.back();
}

void ApplyColours(UnitState& u) {
    if (u.widget == nullptr) return;
    QPalette palette = u.widget->palette();
    const auto colour = [](std::uint32_t bgr) {
        return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                      static_cast<int>((bgr >> 16) & 0xFF));
    };
    if (u.type == type::kEditBox) {
        palette.setColor(QPalette::Text, colour(u.textColour));
        if (u.backColour != UnitState::kNoColour) palette.setColor(QPalette::Base, colour(u.backColour));
    } else {
        palette.setColor(QPalette::WindowText, colour(u.textColour));
        if (u.backColour != UnitState::kNoColour) palette.setColor(QPalette::Window, colour(u.backColour));
        u.widget->setAutoFillBackground(u.backColour != UnitState::kNoColour);
    }
    u.widget->setPalette(palette);
}

void UpdateAccessibleName(UnitState& u) {
    if (u.widget == nullptr || u.record == nullptr) return;
    const QString name = FromGbk(u.record->name);
    QString caption;
    if (auto* label = qobject_cast<QLabel*>(u.widget.data())) caption = label->text();
    if (auto* button = qobject_cast<QPushButton*>(u.widget.data())) caption = button->text();
    u.widget->setAccessibleName(caption.isEmpty() ? name : caption);
    u.widget->setAccessibleDescription(name);
}

bool CreateUnitWidget(WindowState& w, UnitState& u, bool forceHidden) {
    const image::Unit& r = *u.record;
    if (r.type == type::kTimer) {
        const auto* p = std::get_if<image::TimerProperties>(&r.properties);
        u.timer = new QTimer(w.widget);
        const std::uint32_t window = w.id, unit = u.id;
        QObject::connect(u.timer, &QTimer::timeout, [window, unit] {
            if (const UnitState* self = FindUnit(window, unit)) RaiseEvent(*self, kTick);
        });
        u.timer->setProperty("tesselGeometry", QRect(r.left, r.top, r.width, r.height));
        if (p != nullptr && p->period != 0) u.timer->start(static_cast<int>(p->period));
        return true;
    }
    QWidget* widget = MakeWidget(w, u);
    if (widget == nullptr) return false;
    u.widget = widget;
    if (r.type != type::kStatusBar) widget->setGeometry(r.left, r.top, r.width, r.height);
    widget->setFocusPolicy((r.flags & image::kUnitTakesFocus) != 0 ? Qt::StrongFocus
                                                                   : Qt::NoFocus);
    widget->setVisible((r.flags & image::kUnitShown) != 0 && !forceHidden);
    ApplyColours(u);
    UpdateAccessibleName(u);
    return true;
}

bool LoadWindow(std::uint32_t windowId, bool show) {
    if (WindowState* existing = FindWindowState(windowId)) {
        if (show) existing->widget->show();
        return true;
    }
    const auto& windows = Program().form.windows;
    const image::FormWindow* form = nullptr;
    for (const auto& fw : windows)
        if (fw.id == windowId) form = &fw;
    if (form == nullptr || form->units.empty()) return false;

    auto state = std::make_unique<WindowState>();
    WindowState& w = *state;
    w.id = windowId;
    w.form = form;
    w.isMain = &windows.front() == form;
    const image::Unit& selfRecord = form->units.front();
    const auto* props = std::get_if<image::WindowProperties>(&selfRecord.properties);
    auto* window = new ProgramWindow(windowId);
    w.widget = window;
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setWindowTitle(props != nullptr ? FromGbk(props->title) : QString());
    // A window is known by its title; one without a title by its name.
    if (window->windowTitle().isEmpty()) window->setAccessibleName(FromGbk(selfRecord.name));
    // The stored size is the outer one; the window manager draws its own frame around the rest.
    window->move(selfRecord.left, selfRecord.top);
    window->setFixedSize(selfRecord.width - kFrameWidth, selfRecord.height - kFrameHeight);
    if (props != nullptr && props->maximizeButton == 0)
        window->setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    if (props != nullptr && props->minimizeButton == 0)
        window->setWindowFlag(Qt::WindowMinimizeButtonHint, false);
    if (props != nullptr && !props->icon.empty()) window->setWindowIcon(IconFromIco(props->icon));
    g_windows[windowId] = std::move(state);

    // Units in stored order: the window's own record, the controls, then the menu items.
    QMenu* currentMenu = nullptr;
    QWidget* previousFocus = nullptr;
    QWidget* firstFocus = nullptr;
    for (const auto& r : form->units) {
        auto u = std::make_unique<UnitState>();
        u->window = windowId;
        u->id = &r == &selfRecord ? windowId : r.id;
        u->type = r.type;
        u->record = &r;
        u->events = r.events;
        if (&r == &selfRecord) {
            u->widget = window;
        } else if (r.type == type::kMenuItem) {
            const auto* p = std::get_if<image::MenuItemProperties>(&r.properties);
            if (p != nullptr && p->level == 0) {
                // A top-level menu is popped up over units, never shown as a menu bar.
                u->menu = currentMenu = new QMenu(FromGbk(p->caption), window);
                currentMenu->setAccessibleName(FromGbk(r.name));
            } else if (p != nullptr && currentMenu != nullptr) {
                u->clickHandler = p->clickHandler;
                QAction* action = currentMenu->addAction(FromGbk(p->caption));
                const std::uint32_t unit = r.id;
                // Acted on when triggered: a menu driven from outside returns no chosen action.
                QObject::connect(action, &QAction::triggered, [windowId, unit] {
                    if (const UnitState* item = FindUnit(windowId, unit))
                        RunHandler(windowId, unit, item->clickHandler);
                });
            }
        } else {
            CreateUnitWidget(w, *u, false);
            if (u->widget != nullptr && (r.flags & image::kUnitTakesFocus) != 0) {
                if (previousFocus != nullptr) QWidget::setTabOrder(previousFocus, u->widget);
                previousFocus = u->widget;
                if (firstFocus == nullptr && (r.flags & image::kUnitShown) != 0) firstFocus = u->widget;
            }
        }
        w.units[u->id] = std::move(u);
    }
    PlaceStatusBars(w);
    if (show) {
        window->show();
        if (firstFocus != nullptr) firstFocus->setFocus();
    }
    RaiseEvent(*w.units.at(windowId), kCreated);
    return true;
}

void DestroyWindow(std::uint32_t windowId) {
    WindowState* w = FindWindowState(windowId);
    if (w == nullptr) return;
    RaiseEvent(*w->units.at(windowId), kDestroying);
    w = FindWindowState(windowId);  // the handler may have destroyed it already
    if (w == nullptr) return;
    const bool isMain = w->isMain;
    QWidget* widget = w->widget;
    g_windows.erase(windowId);  // the window may be loaded again
    if (widget != nullptr) {
        widget->hide();
        widget->deleteLater();
    }
    if (isMain) {
        std::vector<std::uint32_t> others;
        for (auto& [id, other] : g_windows) others.push_back(id);
        for (std::uint32_t id : others) DestroyWindow(id);
        QApplication::quit();
    }
}

void DiscardWindows() {
    for (auto& [id, w] : g_windows)
        if (w->widget != nullptr) delete w->widget.data();
    g_windows.clear();
    g_eventUnits.clear();
}

QWidget* WindowWidget(std::uint32_t windowId) {
    WindowState* w = FindWindowState(windowId);
    return w != nullptr ? w->widget.data() : nullptr;
}

QWidget* UnitWidget(std::uint32_t window, std::uint32_t unit) {
    UnitState* u = FindUnit(window, unit);
    return u != nullptr ? u->widget.data() : nullptr;
}

QMenu* UnitMenu(std::uint32_t window, std::uint32_t unit) {
    UnitState* u = FindUnit(window, unit);
    return u != nullptr ? u->menu.data() : nullptr;
}

QTimer* UnitTimer(std::uint32_t window, std::uint32_t unit) {
    UnitState* u = FindUnit(window, unit);
    return u != nullptr ? u->timer.data() : nullptr;
}

QWidget* ActiveProgramWindow() {
    if (QWidget* active = QApplication::activeWindow()) return active;
    for (auto& [id, w] : g_windows)
        if (w->isMain) return w->widget;
    return nullptr;
}

}  // namespace tessel::qt
