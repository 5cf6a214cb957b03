// The Qt window runtime in process: the program's windows from the image's form, unit
// properties, events with their parameters, list and status-bar commands, the menu, the timer and
// the dialogs. Handlers are stand-ins that record how they were called.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QtTest>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tessel/image/const_offsets.h"
#include "tessel/image/native_handlers.h"
#include "tessel/kernel/arguments.h"
#include "tessel/posix/standins.h"
#include "tessel/qt/runtime.h"
#include "tessel/runtime/kernel.h"
#include "tessel/runtime/units.h"

using namespace tessel;

namespace {

constexpr std::uint32_t kMain = 0x52010001, kPlayerWindow = 0x52010002;
constexpr std::uint32_t kSearchBox = 0x16010004, kSearchButton = 0x06012413;
constexpr std::uint32_t kChooseLabel = 0x160124A1, kTimer = 0x06012540, kDirLabel = 0x160125B2;
constexpr std::uint32_t kTagLabel = 0x16012630, kList = 0x260123D8, kStatus = 0x26012702;
constexpr std::uint32_t kMenu = 0x46010010, kPlayItem = 0x46010011, kPlayer = 0x56012801;

struct Call {
    std::uint32_t offset;
    std::array<int, 3> args;
    UnitRef raisedBy;
};
std::vector<Call> g_calls;
int g_closeAnswer = 1;

constexpr std::size_t kHandlerCount = std::size(native_handlers::kHandlers);

template <std::size_t I>
int Record(int a, int b, int c) {
    const Value unit = CallKernel(window_command::kEventUnit, {});
    g_calls.push_back({native_handlers::kHandlers[I].codeOffset,
                       {a, b, c},
                       {static_cast<std::uint32_t>(unit.low), unit.high}});
    return native_handlers::kHandlers[I].codeOffset == routine_stubs::kOnPlayerWindowCloseQuery
               ? g_closeAnswer
               : 0;
}

template <std::size_t... I>
constexpr std::array<EventHandler, kHandlerCount> Recorders(std::index_sequence<I...>) {
    return {&Record<I>...};
}
constexpr auto kRecorders = Recorders(std::make_index_sequence<kHandlerCount>());

EventHandler RecordingHandler(std::uint32_t offset) {
    for (std::size_t i = 0; i < kHandlerCount; ++i)
        if (native_handlers::kHandlers[i].codeOffset == offset) return kRecorders[i];
    return nullptr;
}

std::vector<Call> CallsTo(std::uint32_t offset) {
    std::vector<Call> found;
    for (const auto& c : g_calls)
        if (c.offset == offset) found.push_back(c);
    return found;
}

template <typename W>
W* Unit(std::uint32_t window, std::uint32_t unit) {
    return qobject_cast<W*>(qt::UnitWidget(window, unit));
}

std::string Gbk(const QString& s) {
    const QByteArray utf8 = s.toUtf8();
    return posix::ConvertWhole("CP936", "UTF-8", std::string_view(utf8.constData(), utf8.size()))
        .value_or("");
}

QString Utf8(std::string_view gbk) {
    return QString::fromStdString(posix::ConvertWhole("UTF-8", "CP936", gbk).value_or(""));
}

// Texts handed to the runtime or answered by it belong to the caller, as they do to the
// program's handlers: the test keeps them until the case ends.
std::vector<void*> g_texts;
Value Owned(Value v) {
    if (v.tag == tag::kText && v.low != 0) g_texts.push_back(reinterpret_cast<void*>(v.low));
    return v;
}
void FreeTexts() {
    for (void* text : g_texts) Free(text);
    g_texts.clear();
}

Value Kernel(std::uint32_t command, std::initializer_list<Value> args) {
    return Owned(CallKernel(command, std::span<const Value>(args.begin(), args.size())));
}
Value Library(std::uint32_t row, std::uint32_t command, std::initializer_list<Value> args) {
    return Owned(CallLibrary(row, command, std::span<const Value>(args.begin(), args.size())));
}

Value TextArg(const std::string& gbk) {
    return Owned(platform::NewText(gbk));
}

Value Unit(std::uint32_t window, std::uint32_t unit, std::uint32_t type) {
    return UnitValue(window, unit, type);
}

// Answers the next modal dialog (or pop-up) once it shows: what a user would do, from a timer,
// since the call that shows it blocks.
void AnswerModal(std::function<void(QWidget*)> act) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            act(modal);
        }
    });
    poll->start();
}

}  // namespace

class QtRuntimeTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QFile file(QStringLiteral(TESSEL_PROGRAM_IMAGE));
        QVERIFY(file.open(QIODevice::ReadOnly));
        image_ = file.readAll();
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
        qt::UseProgramLook(*qobject_cast<QApplication*>(QApplication::instance()));
    }

    void init() {
        std::string error;
        const std::span<const std::uint8_t> bytes(
            reinterpret_cast<const std::uint8_t*>(image_.constData()),
            static_cast<std::size_t>(image_.size()));
        QVERIFY2(qt::Install(bytes, &RecordingHandler, &error), error.c_str());
        g_calls.clear();
        g_closeAnswer = 1;
        LoadAndShowWindow(kMain);
        QVERIFY(qt::WindowWidget(kMain) != nullptr);
    }
    void cleanup() {
        qt::DiscardWindows();
        FreeTexts();
    }

    void mainWindowFromTheForm() {
        QWidget* main = qt::WindowWidget(kMain);
        QCOMPARE(main->windowTitle(), QStringLiteral("Tessel音乐搜索下载器"));
        QVERIFY(!main->windowIcon().isNull());
        // 811 x 498 outside at (50, 50); the client area is what the frame leaves.
        QCOMPARE(ReadUnitProperty(kMain, kMain, unit_property::kWidth).low, 811u);
        QCOMPARE(ReadUnitProperty(kMain, kMain, unit_property::kHeight).low, 498u);
        QCOMPARE(main->size(), QSize(807, 472));
        QCOMPARE(main->pos(), QPoint(50, 50));

        auto* edit = Unit<QLineEdit>(kMain, kSearchBox);
        QVERIFY(edit != nullptr);
        QCOMPARE(edit->geometry(), QRect(8, 9, 507, 32));
        auto* button = Unit<QPushButton>(kMain, kSearchButton);
        QCOMPARE(button->text(), QStringLiteral("搜索"));
        QCOMPARE(button->geometry(), QRect(523, 9, 88, 32));
        auto* choose = Unit<QLabel>(kMain, kChooseLabel);
        QCOMPARE(choose->text(), QStringLiteral("设置目录"));
        QCOMPARE(choose->geometry(), QRect(616, 16, 48, 24));
        QCOMPARE(choose->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY(Unit<QLabel>(kMain, kDirLabel)->isVisible());
        QVERIFY(!Unit<QLabel>(kMain, kTagLabel)->isVisible());  // the tags' template
        QCOMPARE(edit->font().family(), QStringLiteral("SimSun"));
        QCOMPARE(edit->font().pixelSize(), 12);
        // Served by WenQuanYi Micro Hei, 12 pixels a Chinese character as in SimSun.
        QCOMPARE(QFontInfo(edit->font()).family(), QStringLiteral("WenQuanYi Micro Hei"));
        QCOMPARE(edit->fontMetrics().horizontalAdvance(QStringLiteral("设置目录")), 48);

        auto* list = Unit<QTableWidget>(kMain, kList);
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
        QWidget* bar = qt::UnitWidget(kMain, kStatus);
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
        QMenu* menu = qt::UnitMenu(kMain, kMenu);
        QVERIFY(menu != nullptr && !menu->isVisible());
        QStringList items;
        for (QAction* a : menu->actions()) items << a->text();
        QCOMPARE(items, (QStringList{"播放", "下载", "复制下载地址"}));

        QVERIFY(!qt::UnitTimer(kMain, kTimer)->isActive());
        // The window's created event ran, raised by the window.
        const auto created = CallsTo(routine_stubs::kOnMainWindowCreated);
        QCOMPARE(created.size(), std::size_t(1));
        QCOMPARE(created[0].raisedBy.unit, kMain);

        // Every control has an accessible name; the tab order follows the form.
        for (QWidget* w : main->findChildren<QWidget*>())
            if (w->isVisible() && !w->inherits("QScrollBar") && w->parent() == main)
                QVERIFY2(!w->accessibleName().isEmpty(), w->metaObject()->className());
        QCOMPARE(edit->nextInFocusChain(), button);
        QCOMPARE(QWidget(nullptr).focusPolicy(), Qt::NoFocus);
        QCOMPARE(choose->focusPolicy(), Qt::NoFocus);
    }

    void propertiesRoundTrip() {
        const std::string title = Gbk(QStringLiteral("周杰伦 - 晴天"));
        WriteUnitProperty(kMain, kSearchBox, unit_property::kText, TextArg(title));
        QCOMPARE(Unit<QLineEdit>(kMain, kSearchBox)->text(), QStringLiteral("周杰伦 - 晴天"));
        const Value read = Owned(ReadUnitProperty(kMain, kSearchBox, unit_property::kText));
        QCOMPARE(std::string(reinterpret_cast<const char*>(read.low)), title);

        WriteUnitProperty(kMain, kDirLabel, unit_property::kLeft, IntegerValue(300));
        WriteUnitProperty(kMain, kDirLabel, unit_property::kWidth, IntegerValue(77));
        QCOMPARE(Unit<QLabel>(kMain, kDirLabel)->geometry(), QRect(300, 16, 77, 24));
        QCOMPARE(ReadUnitProperty(kMain, kDirLabel, unit_property::kLeft).low, 300u);

        WriteUnitProperty(kMain, kTagLabel, unit_property::kShown, LogicalValue(true));
        QVERIFY(Unit<QLabel>(kMain, kTagLabel)->isVisible());
        QCOMPARE(ReadUnitProperty(kMain, kTagLabel, unit_property::kShown).low, 1u);
        WriteUnitProperty(kMain, kTagLabel, unit_property::kTextColour, IntegerValue(0x0000EE));
        QCOMPARE(Unit<QLabel>(kMain, kTagLabel)->palette().color(QPalette::WindowText),
                 QColor(238, 0, 0));
        WriteUnitProperty(kMain, kTagLabel, unit_property::kTag, TextArg("x1"));
        QCOMPARE(std::string(reinterpret_cast<const char*>(
                     Owned(ReadUnitProperty(kMain, kTagLabel, unit_property::kTag)).low)),
                 std::string("x1"));

        // Copies: hidden, new id, same handlers.
        const Value copy = Kernel(window_command::kCopyUnit, {Unit(kMain, kTagLabel, tag::kLabel)});
        QCOMPARE(copy.low, Word(kMain));
        QVERIFY(copy.high != kTagLabel);
        QVERIFY(!qt::UnitWidget(kMain, copy.high)->isVisible());
        QVERIFY(Kernel(window_command::kIsCreated, {copy}).low != 0);
        QCOMPARE(Kernel(window_command::kIsCreated, {Unit(kPlayerWindow, kPlayerWindow, tag::kWindow)}).low, 0u);
    }

    void eventsWithTheirParameters() {
        auto* edit = Unit<QLineEdit>(kMain, kSearchBox);
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClick(edit, Qt::Key_A, Qt::ShiftModifier);
        auto keys = CallsTo(routine_stubs::kOnSearchBoxKey);
        // Enter is key code 13; Shift+A is the shift key (16) and then A (65) with shift held.
        QCOMPARE(keys.size(), std::size_t(3));
        QCOMPARE(keys[0].args, (std::array<int, 3>{13, 0, 0}));
        QCOMPARE(keys[1].args, (std::array<int, 3>{16, 1, 0}));
        QCOMPARE(keys[2].args, (std::array<int, 3>{65, 1, 0}));
        QCOMPARE(keys[0].raisedBy.unit, kSearchBox);
        QTest::mouseDClick(edit, Qt::LeftButton);
        QCOMPARE(CallsTo(routine_stubs::kOnSearchBoxDoubleClick).size(), std::size_t(1));

        QTest::mouseClick(Unit<QPushButton>(kMain, kSearchButton), Qt::LeftButton);
        auto searches = CallsTo(routine_stubs::kOnSearch);
        QCOMPARE(searches.size(), std::size_t(1));
        QCOMPARE(searches[0].raisedBy.unit, kSearchButton);

        QTest::mouseClick(Unit<QLabel>(kMain, kChooseLabel), Qt::LeftButton, {}, QPoint(5, 7));
        auto choose = CallsTo(routine_stubs::kOnChooseSaveDirectory);
        QCOMPARE(choose.size(), std::size_t(1));
        QCOMPARE(choose[0].args, (std::array<int, 3>{5, 7, 1}));  // x, y, MK_LBUTTON

        // A copied tag label runs the template's handler, raised by the copy.
        const Value copy = Kernel(window_command::kCopyUnit, {Unit(kMain, kTagLabel, tag::kLabel)});
        WriteUnitProperty(kMain, copy.high, unit_property::kShown, LogicalValue(true));
        QTest::mouseClick(qt::UnitWidget(kMain, copy.high), Qt::LeftButton, {}, QPoint(2, 2));
        auto tags = CallsTo(routine_stubs::kOnTagClick);
        QCOMPARE(tags.size(), std::size_t(1));
        QCOMPARE(tags[0].raisedBy.unit, copy.high);

        auto* list = Unit<QTableWidget>(kMain, kList);
        Library(row::kFacet, facet::kListAppendRow, {Unit(kMain, kList, tag::kReportList)});
        emit list->customContextMenuRequested(QPoint(10, 10));
        emit list->cellDoubleClicked(0, 1);
        QCOMPARE(CallsTo(routine_stubs::kOnListRightClick).size(), std::size_t(1));
        QCOMPARE(CallsTo(routine_stubs::kOnListDoubleClick).size(), std::size_t(1));
    }

    void playerWindowCloseQueryAndDestroy() {
        QVERIFY(Kernel(window_command::kLoadWindow, {IntegerValue(kPlayerWindow), LogicalValue(false)}).low != 0);
        QWidget* player = qt::WindowWidget(kPlayerWindow);
        QVERIFY(player != nullptr && player->isVisible());
        QCOMPARE(ReadUnitProperty(kPlayerWindow, kPlayerWindow, unit_property::kWidth).low, 380u);
        QCOMPARE(ReadUnitProperty(kPlayerWindow, kPlayerWindow, unit_property::kHeight).low, 71u);
        QCOMPARE(qt::UnitWidget(kPlayerWindow, kPlayer)->geometry(), QRect(0, 0, 376, 45));

        // The address reaches the control; its open state reaches the handler as the first
        // parameter, with the control's numbers (8: media changing).
        Library(row::kMediaPlayer, player::kSetUrl,
                    {Unit(kPlayerWindow, kPlayer, tag::kMediaPlayer), TextArg("http://127.0.0.1:9/none.mp3")});
        const auto opened = CallsTo(routine_stubs::kOnPlayerOpenStateChange);
        QVERIFY(!opened.empty());
        QCOMPARE(opened[0].args[0], 8);
        QCOMPARE(opened[0].raisedBy.unit, kPlayer);

        // Answering false keeps the window.
        g_closeAnswer = 0;
        player->close();
        QCoreApplication::processEvents();
        QCOMPARE(CallsTo(routine_stubs::kOnPlayerWindowCloseQuery).size(), std::size_t(1));
        QVERIFY(qt::WindowWidget(kPlayerWindow) != nullptr);
        // Answering true lets it go.
        g_closeAnswer = 1;
        player->close();
        QTRY_VERIFY(qt::WindowWidget(kPlayerWindow) == nullptr);

        // Destroying the main window raises its destroying event.
        Kernel(window_command::kDestroyWindow, {IntegerValue(kMain)});
        QCOMPARE(CallsTo(routine_stubs::kOnMainWindowDestroy).size(), std::size_t(1));
        QVERIFY(qt::WindowWidget(kMain) == nullptr);
    }

    void listAndStatusCommands() {
        const Value list = Unit(kMain, kList, tag::kReportList);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(Library(row::kFacet, facet::kListAppendRow, {list}).low, Word(i));
        QCOMPARE(Library(row::kFacet, facet::kListRowCount, {list}).low, 3u);
        QVERIFY(Library(row::kFacet, facet::kListSetCell,
                            {list, IntegerValue(1), IntegerValue(2), TextArg(Gbk(QStringLiteral("周杰伦")))}).low != 0);
        // Outside the rows or columns: refused.
        QCOMPARE(Library(row::kFacet, facet::kListSetCell,
                             {list, IntegerValue(3), IntegerValue(0), TextArg("x")}).low, 0u);
        QCOMPARE(Library(row::kFacet, facet::kListSetCell,
                             {list, IntegerValue(0), IntegerValue(5), TextArg("x")}).low, 0u);
        const Value cell = Library(row::kFacet, facet::kListReadCell, {list, IntegerValue(1), IntegerValue(2)});
        QCOMPARE(Utf8(reinterpret_cast<const char*>(cell.low)), QStringLiteral("周杰伦"));
        QCOMPARE(Unit<QTableWidget>(kMain, kList)->item(1, 2)->text(), QStringLiteral("周杰伦"));

        QCOMPARE(static_cast<std::int32_t>(Library(row::kFacet, facet::kListSelectedRow, {list}).low), -1);
        Unit<QTableWidget>(kMain, kList)->selectRow(2);
        QCOMPARE(Library(row::kFacet, facet::kListSelectedRow, {list}).low, 2u);
        Library(row::kFacet, facet::kListDeleteAll, {list});
        QCOMPARE(Library(row::kFacet, facet::kListRowCount, {list}).low, 0u);
        QCOMPARE(static_cast<std::int32_t>(Library(row::kFacet, facet::kListSelectedRow, {list}).low), -1);

        const Value bar = Unit(kMain, kStatus, tag::kStatusBar);
        QVERIFY(Library(row::kFacet, facet::kStatusSetPane,
                            {bar, IntegerValue(2), TextArg(Gbk(QStringLiteral("晴天 - 周杰伦  下载完成")))}).low != 0);
        const Value pane = Library(row::kFacet, facet::kStatusReadPane, {bar, IntegerValue(2)});
        QCOMPARE(Utf8(reinterpret_cast<const char*>(pane.low)), QStringLiteral("晴天 - 周杰伦  下载完成"));
        QCOMPARE(Library(row::kFacet, facet::kStatusSetPane, {bar, IntegerValue(4), TextArg("x")}).low, 0u);
    }

    void whatReadersAndEyesGetOfListBarAndTags() {
        // A screen reader meets a status bar, and each pane named by its text (nothing while
        // it is empty); the bar's name and the pane's number stay in the description.
        QWidget* bar = qt::UnitWidget(kMain, kStatus);
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
        const Value status = Unit(kMain, kStatus, tag::kStatusBar);
        Library(row::kFacet, facet::kStatusSetPane, {status, IntegerValue(2), TextArg(Gbk(QStringLiteral("晴天 - 周杰伦  下载完成")))});
        QCOMPARE(QAccessible::queryAccessibleInterface(panes[2])->text(QAccessible::Name),
                 QStringLiteral("晴天 - 周杰伦  下载完成"));
        Library(row::kFacet, facet::kStatusSetPane, {status, IntegerValue(2), TextArg("")});
        QCOMPARE(QAccessible::queryAccessibleInterface(panes[2])->text(QAccessible::Name), QString());

        // The least room the tags leave the list (a header of 24, ten rows of 18 and the
        // border) holds twelve whole rows, each tall enough for a line of the list's font.
        auto* list = Unit<QTableWidget>(kMain, kList);
        const int row = list->verticalHeader()->defaultSectionSize();
        QVERIFY2(row >= list->fontMetrics().height(), qPrintable(QString::number(row)));
        const int twelveRows = list->horizontalHeader()->sizeHint().height() + 12 * row +
                               2 * list->frameWidth();
        QVERIFY2(twelveRows <= 24 + 10 * 18 + 2 * 2, qPrintable(QString::number(twelveRows)));
        for (int i = 0; i < 3; ++i)
            Library(row::kFacet, facet::kListAppendRow, {Unit(kMain, kList, tag::kReportList)});
        QCOMPARE(list->rowHeight(2), row);

        // Two tags edge to edge, the first with a Latin caption wider than itself: its text
        // ends short of the next tag, whose place and width stay as they were laid out.
        const UnitRef tagTemplate{kMain, kTagLabel};
        const char* captions[] = {"demo/Night Drive", "demo/Morning"};
        std::vector<QLabel*> tags;
        int left = 8;
        for (const char* caption : captions) {
            const UnitRef tag = CopyUnit(tagTemplate, tag::kLabel);
            SetUnitShown(tag, true);
            SetUnitText(tag, caption);
            SetUnitInteger(tag, unit_property::kLeft, left);
            SetUnitInteger(tag, unit_property::kWidth, 96);
            SetUnitInteger(tag, unit_property::kHeight, 20);
            SetUnitInteger(tag, unit_property::kTop, 48);
            left += 96;
            tags.push_back(Unit<QLabel>(tag.window, tag.unit));
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
        auto* directory = Unit<QLabel>(kMain, kDirLabel);
        const auto toolTipOf = [directory](const QString& caption) {
            SetUnitText({kMain, kDirLabel}, Gbk(caption).c_str());
            QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), directory->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(directory, &hover);
            return QToolTip::isVisible() ? QToolTip::text() : QString();
        };
        QCOMPARE(toolTipOf(QStringLiteral("/home/user/Music/")), QString());
        const QString longPath = QStringLiteral("/home/user/音乐/华语流行/2024 年新歌/");
        QCOMPARE(toolTipOf(longPath), longPath);
    }

    void menuAndTimer() {
        Kernel(window_command::kPopUpMenu,
                   {Unit(kMain, kMain, tag::kWindow), Unit(kMain, kMenu, tag::kMenuItem),
                     IntegerValue(100), IntegerValue(120)});
        QMenu* menu = qt::UnitMenu(kMain, kMenu);
        QTRY_VERIFY(menu->isVisible());
        menu->actions().at(0)->trigger();
        const auto plays = CallsTo(routine_stubs::kOnPlay);
        QCOMPARE(plays.size(), std::size_t(1));
        QCOMPARE(plays[0].raisedBy.unit, kPlayItem);
        menu->hide();

        WriteUnitProperty(kMain, kTimer, unit_property::kTimerPeriod, IntegerValue(10));
        QCOMPARE(ReadUnitProperty(kMain, kTimer, unit_property::kTimerPeriod).low, 10u);
        QTRY_VERIFY(CallsTo(routine_stubs::kOnProgressTick).size() >= 2);
        QCOMPARE(CallsTo(routine_stubs::kOnProgressTick)[0].raisedBy.unit, kTimer);
        WriteUnitProperty(kMain, kTimer, unit_property::kTimerPeriod, IntegerValue(0));
        QVERIFY(!qt::UnitTimer(kMain, kTimer)->isActive());
    }

    void dialogsAndDesktop() {
        // A message box, answered OK.
        QString shown;
        AnswerModal([&shown](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            shown = box != nullptr ? box->text() : QString();
            if (box != nullptr) box->button(QMessageBox::Ok)->click();
        });
        const Value answer = Kernel(kernel::kMessageBox, {TextArg(Gbk(QStringLiteral("搜索词不能为空"))), IntegerValue(0)});
        QCOMPARE(shown, QStringLiteral("搜索词不能为空"));
        QCOMPARE(answer.low, 1u);

        // The folder dialog: a Chinese folder comes back as GBK.
        QTemporaryDir root;
        const QString chinese = root.path() + QStringLiteral("/音乐");
        QVERIFY(QDir().mkpath(chinese));
        const auto choose = [](const QString& path) {
            return [path](QWidget* w) {
                auto* dialog = qobject_cast<QFileDialog*>(w);
                QVERIFY(dialog != nullptr);
                // Qt's own dialog in Chinese.
                auto* box = dialog->findChild<QDialogButtonBox*>();
                QVERIFY(box != nullptr);
                QCOMPARE(box->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
                // Typed into the name box, as a user does: selecting it in the list raced with
                // the dialog's directory listing, read in the background.
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                QVERIFY(name != nullptr);
                name->setText(path);
                static_cast<QDialog*>(dialog)->accept();
            };
        };
        AnswerModal(choose(chinese));
        Value chosen = Library(row::kVestry, vestry::kBrowseForFolder,
                                   {TextArg(Gbk(QStringLiteral("选择保存目录"))), LogicalValue(false)});
        QCOMPARE(Utf8(reinterpret_cast<const char*>(chosen.low)), chinese);

        // A folder GBK cannot name is refused with a message, and nothing is chosen.
        const QString foreign = root.path() + QStringLiteral("/노래🎵");
        QVERIFY(QDir().mkpath(foreign));
        AnswerModal([&](QWidget* w) {
            choose(foreign)(w);
            AnswerModal([&shown](QWidget* box) {
                shown = qobject_cast<QMessageBox*>(box) ? qobject_cast<QMessageBox*>(box)->text() : QString();
                qobject_cast<QDialog*>(box)->accept();
            });
        });
        chosen = Library(row::kVestry, vestry::kBrowseForFolder, {TextArg("x"), LogicalValue(false)});
        QCOMPARE(std::string(reinterpret_cast<const char*>(chosen.low)), std::string());
        QVERIFY2(shown.contains(QStringLiteral("GBK")) && shown.contains(foreign), qPrintable(shown));

        // The clipboard gets the text as UTF-8.
        QVERIFY(Kernel(kernel::kSetClipboardText, {TextArg(Gbk(QStringLiteral("http://127.0.0.1/晴天.mp3")))}).low != 0);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("http://127.0.0.1/晴天.mp3"));

        // bc.ini lives in $XDG_CONFIG_HOME/tessel.
        const Value dir = Kernel(kernel::kProgramDirectory, {});
        QCOMPARE(Utf8(reinterpret_cast<const char*>(dir.low)), config_.path() + QStringLiteral("/tessel"));
        QVERIFY(QDir(config_.path() + QStringLiteral("/tessel")).exists());
    }

  private:
    QByteArray image_;
    QTemporaryDir config_;
};

int main(int argc, char** argv) {
    qt::PrepareApplication();
    QApplication app(argc, argv);
    QtRuntimeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "qt_runtime_test.moc"
