// The Qt toolkit's windows and units: the widgets the core's form walk asks for, and the widgets
// that turn user actions into the events bound in the form.
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
#include "tessel/window_core/unit_rules.h"
#include "window_state.h"

namespace tessel::qt {

namespace {

namespace type = image::unit_type;
using namespace image::event;

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

windows::HeldKeys Held(Qt::KeyboardModifiers m) {
    return {(m & Qt::ShiftModifier) != 0, (m & Qt::ControlModifier) != 0,
            (m & Qt::AltModifier) != 0};
}

class EditBox final : public QLineEdit {
  public:
    using QLineEdit::QLineEdit;

  protected:
    void keyPressEvent(QKeyEvent* e) override {
        const QPointer<EditBox> self(this);
        if (const windows::Unit* u = UnitOfWidget(this))
            Windows().RaiseEvent(*u, kKeyDown, VirtualKey(*e),
                                 windows::ShiftState(Held(e->modifiers())));
        // Enter reached the key-down handler already; the handler may have closed the window.
        if (self != nullptr && e->key() != Qt::Key_Return && e->key() != Qt::Key_Enter)
            QLineEdit::keyPressEvent(e);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        QLineEdit::mouseDoubleClickEvent(e);
        if (const windows::Unit* u = UnitOfWidget(this)) Windows().RaiseEvent(*u, kDoubleClick);
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
        if (const windows::Unit* u = UnitOfWidget(this)) {
            const QPoint at = e->position().toPoint();
            Windows().RaiseEvent(*u, kLeftButtonDown, at.x(), at.y(),
                                 windows::LeftButtonKeyState(Held(e->modifiers())));
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
        windows::Window* w = Windows().LoadedWindow(id_);
        if (w == nullptr) return;
        // The close query answers whether the window may go; one that stays is the handler's.
        if (!Windows().MayClose(*w)) {
            e->ignore();
            return;
        }
        e->ignore();  // the window is destroyed below, not merely hidden
        QTimer::singleShot(0, [id = id_] { Windows().DestroyWindow(id); });
    }

  private:
    std::uint32_t id_;
};

QIcon IconFromIco(const image::Bytes& ico) {
    QImage picture;
    if (!picture.loadFromData(ico.data(), static_cast<int>(ico.size()), "ICO")) return {};
    return QIcon(QPixmap::fromImage(picture));
}

QWidget* MakeWidget(QWidget* parent, windows::Unit& u) {
    const image::Unit& r = *u.record;
    switch (r.type) {
        case type::kEditBox:
            return new EditBox(FromGbk(windows::FormText(r)), parent);
        case type::kButton: {
            auto* button = new QPushButton(FromGbk(windows::FormText(r)), parent);
            const UnitRef self{u.window, u.id};
            QObject::connect(button, &QPushButton::clicked,
                             [self] { Windows().RaiseIfLoaded(self, kClick); });
            return button;
        }
        case type::kLabel:
            return new Label(FromGbk(windows::FormText(r)), parent);
        case type::kReportList:
            return MakeReportList(parent, u);
        case type::kStatusBar:
            return MakeStatusBar(parent, u);
        case type::kMediaPlayer: {
            auto* player = MakePlayer(parent, u);
            PartOf<QtPart>(u).player = player;
            return player;
        }
        default:
            return nullptr;
    }
}

// A timer is never drawn; it raises its tick event at its period.
void MakeTimer(QWidget* parent, windows::Unit& u) {
    QtPart& part = PartOf<QtPart>(u);
    part.timer = new QTimer(parent);
    const UnitRef self{u.window, u.id};
    QObject::connect(part.timer, &QTimer::timeout,
                     [self] { Windows().RaiseIfLoaded(self, kTick); });
    if (u.timerPeriod != 0) part.timer->start(u.timerPeriod);
}

}  // namespace

QWidget* WidgetOf(windows::Window& window) {
    return PartOf<QtPart>(window.Self()).widget;
}

// Dynamic properties: they go with the widget, and a widget of another kind has none.
constexpr char kWindowIdProperty[] = "tesselWindow";
constexpr char kUnitIdProperty[] = "tesselUnit";

void CarryUnitIds(QWidget* widget, const windows::Unit& unit) {
    widget->setProperty(kWindowIdProperty, unit.window);
    widget->setProperty(kUnitIdProperty, unit.id);
}

windows::Unit* UnitOfWidget(const QWidget* widget) {
    if (widget == nullptr) return nullptr;
    const QVariant window = widget->property(kWindowIdProperty);
    const QVariant unit = widget->property(kUnitIdProperty);
    if (!window.isValid() || !unit.isValid()) return nullptr;
    windows::Unit* u = Windows().FindUnit(UnitRef{window.toUInt(), unit.toUInt()});
    const QtPart* part = u != nullptr ? windows::PartIfMade<QtPart>(*u) : nullptr;
    return part != nullptr && part->widget == widget ? u : nullptr;
}

void ApplyColours(windows::Unit& u) {
    QWidget* widget = PartOf<QtPart>(u).widget;
    if (widget == nullptr) return;
    QPalette palette = widget->palette();
    const auto colour = [](std::uint32_t bgr) {
        return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                      static_cast<int>((bgr >> 16) & 0xFF));
    };
    if (u.type == type::kEditBox) {
        palette.setColor(QPalette::Text, colour(u.textColour));
        if (u.backColour != windows::kNoColour)
            palette.setColor(QPalette::Base, colour(u.backColour));
    } else {
        palette.setColor(QPalette::WindowText, colour(u.textColour));
        if (u.backColour != windows::kNoColour)
            palette.setColor(QPalette::Window, colour(u.backColour));
        widget->setAutoFillBackground(u.backColour != windows::kNoColour);
    }
    widget->setPalette(palette);
}

void UpdateAccessibleName(windows::Unit& u) {
    QWidget* widget = PartOf<QtPart>(u).widget;
    if (widget == nullptr || u.record == nullptr) return;
    const QString name = FromGbk(u.record->name);
    QString caption;
    if (auto* label = qobject_cast<QLabel*>(widget)) caption = label->text();
    if (auto* button = qobject_cast<QPushButton*>(widget)) caption = button->text();
    widget->setAccessibleName(caption.isEmpty() ? name : caption);
    widget->setAccessibleDescription(name);
}

bool QtToolkit::MakeWindow(windows::Window& w) {
    windows::Unit& self = w.Self();
    const image::Unit& selfRecord = *self.record;
    const auto* props = std::get_if<image::WindowProperties>(&selfRecord.properties);
    auto* window = new ProgramWindow(w.id);
    PartOf<QtPart>(self).widget = window;
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    CarryUnitIds(window, self);
    window->setWindowTitle(FromGbk(windows::FormText(selfRecord)));
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
    return true;
}

// Also for copies, which are never shown when made.
bool QtToolkit::CreateUnit(windows::Window& w, windows::Unit& u, bool shown) {
    const image::Unit& r = *u.record;
    if (r.type == type::kTimer) {
        MakeTimer(WidgetOf(w), u);
        return true;
    }
    QWidget* widget = MakeWidget(WidgetOf(w), u);
    if (widget == nullptr) return false;
    PartOf<QtPart>(u).widget = widget;
    CarryUnitIds(widget, u);
    if (r.type != type::kStatusBar) widget->setGeometry(r.left, r.top, r.width, r.height);
    widget->setFocusPolicy(u.TakesFocus() ? Qt::StrongFocus : Qt::NoFocus);
    widget->setVisible(shown);
    ApplyColours(u);
    UpdateAccessibleName(u);
    return true;
}

// A top-level menu is popped up over units, never shown as a menu bar.
void QtToolkit::CreateMenu(windows::Window& w, windows::Unit& menu) {
    const auto* p = std::get_if<image::MenuItemProperties>(&menu.record->properties);
    auto* popUp = new QMenu(FromGbk(p->caption), WidgetOf(w));
    popUp->setAccessibleName(FromGbk(menu.record->name));
    PartOf<QtPart>(menu).menu = popUp;
}

void QtToolkit::AddMenuItem(windows::Window&, windows::Unit& menu, windows::Unit& item) {
    const auto* p = std::get_if<image::MenuItemProperties>(&item.record->properties);
    QAction* action = PartOf<QtPart>(menu).menu->addAction(FromGbk(p->caption));
    const UnitRef self{item.window, item.id};
    // Acted on when triggered: a menu driven from outside returns no chosen action.
    QObject::connect(action, &QAction::triggered, [self] { Windows().RunMenuItemIfLoaded(self); });
}

void QtToolkit::FinishWindow(windows::Window& w, const std::vector<windows::Unit*>& focusOrder,
                             bool show) {
    // The tab order is the order the form creates the units in.
    QWidget* previousFocus = nullptr;
    for (windows::Unit* u : focusOrder) {
        QWidget* widget = PartOf<QtPart>(*u).widget;
        if (widget == nullptr) continue;
        if (previousFocus != nullptr) QWidget::setTabOrder(previousFocus, widget);
        previousFocus = widget;
    }
    PlaceStatusBars(w);
    if (show) {
        WidgetOf(w)->show();
        if (windows::Unit* first = windows::FirstFocus(focusOrder))
            if (QWidget* widget = PartOf<QtPart>(*first).widget) widget->setFocus();
    }
}

void QtToolkit::ShowAgain(windows::Window& w) {
    WidgetOf(w)->show();
}

// A window destroyed from its own handler is still on the stack: it goes when the loop next runs.
void QtToolkit::DestroyWindow(windows::Window& w) {
    QWidget* widget = WidgetOf(w);
    if (widget == nullptr) return;
    if (discarding) {
        delete widget;
        return;
    }
    widget->hide();
    widget->deleteLater();
}

void QtToolkit::Quit() {
    QApplication::quit();
}

int QtToolkit::RunHandler(std::uint32_t codeOffset, std::int32_t a, std::int32_t b, std::int32_t c,
                          int fallback) {
    const EventHandler handler = LookUpHandler(codeOffset);
    if (handler == nullptr) return fallback;
    const std::uint32_t unit = Windows().EventUnit().unit;
    QElapsedTimer took;
    took.start();
    const int result = handler(a, b, c);
    AppendTrace("TESSEL_EVENT_LOG", "handler " + std::to_string(codeOffset) + " unit " +
                                        std::to_string(unit) + " " +
                                        std::to_string(took.nsecsElapsed() / 1000) + " us");
    return result;
}

void DiscardWindows() {
    auto& toolkit = static_cast<QtToolkit&>(Windows().toolkit());
    toolkit.discarding = true;
    Windows().DiscardWindows();
    toolkit.discarding = false;
}

QWidget* WindowWidget(std::uint32_t windowId) {
    windows::Window* w = Windows().LoadedWindow(windowId);
    return w != nullptr ? WidgetOf(*w) : nullptr;
}

namespace {

// What the toolkit made of a registered unit; looking gives a unit no part.
const QtPart* MadePart(std::uint32_t window, std::uint32_t unit) {
    const windows::Unit* u = Windows().FindUnit({window, unit});
    return u != nullptr ? windows::PartIfMade<QtPart>(*u) : nullptr;
}

}  // namespace

QWidget* UnitWidget(std::uint32_t window, std::uint32_t unit) {
    const QtPart* part = MadePart(window, unit);
    return part != nullptr ? part->widget.data() : nullptr;
}

QMenu* UnitMenu(std::uint32_t window, std::uint32_t unit) {
    const QtPart* part = MadePart(window, unit);
    return part != nullptr ? part->menu.data() : nullptr;
}

QTimer* UnitTimer(std::uint32_t window, std::uint32_t unit) {
    const QtPart* part = MadePart(window, unit);
    return part != nullptr ? part->timer.data() : nullptr;
}

QWidget* ActiveProgramWindow() {
    if (QWidget* active = QApplication::activeWindow()) return active;
    windows::Window* main = Windows().MainWindow();
    return main != nullptr ? WidgetOf(*main) : nullptr;
}

}  // namespace tessel::qt
