// What a unit property, a pop-up menu or a player command is on the Qt toolkit's widgets.
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <algorithm>

#include "player_widget.h"
#include "tessel/runtime/units.h"
#include "window_state.h"

namespace tessel::qt {

namespace {

namespace type = image::unit_type;

bool IsWindow(const windows::Unit& u) {
    return u.type == type::kWindow;
}

}  // namespace

std::string QtToolkit::Text(windows::Unit& u) {
    QWidget* w = PartOf<QtPart>(u).widget;
    if (w == nullptr) return {};
    if (IsWindow(u)) return ToGbk(w->windowTitle());
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return ToGbk(edit->text());
    if (auto* label = qobject_cast<QLabel*>(w)) return ToGbk(label->text());
    if (auto* button = qobject_cast<QPushButton*>(w)) return ToGbk(button->text());
    return {};
}

void QtToolkit::SetText(windows::Unit& u, std::string_view gbk) {
    QWidget* w = PartOf<QtPart>(u).widget;
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

// A window's place is its outer one, with the frame the form was designed with.
windows::UnitPlace QtToolkit::Place(windows::Unit& u) {
    QWidget* w = PartOf<QtPart>(u).widget;
    QRect r;
    if (w != nullptr && IsWindow(u))
        r = {w->pos(), w->size() + QSize(kFrameWidth, kFrameHeight)};
    else if (w != nullptr)
        r = w->geometry();
    return {r.left(), r.top(), r.width(), r.height()};
}

void QtToolkit::SetPlace(windows::Unit& u, windows::UnitPlace p) {
    QWidget* w = PartOf<QtPart>(u).widget;
    const QRect r(p.left, p.top, p.width, p.height);
    if (w != nullptr && IsWindow(u)) {
        w->move(r.topLeft());
        w->setFixedSize(std::max(0, r.width() - kFrameWidth),
                        std::max(0, r.height() - kFrameHeight));
    } else if (w != nullptr) {
        w->setGeometry(r);
    }
}

bool QtToolkit::Shown(windows::Unit& u) {
    QWidget* w = PartOf<QtPart>(u).widget;
    return w != nullptr && w->isVisible();
}

void QtToolkit::SetShown(windows::Unit& u, bool shown) {
    if (QWidget* w = PartOf<QtPart>(u).widget) w->setVisible(shown);
}

void QtToolkit::ColoursChanged(windows::Unit& u) {
    ApplyColours(u);
}

void QtToolkit::TimerChanged(windows::Unit& u) {
    QTimer* timer = PartOf<QtPart>(u).timer;
    if (timer == nullptr) return;
    timer->stop();
    if (u.timerPeriod > 0) timer->start(u.timerPeriod);
}

void QtToolkit::PopUpMenu(windows::Window& window, windows::Unit& menu,
                          std::optional<std::pair<int, int>> at) {
    QMenu* popUp = PartOf<QtPart>(menu).menu;
    if (popUp == nullptr) return;
    // Not modal: the chosen item runs its handler when it is triggered.
    popUp->popup(at ? WidgetOf(window)->mapToGlobal(QPoint(at->first, at->second))
                    : QCursor::pos());
}

bool QtToolkit::IsPlayer(windows::Unit& u) {
    return PartOf<QtPart>(u).player != nullptr;
}

void QtToolkit::SetPlayerUrl(windows::Unit& player, std::string_view gbk) {
    PartOf<QtPart>(player).player->SetUrl(FromGbk(gbk));
}

void QtToolkit::StopPlayer(windows::Unit& player) {
    PartOf<QtPart>(player).player->Stop();
}

void QtToolkit::ReleasePlayers() {
    Windows().ForEachUnit([](windows::Unit& u) {
        if (PlayerWidget* player = PartOf<QtPart>(u).player) player->Stop();
    });
}

}  // namespace tessel::qt
