#pragma once
// The Qt runtime's own records of the windows and units it created.
#include <QPointer>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/image/form.h"
#include "tessel/image/image.h"
#include "tessel/qt/runtime.h"

class QMenu;
class QTimer;
class QWidget;

namespace tessel::qt {

class PlayerWidget;

struct UnitState {
    std::uint32_t window = 0;
    std::uint32_t id = 0;
    std::uint32_t type = 0;
    QPointer<QWidget> widget;  // null for the timer and menu items
    const image::Unit* record = nullptr;
    std::vector<image::FormEvent> events;
    std::string tag;
    std::int32_t attribute24 = 0;
    std::uint32_t textColour = 0;           // 0x00BBGGRR
    std::uint32_t backColour = kNoColour;   // kNoColour: transparent
    QPointer<QTimer> timer;
    QPointer<QMenu> menu;                   // a top-level menu unit: its pop-up
    std::uint32_t clickHandler = image::kNone;  // a menu item's
    PlayerWidget* player = nullptr;         // owned by `widget`
    static constexpr std::uint32_t kNoColour = 0xFFFFFFFF;
};

struct WindowState {
    std::uint32_t id = 0;
    QPointer<QWidget> widget;
    const image::FormWindow* form = nullptr;
    std::map<std::uint32_t, std::unique_ptr<UnitState>> units;  // the window's own under its id
    bool isMain = false;
};

WindowState* FindWindowState(std::uint32_t windowId);
UnitState* FindUnit(std::uint32_t window, std::uint32_t unit);
UnitState* FindUnitByWidget(const QWidget* widget);

// Runs the unit's handler for `event` with the unit as the one that raised it; answers the
// handler's result, or `fallback` when no handler is bound.
int RaiseEvent(const UnitState& unit, std::int32_t event, std::int32_t a = 0, std::int32_t b = 0,
               std::int32_t c = 0, int fallback = 0);
int RunHandler(std::uint32_t window, std::uint32_t unit, std::uint32_t codeOffset);
int RunHandlerWith(std::uint32_t window, std::uint32_t unit, std::uint32_t codeOffset,
                   std::int32_t a, std::int32_t b, std::int32_t c, int fallback);

bool LoadWindow(std::uint32_t windowId, bool show);
// Raises the window's destroying event and deletes it; the main window ends the message loop.
void DestroyWindow(std::uint32_t windowId);
// Creates the widget of a unit record (also for copies); false when the kind is not built here.
bool CreateUnitWidget(WindowState& window, UnitState& unit, bool forceHidden);
std::uint32_t NewCopyId();
std::pair<std::uint32_t, std::uint32_t> CurrentEventUnit();
QWidget* ActiveProgramWindow();

// Colours as the units take them.
void ApplyColours(UnitState& unit);
// Captioned units (labels, buttons) are named by their caption for screen readers, others by
// the unit's name; the name stays in the description.
void UpdateAccessibleName(UnitState& unit);

// GBK inside the program, UTF-8 at Qt's edge.
QString FromGbk(std::string_view gbk);
std::string ToGbk(const QString& text);                       // '?' for what GBK lacks
std::optional<std::string> ToGbkExactly(const QString& text);  // nullopt when GBK lacks some

// The service parts.
void ReadUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                      std::int32_t index, Value* result);
void WriteUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                       std::int32_t index, Word low, std::uint32_t high);
bool RunWindowCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result);
void RunFacetCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result);
void RunVestryCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result);
void RunPlayerCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result);
bool RunSystemCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result);

// Appends one UTF-8 line to the file the environment variable names, if it names one, so that
// tests can follow from outside what the runtime did ("url A", "sound N").
void AppendTrace(const char* variable, const std::string& line);

}  // namespace tessel::qt
