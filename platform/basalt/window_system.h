#pragma once
// The window system: both windows built from the `form` section, their units, events and the
// message loop; the unit property services and the window commands of the kernel.
#include <cstdint>

#include "tessel/runtime/value.h"

namespace tessel::basalt {

// Creates the window and its units; `show` shows it. False when the form has no such window
// or it cannot be created. A window already created is only shown again.
bool LoadWindow(std::uint32_t windowId, bool show);
void RunMessageLoop();
// Closes every media player control (at the end of the program, whichever way it ends).
void ReleasePlayers();

void* UnitWindow(std::uint32_t window, std::uint32_t unit);  // HWND or null
void* ActiveProgramWindow();                                 // HWND or null

void ReadUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                      std::int32_t index, Value* result);
void WriteUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                       std::int32_t index, Word low, std::uint32_t high);

// Window commands of the kernel; false when `command` is not one of them.
bool RunWindowCommand(std::uint32_t command, std::uint32_t argCount, const Value* args,
                      Value* result);
// Commands of the media player control (library row 4).
void RunPlayerCommand(std::uint32_t command, std::uint32_t argCount, const Value* args,
                      Value* result);

}  // namespace tessel::basalt
