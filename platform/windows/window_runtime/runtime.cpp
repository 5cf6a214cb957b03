#include "tessel/window_runtime/runtime.h"

#include <cstdio>
#include <cstdlib>

#include "tessel/headless/headless.h"
#include "tessel/kernel/kernel_commands.h"

namespace tessel::windows {

namespace {

ServiceTable g_table{};
RuntimeHost* g_host = nullptr;
ReportUnits* g_reports = nullptr;
bool g_ending = false;

[[noreturn]] void RuntimeError(std::int32_t code) {
    static bool reporting = false;
    if (!reporting) {
        reporting = true;
        g_host->ShowRuntimeError(RuntimeErrorMessage(code));
    }
    EndOnce(100 + code);
}

void LibraryCommand(std::uint32_t row, std::uint32_t command, std::uint32_t n, const Value* args,
                    Value* result) {
    *result = OmittedValue();
    if (row == row::kMediaPlayer)
        RunPlayerCommand(Served(), command, n, args, result);
    else if (row == row::kFacet && g_reports != nullptr)
        RunReportCommand(*g_reports, command, n, args, result);
    else
        g_host->RunLibraryCommand(row, command, n, args, result);
}

void KernelCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result) {
    *result = OmittedValue();
    if (platform::RunPortableKernelCommand(command, n, args, result)) return;
    if (RunWindowCommand(Served(), command, n, args, result)) return;
    if (g_host->RunSystemCommand(command, n, args, result)) return;
    if (headless::RunSystemCommand(command, n, args, result)) return;
    if (headless::RunObjectCommand(command, n, args, result)) return;
    RuntimeError(runtime_error::kUnexpectedType);
}

void EndProgram(std::int32_t exitCode) {
    EndOnce(exitCode);
}

void MessageLoop() {
    g_host->RunMessageLoop();
}

}  // namespace

const ServiceTable& InstallWindowRuntime(const ServiceTable& base, WindowCore& core,
                                         RuntimeHost& host, ReportUnits* reports) {
    g_host = &host;
    g_reports = reports;
    Serve(&core);
    g_table = base;
    g_table.runtimeError = &RuntimeError;
    g_table.libraryCommand = &LibraryCommand;
    g_table.kernelCommand = &KernelCommand;
    g_table.readUnitProperty = &ReadUnitPropertySlot;
    g_table.writeUnitProperty = &WriteUnitPropertySlot;
    g_table.endProgram = &EndProgram;
    g_table.messageLoop = &MessageLoop;
    g_table.loadAndShowWindow = &LoadAndShowWindowSlot;
    return g_table;
}

// The players go first, so that their copies of songs (also one still being fetched) can go.
void EndOnce(std::int32_t exitCode) {
    if (!g_ending) {
        g_ending = true;
        Served().toolkit().ReleasePlayers();
        headless::RunAtExitRoutines();
    }
    std::fflush(nullptr);
    g_host->EndProcess(exitCode);
    std::abort();  // a host that returns breaks the contract
}

std::string RuntimeErrorMessage(std::int32_t code) {
    char text[256];
    std::snprintf(text, sizeof text, "Runtime error %d: %s.", static_cast<int>(code),
                  headless::RuntimeErrorText(code));
    return text;
}

}  // namespace tessel::windows
