// The dialogs and the desktop: a message box, the folder dialog (a folder GBK cannot name is
// refused), the clipboard and where the settings live.
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "qt_runtime_fixture.h"
#include "tessel/image/const_offsets.h"

namespace tessel::qt_test {

class QtDialogsTest : public ProgramCase {
    Q_OBJECT

  private slots:
    void dialogsAndDesktop() {
        // A message box, answered OK.
        QString shown;
        AnswerModal([&shown](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            shown = box != nullptr ? box->text() : QString();
            if (box != nullptr) box->button(QMessageBox::Ok)->click();
        });
        const Value answer = Kernel(
            kernel::kMessageBox, {TextArg(Gbk(QStringLiteral("搜索词不能为空"))), IntegerValue(0)});
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
                shown = qobject_cast<QMessageBox*>(box) ? qobject_cast<QMessageBox*>(box)->text()
                                                        : QString();
                qobject_cast<QDialog*>(box)->accept();
            });
        });
        chosen =
            Library(row::kVestry, vestry::kBrowseForFolder, {TextArg("x"), LogicalValue(false)});
        QCOMPARE(std::string(reinterpret_cast<const char*>(chosen.low)), std::string());
        QVERIFY2(shown.contains(QStringLiteral("GBK")) && shown.contains(foreign),
                 qPrintable(shown));

        // The clipboard gets the text as UTF-8.
        QVERIFY(Kernel(kernel::kSetClipboardText,
                       {TextArg(Gbk(QStringLiteral("http://127.0.0.1/晴天.mp3")))})
                    .low != 0);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("http://127.0.0.1/晴天.mp3"));

        // bc.ini lives in $XDG_CONFIG_HOME/tessel.
        const Value dir = Kernel(kernel::kProgramDirectory, {});
        QCOMPARE(Utf8(reinterpret_cast<const char*>(dir.low)),
                 ConfigDirectory() + QStringLiteral("/tessel"));
        QVERIFY(QDir(ConfigDirectory() + QStringLiteral("/tessel")).exists());
    }
};

int RunDialogTests(int argc, char** argv) {
    QtDialogsTest test;
    return QTest::qExec(&test, argc, argv);
}

}  // namespace tessel::qt_test

#include "qt_dialogs_test.moc"
