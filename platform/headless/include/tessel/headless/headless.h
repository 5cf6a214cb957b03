#pragma once
// The headless runtime: every service of the runtime library, with windows kept as records only.
// Tests and host tools run the program's routines against it, natively with the POSIX stand-ins and
// under Wine with the real Windows functions.
#include <cstdint>
#include <functional>
#include <string_view>

#include "tessel/runtime/services.h"

namespace tessel::headless {

// Installs the headless table as the program's services (and returns it).
const ServiceTable* Install();

// What a runtime error does here. The default prints the error's text and ends the process with
// exit code 100 + the error code; tests may set their own (it must not return).
using ErrorHandler = void (*)(std::int32_t code);
void SetErrorHandler(ErrorHandler handler);
const char* RuntimeErrorText(std::int32_t code);

// Windows are the window core's: the one served (tessel/window_core/commands.h), by default one
// whose form has no windows.

// A support library's commands, by row. A registered handler answers its row; a row nobody
// registered is answered by the platform's built-in library, or with an omitted value.
using LibraryHandler = void (*)(std::uint32_t command, std::uint32_t argCount, const Value* args,
                                Value* result);
void RegisterLibrary(std::uint32_t row, LibraryHandler handler);
// Natively the transfer library (row 2) runs in process, so the program's downloads work
// headless; on Windows there is none (basalt.fnr loads the real libraries).
LibraryHandler BuiltInLibrary(std::uint32_t row);

// Runs the routines registered with request 3, once.
void RunAtExitRoutines();

// The DLL-command service of this platform: real functions on Windows, stand-ins elsewhere.
Word CallDllCommand(std::uint32_t index, std::uint32_t argCount, const Word* args);

// Calls a resolved DLL function with the checked stdcall (error 6 when it unbalances the stack);
// WinInet handles it makes get the time-out bounds below. Windows only.
Word CallDllFunction(void* function, std::string_view name, std::uint32_t argCount,
                     const Word* args);

// The request slot: request 3 (at exit) and request 2 (array variable).
Word RunRequest(std::uint32_t code, std::uint32_t argCount, const Word* args);

// Kernel commands that reach the system (message box, settings files, file tests, the program's
// directory, the clipboard, sounds); false when `command` is not one of them.
bool RunSystemCommand(std::uint32_t command, std::uint32_t argCount, const Value* args,
                      Value* result);
// Bounds on every web request made through the DLL commands: connecting, and waiting for data
// once connected (15 s and 30 s unless set). A stalled server cannot block a caller for longer.
void SetNetworkTimeouts(std::uint32_t connectMs, std::uint32_t receiveMs);

// COM object commands of this platform (the Script Control and others); false when `command`
// is not an object command.
bool RunObjectCommand(std::uint32_t command, std::uint32_t argCount, const Value* args,
                      Value* result);

}  // namespace tessel::headless
