// Unit properties written and read back, copies of a unit, the list's and the status bar's
// commands, and what readers and eyes get of the list, the status bar and the tags.
#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QToolTip>
#include <QtTest>
#include <vector>

#include "qt_runtime_fixture.h"
#include "tessel/image/const_offsets.h"

namespace tessel::qt_test {

class QtUnitCommandsTest : public ProgramCase {
    Q_OBJECT

  private slots:
    void propertiesRoundTrip() {
        const std::string title = Gbk(QStringLiteral("周杰伦 - 晴天"));
        Write(app::kSearchBox, unit_property::kText, TextArg(title));
        QCOMPARE(Unit<QLineEdit>(app::kSearchBox)->text(), QStringLiteral("周杰伦 - 晴天"));
        const Value read = Owned(Read(app::kSearchBox, unit_property::kText));
        QCOMPARE(std::string(reinterpret_cast<const char*>(read.low)), title);

        Write(app::kSaveDirectoryLabel, unit_property::kLeft, IntegerValue(300));
        Write(app::kSaveDirectoryLabel, unit_property::kWidth, IntegerValue(77));
        QCOMPARE(Unit<QLabel>(app::kSaveDirectoryLabel)->geometry(), QRect(300, 16, 77, 24));
        QCOMPARE(Read(app::kSaveDirectoryLabel, unit_property::kLeft).low, 300u);

        Write(app::kTagTemplate, unit_property::kShown, LogicalValue(true));
        QVERIFY(Unit<QLabel>(app::kTagTemplate)->isVisible());
        QCOMPARE(Read(app::kTagTemplate, unit_property::kShown).low, 1u);
        Write(app::kTagTemplate, unit_property::kTextColour, IntegerValue(0x0000EE));
        QCOMPARE(Unit<QLabel>(app::kTagTemplate)->palette().color(QPalette::WindowText),
                 QColor(238, 0, 0));
        Write(app::kTagTemplate, unit_property::kTag, TextArg("x1"));
        QCOMPARE(std::string(reinterpret_cast<const char*>(
                     Owned(Read(app::kTagTemplate, unit_property::kTag)).low)),
                 std::string("x1"));

        // Copies: hidden, new id, same handlers.
        const Value copy =
            Kernel(window_command::kCopyUnit, {UnitArg(app::kTagTemplate, tag::kLabel)});
        QCOMPARE(copy.low, Word(app::kMainWindowId));
        QVERIFY(copy.high != app::kTagTemplate.unit);
        QVERIFY(!qt::UnitWidget(app::kMainWindowId, copy.high)->isVisible());
        QVERIFY(Kernel(window_command::kIsCreated, {copy}).low != 0);
        QCOMPARE(
            Kernel(window_command::kIsCreated, {UnitArg(app::kPlayerWindow, tag::kWindow)}).low,
            0u);
    }

    void listAndStatusCommands() {
        const Value list = UnitArg(app::kSongList, tag::kReportList);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(Library(row::kFacet, facet::kListAppendRow, {list}).low, Word(i));
        QCOMPARE(Library(row::kFacet, facet::kListRowCount, {list}).low, 3u);
        QVERIFY(Library(row::kFacet, facet::kListSetCell,
                        {list, IntegerValue(1), IntegerValue(2),
                         TextArg(Gbk(QStringLiteral("周杰伦")))})
                    .low != 0);
        // Outside the rows or columns: refused.
        QCOMPARE(Library(row::kFacet, facet::kListSetCell,
                         {list, IntegerValue(3), IntegerValue(0), TextArg("x")})
                     .low,
                 0u);
        QCOMPARE(Library(row::kFacet, facet::kListSetCell,
                         {list, IntegerValue(0), IntegerValue(5), TextArg("x")})
                     .low,
                 0u);
        const Value cell =
            Library(row::kFacet, facet::kListReadCell, {list, IntegerValue(1), IntegerValue(2)});
        QCOMPARE(Utf8(reinterpret_cast<const char*>(cell.low)), QStringLiteral("周杰伦"));
        QCOMPARE(Unit<QTableWidget>(app::kSongList)->item(1, 2)->text(), QStringLiteral("周杰伦"));

        QCOMPARE(
            static_cast<std::int32_t>(Library(row::kFacet, facet::kListSelectedRow, {list}).low),
            -1);
        Unit<QTableWidget>(app::kSongList)->selectRow(2);
        QCOMPARE(Library(row::kFacet, facet::kListSelectedRow, {list}).low, 2u);
        Library(row::kFacet, facet::kListDeleteAll, {list});
        QCOMPARE(Library(row::kFacet, facet::kListRowCount, {list}).low, 0u);
        QCOMPARE(
            static_cast<std::int32_t>(Library(row::kFacet, facet::kListSelectedRow, {list}).low),
            -1);

        const Value bar = UnitArg(app::kStatusBar, tag::kStatusBar);
        QVERIFY(
            Library(row::kFacet, facet::kStatusSetPane,
                    {bar, IntegerValue(2), TextArg(Gbk(QStringLiteral("晴天 - 周杰伦  下载完成")))})
                .low != 0);
        const Value pane = Library(row::kFacet, facet::kStatusReadPane, {bar, IntegerValue(2)});
        QCOMPARE(Utf8(reinterpret_cast<const char*>(pane.low)),
                 QStringLiteral("晴天 - 周杰伦  下载完成"));
        QCOMPARE(
            Library(row::kFacet, facet::kStatusSetPane, {bar, IntegerValue(4), TextArg("x")}).low,
            0u);
    }

