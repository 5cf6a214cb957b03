#include "tessel/headless/headless.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tessel/kernel/arguments.h"
#include "tessel/kernel/kernel_commands.h"
#include "tessel/runtime/units.h"
#include "tessel/window_core/commands.h"

namespace tessel::headless {

namespace {

void DefaultErrorHandler(std::int32_t code) {
    std::fprintf(stderr, "runtime error %d: %s\n", code, RuntimeErrorText(code));
    std::fflush(stderr);
    std::_Exit(100 + code);
}

ErrorHandler g_errorHandler = &DefaultErrorHandler;
LibraryHandler g_libraries[8] = {};
std::vector<void (*)()> g_atExit;

[[noreturn]] void RuntimeError(std::int32_t code) {
    g_errorHandler(code);
    std::abort();  // a handler that returns breaks the contract
}

void LibraryCommand(std::uint32_t row, std::uint32_t command, std::uint32_t argCount,
                    const Value* args, Value* result) {
    *result = OmittedValue();
    if (row >= 8) return;
    const LibraryHandler handler =
        g_libraries[row] != nullptr ? g_libraries[row] : BuiltInLibrary(row);
    if (handler != nullptr) handler(command, argCount, args, result);
}

void KernelCommand(std::uint32_t command, std::uint32_t argCount, const Value* args,
                   Value* result) {
    *result = OmittedValue();
    if (platform::RunPortableKernelCommand(command, argCount, args, result)) return;
    if (RunSystemCommand(command, argCount, args, result)) return;
    if (RunObjectCommand(command, argCount, args, result)) return;
    if (windows::RunWindowCommand(windows::Served(), command, argCount, args, result)) return;
    std::fprintf(stderr, "kernel command %u is not available here\n", command);
    RuntimeError(runtime_error::kUnexpectedType);
}

void EndProgram(std::int32_t exitCode) {
    RunAtExitRoutines();
    std::fflush(nullptr);
    std::exit(exitCode);
}

void MessageLoop() {}  // no windows: nothing to wait for

}  // namespace

Word RunRequest(std::uint32_t code, std::uint32_t argCount, const Word* args) {
    switch (code) {
        case request::kAtExit:
            if (argCount >= 1) g_atExit.push_back(reinterpret_cast<void (*)()>(args[0]));
            return 0;
        case request::kArrayVariable: {
            if (argCount < 2) return 0;
            auto** variable = reinterpret_cast<void**>(args[1]);
            if (*variable == nullptr) {
                auto* block = static_cast<std::uint32_t*>(platform::RuntimeAllocate(8));
                block[0] = 1;
                block[1] = 0;
                *variable = block;
            }
            return reinterpret_cast<Word>(*variable);
        }
        default:
            return 0;
    }
}

namespace {

const ServiceTable kTable = {
    &RuntimeError,
    &CallDllCommand,
    &LibraryCommand,
    &KernelCommand,
    &windows::ReadUnitPropertySlot,
    &windows::WriteUnitPropertySlot,
    &platform::RuntimeAllocate,
    &platform::RuntimeResize,
    &platform::RuntimeFree,
    &EndProgram,
    &MessageLoop,
    &windows::LoadAndShowWindowSlot,
    &RunRequest,
};

}  // namespace

const ServiceTable* Install() {
    InstallServices(&kTable);
    return &kTable;
}

void SetErrorHandler(ErrorHandler handler) {
    g_errorHandler = handler != nullptr ? handler : &DefaultErrorHandler;
}

const char* RuntimeErrorText(std::int32_t code) {
    switch (code) {
        case runtime_error::kIndexAboveCount:
            return "array index above the element count";
        case runtime_error::kIndexBelowOne:
            return "array index below 1";
        case runtime_error::kUnexpectedType:
            return "a command returned an unexpected type";
        case runtime_error::kStackUnbalanced:
            return "a DLL function left the stack unbalanced (its declaration does not match it)";
        case runtime_error::kOutOfMemory:
            return "out of memory";
        case runtime_error::kSelectionOutOfRange:
            return "selection index outside its list";
        default:
            return "unknown runtime error";
    }
}

void RegisterLibrary(std::uint32_t row, LibraryHandler handler) {
    if (row < 8) g_libraries[row] = handler;
}

void RunAtExitRoutines() {
    // Each routine runs once, even if one of them ends the program again.
    std::vector<void (*)()> routines;
    routines.swap(g_atExit);
    for (auto* r : routines) r();
}

}  // namespace tessel::headless
