#pragma once
// facet's units over Qt: the report list (a table of rows) and the status bar (panes docked to
// the bottom edge of the window).
#include "window_state.h"

namespace tessel::qt {

QWidget* MakeReportList(QWidget* window, windows::Unit& unit);
QWidget* MakeStatusBar(QWidget* window, windows::Unit& unit);
// Docks the window's status bars to the bottom edge of its client area.
void PlaceStatusBars(windows::Window& window);

}  // namespace tessel::qt