    void whatReadersAndEyesGetOfListBarAndTags() {
        // A screen reader meets a status bar, and each pane named by its text (nothing while
        // it is empty); the bar's name and the pane's number stay in the description.
        QWidget* bar = Widget(app::kStatusBar);
        QAccessibleInterface* barAccess = QAccessible::queryAccessibleInterface(bar);
        QVERIFY(barAccess != nullptr);
        QCOMPARE(barAccess->role(), QAccessible::StatusBar);
        QCOMPARE(barAccess->text(QAccessible::Name), QStringLiteral("状态条1"));
        const auto panes = bar->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
        const QStringList names{"状态：", "下载速度：", "", "By：Quenby"};
        for (int i = 0; i < 4; ++i) {
            QAccessibleInterface* pane = QAccessible::queryAccessibleInterface(panes[i]);
            QCOMPARE(pane->text(QAccessible::Name), names[i]);
            QCOMPARE(pane->text(QAccessible::Description), QStringLiteral("状态条1%1").arg(i));
        }
        const Value status = UnitArg(app::kStatusBar, tag::kStatusBar);
        Library(row::kFacet, facet::kStatusSetPane,
                {status, IntegerValue(2), TextArg(Gbk(QStringLiteral("晴天 - 周杰伦  下载完成")))});
        QCOMPARE(QAccessible::queryAccessibleInterface(panes[2])->text(QAccessible::Name),
                 QStringLiteral("晴天 - 周杰伦  下载完成"));
        Library(row::kFacet, facet::kStatusSetPane, {status, IntegerValue(2), TextArg("")});
        QCOMPARE(QAccessible::queryAccessibleInterface(panes[2])->text(QAccessible::Name),
                 QString());

        // The least room the tags leave the list (a header of 24, ten rows of 18 and the
        // border) holds twelve whole rows, each tall enough for a line of the list's font.
        auto* list = Unit<QTableWidget>(app::kSongList);
        const int row = list->verticalHeader()->defaultSectionSize();
        QVERIFY2(row >= list->fontMetrics().height(), qPrintable(QString::number(row)));
        const int twelveRows =
            list->horizontalHeader()->sizeHint().height() + 12 * row + 2 * list->frameWidth();
        QVERIFY2(twelveRows <= 24 + 10 * 18 + 2 * 2, qPrintable(QString::number(twelveRows)));
        for (int i = 0; i < 3; ++i)
            Library(row::kFacet, facet::kListAppendRow,
                    {UnitArg(app::kSongList, tag::kReportList)});
        QCOMPARE(list->rowHeight(2), row);

        // Two tags edge to edge, the first with a Latin caption wider than itself: its text
        // ends short of the next tag, whose place and width stay as they were laid out.
        const char* captions[] = {"demo/Night Drive", "demo/Morning"};
        std::vector<QLabel*> tags;
        int left = 8;
        for (const char* caption : captions) {
            const UnitRef tag = CopyUnit(app::kTagTemplate, tag::kLabel);
            SetUnitShown(tag, true);
            SetUnitText(tag, caption);
            SetUnitInteger(tag, unit_property::kLeft, left);
            SetUnitInteger(tag, unit_property::kWidth, 96);
            SetUnitInteger(tag, unit_property::kHeight, 20);
            SetUnitInteger(tag, unit_property::kTop, 48);
            left += 96;
            tags.push_back(Unit<QLabel>(tag));
        }
        QCOMPARE(tags[1]->geometry(), QRect(104, 48, 96, 20));
        const auto inkInLastColumns = [](QLabel* label, int columns) {
            const QImage picture = label->grab().toImage();
            const QColor background = picture.pixelColor(picture.width() - 1, 0);
            int ink = 0;
            for (int x = picture.width() - columns; x < picture.width(); ++x)
                for (int y = 0; y < picture.height(); ++y)
                    if (picture.pixelColor(x, y) != background) ++ink;
            return ink;
        };
        QCOMPARE(inkInLastColumns(tags[0], 3), 0);
        // The text still reaches towards the edge: it is cut, not moved away.
        QVERIFY(inkInLastColumns(tags[0], 16) > 0);

        // A path too long for the label 存放目录 is shown whole in a tool tip; one that fits
        // needs none.
        auto* directory = Unit<QLabel>(app::kSaveDirectoryLabel);
        const auto toolTipOf = [directory](const QString& caption) {
            SetUnitText(app::kSaveDirectoryLabel, Gbk(caption).c_str());
            QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), directory->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(directory, &hover);
            return QToolTip::isVisible() ? QToolTip::text() : QString();
        };
        QCOMPARE(toolTipOf(QStringLiteral("/home/user/Music/")), QString());
        const QString longPath = QStringLiteral("/home/user/音乐/华语流行/2024 年新歌/");
        QCOMPARE(toolTipOf(longPath), longPath);
    }
};

int RunUnitCommandTests(int argc, char** argv) {
    QtUnitCommandsTest test;
    return QTest::qExec(&test, argc, argv);
}

}  // namespace tessel::qt_test

#include "qt_unit_commands_test.moc"
