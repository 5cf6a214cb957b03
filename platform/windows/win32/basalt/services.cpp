// basalt's service table: the window runtime's, over basalt's window core, with DLL commands
// resolved from the image's own DLL-command table and the support libraries as DLLs.
#include <windows.h>

#include <string>

#include "loaded_image.h"
#include "tessel/headless/headless.h"
#include "tessel/kernel/kernel_commands.h"
#include "tessel/runtime/dll_commands.h"
#include "tessel/win32_shared/gbk_win32.h"
#include "tessel/window_runtime/runtime.h"
#include "window_system.h"

namespace tessel::basalt {

namespace {

[[noreturn]] void Fail(std::int32_t code) {
    BasaltServices().runtimeError(code);
    ExitProcess(static_cast<UINT>(100 + code));  // not reached: the error ends the program
}

Word DllCommand(std::uint32_t index, std::uint32_t argCount, const Word* args) {
    auto& commands = Program().dllCommands;
    if (index >= commands.size()) Fail(runtime_error::kStackUnbalanced);
    auto& c = commands[index];
    if (c.resolved == nullptr) {
        // Command 0 names no library: its function is kernel32's.
        HMODULE module = LoadLibraryA(c.library.empty() ? "kernel32.dll" : c.library.c_str());
        c.resolved = module != nullptr
                         ? reinterpret_cast<void*>(GetProcAddress(module, c.function.c_str()))
                         : nullptr;
        // The image's rows carry no flag: a function this runtime knows as optional (one older
        // Windows lacks) answers the program a failure where it is missing.
        if (c.resolved == nullptr && dll::IsOptional(c.library, c.function))
            return dll::kMissingFunction;
        if (c.resolved == nullptr) Fail(runtime_error::kStackUnbalanced);
    }
    return headless::CallDllFunction(c.resolved, c.function, argCount, args);
}

class BasaltHost final : public windows::RuntimeHost {
  public:
    // Every library row besides the player's is a DLL's (facet.fnr draws the list and the bar).
    void RunLibraryCommand(std::uint32_t row, std::uint32_t command, std::uint32_t argCount,
                           const Value* args, Value* result) override {
        const auto& libraries = Program().libraries;
        if (row < libraries.size() && libraries[row].command != nullptr)
            libraries[row].command(command, argCount, args, result);
    }
    void RunMessageLoop() override { basalt::RunMessageLoop(); }
    void ShowRuntimeError(const std::string& message) override {
        const std::wstring wide = platform::WideFromGbk(message);
        MessageBoxW(static_cast<HWND>(ActiveProgramWindow()), wide.c_str(), L"Tessel",
                    MB_OK | MB_ICONERROR | MB_TASKMODAL);
    }
    [[noreturn]] void EndProcess(std::int32_t exitCode) override {
        ExitProcess(static_cast<UINT>(exitCode));
    }
};

// The slots the window runtime leaves to the base: DLL commands, blocks and requests.
ServiceTable BaseTable() {
    ServiceTable base{};
    base.dllCommand = &DllCommand;
    base.allocate = &platform::RuntimeAllocate;
    base.resize = &platform::RuntimeResize;
    base.free = &platform::RuntimeFree;
    base.request = &headless::RunRequest;
    return base;
}

}  // namespace

const ServiceTable& BasaltServices() {
    static BasaltHost host;
    static const ServiceTable& table =
        windows::InstallWindowRuntime(BaseTable(), Windows(), host, nullptr);
    return table;
}

}  // namespace tessel::basalt
