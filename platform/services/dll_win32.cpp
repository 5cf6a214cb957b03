// DLL commands on Windows: the declared function is looked up once and called with the
// program's 32-bit arguments; a function that leaves the stack unbalanced raises error 6.
#include <windows.h>

#include <array>

#include "tessel/platform/headless.h"
#include "tessel/platform/stdcall.h"
#include "tessel/runtime/dll_commands.h"

namespace tessel::headless {

namespace {
std::array<FARPROC, dll::kTable.size()> g_resolved{};
}  // namespace

Word CallDllCommand(std::uint32_t index, std::uint32_t argCount, const Word* args) {
    if (index >= dll::kTable.size()) RaiseRuntimeError(runtime_error::kStackUnbalanced);
    FARPROC fn = g_resolved[index];
    if (fn == nullptr) {
        const auto& d = dll::kTable[index];
        // Command 0 names no library: its function lives in kernel32.
        const char* library = d.library[0] != '\0' ? d.library : "kernel32.dll";
        HMODULE module = LoadLibraryA(library);
        fn = module != nullptr ? GetProcAddress(module, d.function) : nullptr;
        if (fn == nullptr) RaiseRuntimeError(runtime_error::kStackUnbalanced);
        g_resolved[index] = fn;
    }
    return platform::CallStdcallChecked(reinterpret_cast<void*>(fn), argCount, args);
}

}  // namespace tessel::headless
