#pragma once
// The window system: the window core over basalt's Win32 toolkit, serving the program's form,
// and the message loop.
#include <cstdint>

#include "tessel/window_core/core.h"

namespace tessel::basalt {

windows::WindowCore& Windows();
void RunMessageLoop();

void* UnitWindow(std::uint32_t window, std::uint32_t unit);  // HWND or null
void* ActiveProgramWindow();                                 // HWND or null

}  // namespace tessel::basalt
