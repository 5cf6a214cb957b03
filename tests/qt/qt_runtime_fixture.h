#pragma once
// What the Qt window runtime tests share: the program's image installed with stand-in handlers
// that record how they were called, the units by reference, texts the test owns, and a way to
// answer a dialog that blocks the call showing it.
#include <QMenu>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/app/window_units.h"
#include "tessel/qt/runtime.h"
#include "tessel/runtime/kernel.h"
#include "tessel/runtime/units.h"

namespace tessel::qt_test {

// The menu's first item, 播放.
constexpr std::uint32_t kPlayItem = 0x46010011;

// Once per run: the program image read, the program's look, and the settings folder made.
bool PrepareRun(QString* error);
// $XDG_CONFIG_HOME for the run.
QString ConfigDirectory();

// Installs the image with recording handlers and shows the main window; empty, or what failed.
std::string StartProgram();
// Discards the windows and frees the texts the case kept.
void EndProgram();

struct Call {
    std::uint32_t offset;
    std::array<int, 3> args;
    UnitRef raisedBy;
};
std::vector<Call> CallsTo(std::uint32_t codeOffset);
// What the player window's close-query handler answers (1: it may close).
void SetCloseAnswer(int answer);

template <typename W>
W* Unit(UnitRef u) {
    return qobject_cast<W*>(qt::UnitWidget(u.window, u.unit));
}
inline QWidget* Widget(UnitRef u) {
    return qt::UnitWidget(u.window, u.unit);
}
inline QMenu* Menu(UnitRef u) {
    return qt::UnitMenu(u.window, u.unit);
}
inline QTimer* Timer(UnitRef u) {
    return qt::UnitTimer(u.window, u.unit);
}
Value Read(UnitRef u, std::uint32_t property);
void Write(UnitRef u, std::uint32_t property, const Value& value);
inline Value UnitArg(UnitRef u, std::uint32_t type) {
    return UnitValue(u.window, u.unit, type);
}

std::string Gbk(const QString& s);
QString Utf8(std::string_view gbk);

// Texts handed to the runtime or answered by it belong to the caller, as they do to the
// program's handlers: the test keeps them until the case ends.
Value Owned(Value v);
Value TextArg(const std::string& gbk);
Value Kernel(std::uint32_t command, std::initializer_list<Value> args);
Value Library(std::uint32_t row, std::uint32_t command, std::initializer_list<Value> args);

// Answers the next modal dialog (or pop-up) once it shows: what a user would do, from a timer,
// since the call that shows it blocks.
void AnswerModal(std::function<void(QWidget*)> act);

// Each case starts with the program installed and its main window shown, and ends with its
// windows discarded.
class ProgramCase : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
};

// The test classes, one a concern; each answers as QTest::qExec does.
int RunFormWindowTests(int argc, char** argv);
int RunUnitCommandTests(int argc, char** argv);
int RunEventTests(int argc, char** argv);
int RunDialogTests(int argc, char** argv);

}  // namespace tessel::qt_test
