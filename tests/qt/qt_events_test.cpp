// Events reach the handlers the form binds, with their parameters and the unit that raised them:
// keys and clicks, copied tags, the list, the player window's close query and destroying, the
// pop-up menu and the timer.
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "qt_runtime_fixture.h"
#include "tessel/image/const_offsets.h"

namespace tessel::qt_test {

class QtEventsTest : public ProgramCase {
    Q_OBJECT

  private slots:
    void eventsWithTheirParameters() {
        auto* edit = Unit<QLineEdit>(app::kSearchBox);
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClick(edit, Qt::Key_A, Qt::ShiftModifier);
        auto keys = CallsTo(routine_stubs::kOnSearchBoxKey);
        // Enter is key code 13; Shift+A is the shift key (16) and then A (65) with shift held.
        QCOMPARE(keys.size(), std::size_t(3));
        QCOMPARE(keys[0].args, (std::array<int, 3>{13, 0, 0}));
        QCOMPARE(keys[1].args, (std::array<int, 3>{16, 1, 0}));
        QCOMPARE(keys[2].args, (std::array<int, 3>{65, 1, 0}));
        QCOMPARE(keys[0].raisedBy.unit, app::kSearchBox.unit);
        QTest::mouseDClick(edit, Qt::LeftButton);
        QCOMPARE(CallsTo(routine_stubs::kOnSearchBoxDoubleClick).size(), std::size_t(1));

        QTest::mouseClick(Unit<QPushButton>(app::kSearchButton), Qt::LeftButton);
        auto searches = CallsTo(routine_stubs::kOnSearch);
        QCOMPARE(searches.size(), std::size_t(1));
        QCOMPARE(searches[0].raisedBy.unit, app::kSearchButton.unit);

        QTest::mouseClick(Unit<QLabel>(app::kChooseDirectoryLabel), Qt::LeftButton, {},
                          QPoint(5, 7));
        auto choose = CallsTo(routine_stubs::kOnChooseSaveDirectory);
        QCOMPARE(choose.size(), std::size_t(1));
        QCOMPARE(choose[0].args, (std::array<int, 3>{5, 7, 1}));  // x, y, MK_LBUTTON

        // A copied tag label runs the template's handler, raised by the copy.
        const Value copy =
            Kernel(window_command::kCopyUnit, {UnitArg(app::kTagTemplate, tag::kLabel)});
        WriteUnitProperty(app::kMainWindowId, copy.high, unit_property::kShown, LogicalValue(true));
        QTest::mouseClick(qt::UnitWidget(app::kMainWindowId, copy.high), Qt::LeftButton, {},
                          QPoint(2, 2));
        auto tags = CallsTo(routine_stubs::kOnTagClick);
        QCOMPARE(tags.size(), std::size_t(1));
        QCOMPARE(tags[0].raisedBy.unit, copy.high);

        auto* list = Unit<QTableWidget>(app::kSongList);
        Library(row::kFacet, facet::kListAppendRow, {UnitArg(app::kSongList, tag::kReportList)});
        emit list->customContextMenuRequested(QPoint(10, 10));
        emit list->cellDoubleClicked(0, 1);
        QCOMPARE(CallsTo(routine_stubs::kOnListRightClick).size(), std::size_t(1));
        QCOMPARE(CallsTo(routine_stubs::kOnListDoubleClick).size(), std::size_t(1));
    }

    void playerWindowCloseQueryAndDestroy() {
        QVERIFY(Kernel(window_command::kLoadWindow,
                       {IntegerValue(app::kPlayerWindowId), LogicalValue(false)})
                    .low != 0);
        QWidget* player = qt::WindowWidget(app::kPlayerWindowId);
        QVERIFY(player != nullptr && player->isVisible());
        QCOMPARE(Read(app::kPlayerWindow, unit_property::kWidth).low, 380u);
        QCOMPARE(Read(app::kPlayerWindow, unit_property::kHeight).low, 71u);
        QCOMPARE(Widget(app::kPlayer)->geometry(), QRect(0, 0, 376, 45));

        // The address reaches the control; its open state reaches the handler as the first
        // parameter, with the control's numbers (8: media changing).
        Library(row::kMediaPlayer, player::kSetUrl,
                {UnitArg(app::kPlayer, tag::kMediaPlayer), TextArg("http://127.0.0.1:9/none.mp3")});
        const auto opened = CallsTo(routine_stubs::kOnPlayerOpenStateChange);
        QVERIFY(!opened.empty());
        QCOMPARE(opened[0].args[0], 8);
        QCOMPARE(opened[0].raisedBy.unit, app::kPlayer.unit);

        // Answering false keeps the window.
        SetCloseAnswer(0);
        player->close();
        QCoreApplication::processEvents();
        QCOMPARE(CallsTo(routine_stubs::kOnPlayerWindowCloseQuery).size(), std::size_t(1));
        QVERIFY(qt::WindowWidget(app::kPlayerWindowId) != nullptr);
        // Answering true lets it go.
        SetCloseAnswer(1);
        player->close();
        QTRY_VERIFY(qt::WindowWidget(app::kPlayerWindowId) == nullptr);

        // Destroying the main window raises its destroying event.
        Kernel(window_command::kDestroyWindow, {IntegerValue(app::kMainWindowId)});
        QCOMPARE(CallsTo(routine_stubs::kOnMainWindowDestroy).size(), std::size_t(1));
        QVERIFY(qt::WindowWidget(app::kMainWindowId) == nullptr);
    }

    void menuAndTimer() {
        Kernel(window_command::kPopUpMenu,
               {UnitArg(app::kMainWindow, tag::kWindow), UnitArg(app::kListMenu, tag::kMenuItem),
                IntegerValue(100), IntegerValue(120)});
        QMenu* menu = Menu(app::kListMenu);
        QTRY_VERIFY(menu->isVisible());
        menu->actions().at(0)->trigger();
        const auto plays = CallsTo(routine_stubs::kOnPlay);
        QCOMPARE(plays.size(), std::size_t(1));
        QCOMPARE(plays[0].raisedBy.unit, kPlayItem);
        menu->hide();

        Write(app::kProgressTimer, unit_property::kTimerPeriod, IntegerValue(10));
        QCOMPARE(Read(app::kProgressTimer, unit_property::kTimerPeriod).low, 10u);
        QTRY_VERIFY(CallsTo(routine_stubs::kOnProgressTick).size() >= 2);
        QCOMPARE(CallsTo(routine_stubs::kOnProgressTick)[0].raisedBy.unit,
                 app::kProgressTimer.unit);
        Write(app::kProgressTimer, unit_property::kTimerPeriod, IntegerValue(0));
        QVERIFY(!Timer(app::kProgressTimer)->isActive());
    }
};

int RunEventTests(int argc, char** argv) {
    QtEventsTest test;
    return QTest::qExec(&test, argc, argv);
}

}  // namespace tessel::qt_test

#include "qt_events_test.moc"
