// basalt's 13 service slots. Everything but windows is shared with the headless runtime; DLL
// commands are resolved from the image's own DLL-command table.
#include <windows.h>

#include <cstdio>
#include <string>

#include "loaded_image.h"
#include "tessel/basalt/player_slot.h"
#include "tessel/platform/gbk_win32.h"
#include "tessel/platform/headless.h"
#include "tessel/platform/kernel_commands.h"
#include "window_system.h"

namespace tessel::basalt {

namespace {

bool g_ending = false;

// Runs the registered clean-up once, whichever way the program ends. The players go first, so
// that their copies of songs (also one still being fetched) can be removed.
void EndOnce(std::int32_t exitCode) {
    if (!g_ending) {
        g_ending = true;
        ReleasePlayers();
        DeletePlayerCopies();
        headless::RunAtExitRoutines();
    }
    ExitProcess(static_cast<UINT>(exitCode));
}

[[noreturn]] void RuntimeError(std::int32_t code) {
    static bool reporting = false;
    if (!reporting) {
        reporting = true;
        char text[256];
        std::snprintf(text, sizeof text, "Runtime error %d: %s.", static_cast<int>(code),
                      headless::RuntimeErrorText(code));
        const std::wstring wide = platform::WideFromGbk(text);
        MessageBoxW(static_cast<HWND>(ActiveProgramWindow()), wide.c_str(), L"Tessel",
                    MB_OK | MB_ICONERROR | MB_TASKMODAL);
    }
    EndOnce(100 + code);
    ExitProcess(static_cast<UINT>(100 + code));
}

Word DllCommand(std::uint32_t index, std::uint32_t argCount, const Word* args) {
    auto& commands = Program().dllCommands;
    if (index >= commands.size()) RuntimeError(runtime_error::kStackUnbalanced);
    auto& c = commands[index];
    if (c.resolved == nullptr) {
        // Command 0 names no library: its function is kernel32's.
        HMODULE module = LoadLibraryA(c.library.empty() ? "kernel32.dll" : c.library.c_str());
        c.resolved = module != nullptr
                         ? reinterpret_cast<void*>(GetProcAddress(module, c.function.c_str()))
                         : nullptr;
        if (c.resolved == nullptr) RuntimeError(runtime_error::kStackUnbalanced);
    }
    return headless::CallDllFunction(c.resolved, c.function, argCount, args);
}

void LibraryCommand(std::uint32_t row, std::uint32_t command, std::uint32_t argCount,
                    const Value* args, Value* result) {
    *result = OmittedValue();
    if (row == row::kMediaPlayer) {
        RunPlayerCommand(command, argCount, args, result);
        return;
    }
    const auto& libraries = Program().libraries;
    if (row < libraries.size() && libraries[row].command != nullptr)
        libraries[row].command(command, argCount, args, result);
}

void KernelCommand(std::uint32_t command, std::uint32_t argCount, const Value* args,
                   Value* result) {
    *result = OmittedValue();
    if (platform::RunPortableKernelCommand(command, argCount, args, result)) return;
    if (RunWindowCommand(command, argCount, args, result)) return;
    if (headless::RunSystemCommand(command, argCount, args, result)) return;
    if (headless::RunObjectCommand(command, argCount, args, result)) return;
    RuntimeError(runtime_error::kUnexpectedType);
}

void EndProgram(std::int32_t exitCode) {
    EndOnce(exitCode);
}

void LoadAndShow(std::uint32_t windowId) {
    LoadWindow(windowId, true);
}

const ServiceTable kTable = {
    &RuntimeError,
    &DllCommand,
    &LibraryCommand,
    &KernelCommand,
    &ReadUnitProperty,
    &WriteUnitProperty,
    &platform::RuntimeAllocate,
    &platform::RuntimeResize,
    &platform::RuntimeFree,
    &EndProgram,
    &RunMessageLoop,
    &LoadAndShow,
    &headless::RunRequest,
};

}  // namespace

const ServiceTable& BasaltServices() {
    return kTable;
}

}  // namespace tessel::basalt
