#pragma once
// <windows.h> and <commctrl.h> for a Win32 toolkit of the window core: winuser.h's CreateWindow
// and FindWindow macros would rename the core's methods of those names, so they go.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#undef CreateWindow
#undef FindWindow
