#pragma once
// The service table of a runtime with windows, assembled once for every toolkit: the headless
// runtime's services with the window half served by the core, and one way to end, whichever way
// the program ends.
#include <cstdint>
#include <string>

#include "tessel/runtime/services.h"
#include "tessel/window_core/commands.h"
#include "tessel/window_core/core.h"

namespace tessel::windows {

// What a runtime with windows does besides its windows.
class RuntimeHost {
  public:
    virtual ~RuntimeHost() = default;
    // Kernel commands of its own (message box, clipboard, sound); false when not one of them.
    virtual bool RunSystemCommand(std::uint32_t, std::uint32_t, const Value*, Value*) {
        return false;
    }
    // Library rows besides the media player (row 4), and besides the report list and status bar
    // when the runtime draws them itself.
    virtual void RunLibraryCommand(std::uint32_t row, std::uint32_t command, std::uint32_t argCount,
                                   const Value* args, Value* result) = 0;
    virtual void RunMessageLoop() = 0;
    // "Runtime error N: text." where the user sees it.
    virtual void ShowRuntimeError(const std::string& message) = 0;
    [[noreturn]] virtual void EndProcess(std::int32_t exitCode) = 0;
};

// Serves `core` and answers the window half of `base` (DLL commands, allocation and requests stay
// base's). `reports` draws row 1 when given; without it row 1 goes to the host.
const ServiceTable& InstallWindowRuntime(const ServiceTable& base, WindowCore& core,
                                         RuntimeHost& host, ReportUnits* reports);

// Runs the registered clean-up once, after closing every player, and ends the process.
[[noreturn]] void EndOnce(std::int32_t exitCode);
// The runtime error's message for the user.
std::string RuntimeErrorMessage(std::int32_t code);

}  // namespace tessel::windows
