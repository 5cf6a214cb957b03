#include "qt_runtime_fixture.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cstddef>
#include <memory>
#include <span>
#include <utility>

#include "tessel/image/const_offsets.h"
#include "tessel/image/native_handlers.h"
#include "tessel/kernel/arguments.h"
#include "tessel/posix/standins.h"

namespace tessel::qt_test {
namespace {

QByteArray g_image;
std::unique_ptr<QTemporaryDir> g_config;
std::vector<Call> g_calls;
int g_closeAnswer = 1;
std::vector<void*> g_texts;

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

}  // namespace

bool PrepareRun(QString* error) {
    QFile file(QStringLiteral(TESSEL_PROGRAM_IMAGE));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + file.fileName();
        return false;
    }
    g_image = file.readAll();
    g_config = std::make_unique<QTemporaryDir>();
    if (!g_config->isValid()) {
        *error = QStringLiteral("cannot make a settings folder");
        return false;
    }
    qputenv("XDG_CONFIG_HOME", g_config->path().toUtf8());
    qt::UseProgramLook(*qobject_cast<QApplication*>(QApplication::instance()));
    return true;
}

QString ConfigDirectory() {
    return g_config->path();
}

std::string StartProgram() {
    std::string error;
    const std::span<const std::uint8_t> bytes(
        reinterpret_cast<const std::uint8_t*>(g_image.constData()),
        static_cast<std::size_t>(g_image.size()));
    if (!qt::Install(bytes, &RecordingHandler, &error)) return error;
    g_calls.clear();
    g_closeAnswer = 1;
    LoadAndShowWindow(app::kMainWindowId);
    if (qt::WindowWidget(app::kMainWindowId) == nullptr) return "the main window did not load";
    return {};
}

void EndProgram() {
    qt::DiscardWindows();
    for (void* text : g_texts) Free(text);
    g_texts.clear();
}

std::vector<Call> CallsTo(std::uint32_t codeOffset) {
    std::vector<Call> found;
    for (const auto& c : g_calls)
        if (c.offset == codeOffset) found.push_back(c);
    return found;
}

void SetCloseAnswer(int answer) {
    g_closeAnswer = answer;
}

Value Read(UnitRef u, std::uint32_t property) {
    return ReadUnitProperty(u.window, u.unit, property);
}

void Write(UnitRef u, std::uint32_t property, const Value& value) {
    WriteUnitProperty(u.window, u.unit, property, value);
}

std::string Gbk(const QString& s) {
    const QByteArray utf8 = s.toUtf8();
    return posix::ConvertWhole("CP936", "UTF-8", std::string_view(utf8.constData(), utf8.size()))
        .value_or("");
}

QString Utf8(std::string_view gbk) {
    return QString::fromStdString(posix::ConvertWhole("UTF-8", "CP936", gbk).value_or(""));
}

Value Owned(Value v) {
    if (v.tag == tag::kText && v.low != 0) g_texts.push_back(reinterpret_cast<void*>(v.low));
    return v;
}

Value TextArg(const std::string& gbk) {
    return Owned(platform::NewText(gbk));
}

Value Kernel(std::uint32_t command, std::initializer_list<Value> args) {
    return Owned(CallKernel(command, std::span<const Value>(args.begin(), args.size())));
}

Value Library(std::uint32_t row, std::uint32_t command, std::initializer_list<Value> args) {
    return Owned(CallLibrary(row, command, std::span<const Value>(args.begin(), args.size())));
}

void ProgramCase::init() {
    const std::string error = StartProgram();
    QVERIFY2(error.empty(), error.c_str());
}

void ProgramCase::cleanup() {
    EndProgram();
}

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

}  // namespace tessel::qt_test
