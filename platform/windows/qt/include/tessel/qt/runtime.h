#pragma once
// The native window runtime over Qt 6: the window core's service table over Qt's widgets
// (windows built from the image's `form` section, the report list and status bar, the media
// player unit, timers and pop-up menus), with the folder dialog, message boxes, the clipboard,
// the completion sound and the message loop. Everything else is the headless runtime's.
#include <cstdint>
#include <span>
#include <string>

#include "tessel/runtime/services.h"
#include "tessel/runtime/units.h"

class QApplication;
class QWidget;
class QMenu;
class QTimer;

namespace tessel::qt {

// The program routine whose stub lies at `codeOffset` of the image's `code` data, or null.
using HandlerLookup = EventHandler (*)(std::uint32_t codeOffset);

// Before the QApplication exists: Qt's own dialogs, never the desktop's.
void PrepareApplication();
// The program's font (SimSun at 12 pixels, served by WenQuanYi Micro Hei) and Qt's dialogs in
// Chinese.
void UseProgramLook(QApplication& app);

// Reads the image, decodes its windows and installs the runtime's service table. Needs a
// QApplication. False (with a reason) when the image cannot be used.
bool Install(std::span<const std::uint8_t> image, HandlerLookup handlers, std::string* error);
const ServiceTable& RuntimeServices();

// Where bc.ini lives: $XDG_CONFIG_HOME/tessel, ~/.config/tessel by default (UTF-8, created).
std::string SettingsDirectory();

// What tests and the program's own start look at.
QWidget* WindowWidget(std::uint32_t windowId);  // null when not loaded
QWidget* UnitWidget(std::uint32_t window, std::uint32_t unit);
QMenu* UnitMenu(std::uint32_t window, std::uint32_t unit);
QTimer* UnitTimer(std::uint32_t window, std::uint32_t unit);
// Destroys every window without raising events (tests start each case afresh).
void DiscardWindows();

// The frame a window's stored outer size includes around its client area (border and caption as
// the form was designed): the window manager draws its own frame outside the client area.
inline constexpr int kFrameWidth = 4;
inline constexpr int kFrameHeight = 26;

}  // namespace tessel::qt
