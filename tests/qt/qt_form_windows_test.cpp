// The main window as the image's form describes it: title, geometry, units, columns, panes, the
// menu, the fonts, the created event and what a screen reader and the keyboard get.
#include <QAbstractButton>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "qt_runtime_fixture.h"
#include "tessel/image/const_offsets.h"

namespace tessel::qt_test {

class QtFormWindowsTest : public ProgramCase {
    Q_OBJECT

  private slots:
    void mainWindowFromTheForm() {
        QWidget* main = qt::WindowWidget(app::kMainWindowId);
        QCOMPARE(main->windowTitle(), QStringLiteral("Tessel音乐搜索下载器"));
        QVERIFY(!main->windowIcon().isNull());
        // 811 x 498 outside at (50, 50); the client area is what the frame leaves.
        QCOMPARE(Read(app::kMainWindow, unit_property::kWidth).low, 811u);
        QCOMPARE(Read(app::kMainWindow, unit_property::kHeight).low, 498u);
        QCOMPARE(main->size(), QSize(807, 472));
        QCOMPARE(main->pos(), QPoint(50, 50));

        auto* edit = Unit<QLineEdit>(app::kSearchBox);
        QVERIFY(edit != nullptr);
        QCOMPARE(edit->geometry(), QRect(8, 9, 507, 32));
        auto* button = Unit<QPushButton>(app::kSearchButton);
        QCOMPARE(button->text(), QStringLiteral("搜索"));
        QCOMPARE(button->geometry(), QRect(523, 9, 88, 32));
        auto* choose = Unit<QLabel>(app::kChooseDirectoryLabel);
        QCOMPARE(choose->text(), QStringLiteral("设置目录"));
        QCOMPARE(choose->geometry(), QRect(616, 16, 48, 24));
        QCOMPARE(choose->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY(Unit<QLabel>(app::kSaveDirectoryLabel)->isVisible());
        QVERIFY(!Unit<QLabel>(app::kTagTemplate)->isVisible());  // the tags' template
        QCOMPARE(edit->font().family(), QStringLiteral("SimSun"));
        QCOMPARE(edit->font().pixelSize(), 12);
        // Served by WenQuanYi Micro Hei, 12 pixels a Chinese character as in SimSun.
        QCOMPARE(QFontInfo(edit->font()).family(), QStringLiteral("WenQuanYi Micro Hei"));
        QCOMPARE(edit->fontMetrics().horizontalAdvance(QStringLiteral("设置目录")), 48);

        auto* list = Unit<QTableWidget>(app::kSongList);
        QCOMPARE(list->geometry(), QRect(5, 72, 803, 360));
        const QStringList headers{"序号", "音乐标题", "歌手", "时长", "下载地址"};
        const int widths[] = {50, 200, 150, 50, 300};
        QCOMPARE(list->columnCount(), 5);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(list->horizontalHeaderItem(i)->text(), headers[i]);
            QCOMPARE(list->columnWidth(i), widths[i]);
        }
        // Duration centred.
        QCOMPARE(list->horizontalHeaderItem(3)->textAlignment() & Qt::AlignHCenter,
                 int(Qt::AlignHCenter));

        // The status bar: four panes docked to the bottom edge.
        QWidget* bar = Widget(app::kStatusBar);
        QCOMPARE(bar->geometry(), QRect(0, 472 - 24, 807, 24));
        const auto panes = bar->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
        QCOMPARE(panes.size(), 4);
        const QStringList paneTexts{"状态：", "下载速度：", "", "By：Quenby"};
        const int paneLefts[] = {0, 130, 300, 600};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(panes[i]->text(), paneTexts[i]);
            QCOMPARE(panes[i]->x(), paneLefts[i]);
        }

        // The menu 菜单 and its items in order; never a menu bar.
        QMenu* menu = Menu(app::kListMenu);
        QVERIFY(menu != nullptr && !menu->isVisible());
        QStringList items;
        for (QAction* a : menu->actions()) items << a->text();
        QCOMPARE(items, (QStringList{"播放", "下载", "复制下载地址"}));

        QVERIFY(!Timer(app::kProgressTimer)->isActive());
        // The window's created event ran, raised by the window.
        const auto created = CallsTo(routine_stubs::kOnMainWindowCreated);
        QCOMPARE(created.size(), std::size_t(1));
        QCOMPARE(created[0].raisedBy.unit, app::kMainWindowId);

        // Every control has an accessible name; the tab order follows the form.
        for (QWidget* w : main->findChildren<QWidget*>())
            if (w->isVisible() && !w->inherits("QScrollBar") && w->parent() == main)
                QVERIFY2(!w->accessibleName().isEmpty(), w->metaObject()->className());
        QCOMPARE(edit->nextInFocusChain(), button);
        QCOMPARE(QWidget(nullptr).focusPolicy(), Qt::NoFocus);
        QCOMPARE(choose->focusPolicy(), Qt::NoFocus);
    }
};

int RunFormWindowTests(int argc, char** argv) {
    QtFormWindowsTest test;
    return QTest::qExec(&test, argc, argv);
}

}  // namespace tessel::qt_test

#include "qt_form_windows_test.moc"
