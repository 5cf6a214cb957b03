// What reaches the desktop: texts at Qt's edge, message boxes, the clipboard, the completion
// sound, the folder dialog and the settings directory.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QSoundEffect>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cstdio>
#include <memory>
#include <string>

#include "tessel/kernel/arguments.h"
#include "tessel/posix/standins.h"
#include "tessel/runtime/kernel.h"
#include "tessel/runtime/units.h"
#include "window_state.h"

namespace tessel::qt {

using platform::ArgText;

QString FromGbk(std::string_view gbk) {
    // Bytes that are no GBK text still show, each as the character of its code.
    const auto utf8 = posix::ConvertWhole("UTF-8", "CP936", gbk);
    return utf8 ? QString::fromUtf8(*utf8)
                : QString::fromLatin1(gbk.data(), static_cast<qsizetype>(gbk.size()));
}

std::optional<std::string> ToGbkExactly(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return posix::ConvertWhole("CP936", "UTF-8", std::string_view(utf8.constData(), utf8.size()));
}

std::string ToGbk(const QString& text) {
    if (auto whole = ToGbkExactly(text)) return *whole;
    std::string gbk;
    for (const QChar c : text) gbk += ToGbkExactly(QString(c)).value_or("?");
    return gbk;
}

void AppendTrace(const char* variable, const std::string& line) {
    const QString path = qEnvironmentVariable(variable);
    if (path.isEmpty()) return;
    QFile file(path);
    if (!file.open(QIODevice::Append)) return;
    file.write((line + "\n").c_str());
}

std::string SettingsDirectory() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.config";
    const QString directory = base + "/tessel";
    QDir().mkpath(directory);
    return directory.toStdString();
}

namespace {

// Windows message box styles and answers.
constexpr std::int32_t kOkCancel = 1, kYesNoCancel = 3, kYesNo = 4;
constexpr std::int32_t kIconError = 0x10, kIconQuestion = 0x20, kIconWarning = 0x30;
constexpr std::int32_t kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7;

std::int32_t ShowMessageBox(const QString& text, std::int32_t style, QString caption) {
    if (caption.isEmpty()) {
        QWidget* owner = ActiveProgramWindow();
        caption = owner != nullptr ? owner->windowTitle() : QStringLiteral("Tessel");
    }
    QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::NoButton,
                    ActiveProgramWindow());
    switch (style & 0xF0) {
        case kIconError:
            box.setIcon(QMessageBox::Critical);
            break;
        case kIconQuestion:
            box.setIcon(QMessageBox::Question);
            break;
        case kIconWarning:
            box.setIcon(QMessageBox::Warning);
            break;
        default:
            break;
    }
    switch (style & 0xF) {
        case kOkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case kYesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
        case kYesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            break;
    }
    AppendTrace("TESSEL_MESSAGE_LOG", "message " + text.toStdString());
    switch (box.exec()) {
        case QMessageBox::Ok:
            return kIdOk;
        case QMessageBox::Yes:
            return kIdYes;
        case QMessageBox::No:
            return kIdNo;
        default:
            // Closing a box that has only OK still answers OK, as on Windows.
            return (style & 0xF) == 0 ? kIdOk : kIdCancel;
    }
}

// The sound is played from a file of the process's own; one effect at a time.
bool PlaySound(std::string_view wave) {
    static std::unique_ptr<QTemporaryFile> file;
    static std::unique_ptr<QSoundEffect> effect;
    if (wave.empty()) return false;
    effect.reset();
    file = std::make_unique<QTemporaryFile>(QDir::tempPath() + "/tessel-sound-XXXXXX.wav");
    if (!file->open() || file->write(wave.data(), static_cast<qint64>(wave.size())) !=
                             static_cast<qint64>(wave.size())) {
        return false;
    }
    file->flush();
    effect = std::make_unique<QSoundEffect>();
    effect->setSource(QUrl::fromLocalFile(file->fileName()));
    effect->play();
    AppendTrace("TESSEL_SOUND_LOG", "sound " + std::to_string(wave.size()));
    return true;
}

}  // namespace

bool RunSystemCommand(std::uint32_t command, std::uint32_t n, const Value* a, Value* result) {
    switch (command) {
        case kernel::kMessageBox:
            *result =
                IntegerValue(ShowMessageBox(FromGbk(ArgText(n, a, 0)), platform::ArgInt(n, a, 1, 0),
                                            FromGbk(ArgText(n, a, 2))));
            return true;
        case kernel::kSetClipboardText:
            QApplication::clipboard()->setText(FromGbk(ArgText(n, a, 0)));
            *result = LogicalValue(true);
            return true;
        case kernel::kPlaySound:
            *result = LogicalValue(PlaySound(platform::ArgBytes(n, a, 0)));
            return true;
        default:
            return false;
    }
}

namespace {

// The folder chosen, as GBK text, or empty when none was (or GBK cannot name it).
std::string BrowseForFolder(std::uint32_t n, const Value* a) {
    const QString title = FromGbk(ArgText(n, a, 0));
    QString start = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (start.isEmpty() || !QDir(start).exists()) start = QDir::homePath();
    const QString chosen = QFileDialog::getExistingDirectory(
        ActiveProgramWindow(), title, start,
        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (chosen.isEmpty()) return {};
    // The program keeps paths as GBK text: a folder GBK cannot name is refused as a whole.
    const auto gbk = ToGbkExactly(QDir::toNativeSeparators(chosen));
    if (!gbk) {
        ShowMessageBox(
            QStringLiteral("无法使用此文件夹：文件夹路径中有 GBK 编码无法表示的字符。\n%1\n"
                           "请选择其他文件夹，保存目录未作更改。")
                .arg(chosen),
            kIconWarning, QString());
        return {};
    }
    return *gbk;
}

}  // namespace

void RunVestryCommand(std::uint32_t command, std::uint32_t n, const Value* a, Value* result) {
    // One text for the answer, made once: the caller frees the one it is given.
    *result = platform::NewText(command == vestry::kBrowseForFolder ? BrowseForFolder(n, a)
                                                                    : std::string());
}

}  // namespace tessel::qt
