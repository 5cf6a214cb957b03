#include "tessel/platform/headless.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tessel/platform/arguments.h"
#include "tessel/platform/kernel_commands.h"
#include "tessel/runtime/units.h"

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

// Window commands without windows: units are only references. Loaded windows and copies are
// remembered so that the created test and the event unit answer consistently.
std::set<std::uint32_t> g_loadedWindows;
std::uint32_t g_nextCopy = 0x7E00E000;
Value g_eventUnit{};

bool RunWindowCommand(std::uint32_t command, std::uint32_t n, const Value* a, Value* result) {
    switch (command) {
        case window_command::kCopyUnit:
            if (n >= 1)
                *result = UnitValue(static_cast<std::uint32_t>(a[0].low), g_nextCopy++, a[0].tag);
            return true;
        case window_command::kEventUnit:
            *result = g_eventUnit;
            return true;
        case window_command::kIsCreated:
            *result = LogicalValue(
                n >= 1 && g_loadedWindows.count(static_cast<std::uint32_t>(a[0].low)) != 0);
            return true;
        case window_command::kLoadWindow:
            g_loadedWindows.insert(static_cast<std::uint32_t>(platform::ArgInt(n, a, 0, 0)));
            *result = LogicalValue(true);
            return true;
        case window_command::kDestroyWindow:
            g_loadedWindows.erase(static_cast<std::uint32_t>(platform::ArgInt(n, a, 0, 0)));
            return true;
        case window_command::kRouteEvents:
        case window_command::kPopUpMenu:
            return true;
        default:
            return false;
    }
}

void KernelCommand(std::uint32_t command, std::uint32_t argCount, const Value* args,
                   Value* result) {
    *result = OmittedValue();
    if (platform::RunPortableKernelCommand(command, argCount, args, result)) return;
    if (RunSystemCommand(command, argCount, args, result)) return;
    if (RunObjectCommand(command, argCount, args, result)) return;
    if (RunWindowCommand(command, argCount, args, result)) return;
    std::fprintf(stderr, "kernel command %u is not available without windows\n", command);
    RuntimeError(runtime_error::kUnexpectedType);
}

// Unit properties are kept as plain values: enough for routines that only store and read back.
// Texts (captions, contents, tags) are kept as copies and read back as new texts, as the runtime
// with windows hands them out.
std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, Value> g_properties;
std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, std::string> g_texts;

bool IsTextProperty(std::uint32_t property) {
    return property == unit_property::kText || property == unit_property::kTag;
}

void ReadUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                      std::int32_t, Value* result) {
    if (IsTextProperty(property)) {
        const auto it = g_texts.find({window, unit, property});
        *result = platform::NewText(it == g_texts.end() ? std::string_view() : it->second);
        return;
    }
    const auto it = g_properties.find({window, unit, property});
    *result = it == g_properties.end() ? IntegerValue(0) : it->second;
}

void WriteUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                       std::int32_t, Word low, std::uint32_t high) {
    if (IsTextProperty(property)) {
        const char* text = reinterpret_cast<const char*>(low);
        g_texts[{window, unit, property}] = text != nullptr ? text : "";
        return;
    }
    auto& v = g_properties[{window, unit, property}];
    v.low = low;
    v.high = high;
}

void EndProgram(std::int32_t exitCode) {
    RunAtExitRoutines();
    std::fflush(nullptr);
    std::exit(exitCode);
}

void MessageLoop() {}  // no windows: nothing to wait for
void LoadAndShowWindow(std::uint32_t) {}

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
    &ReadUnitProperty,
    &WriteUnitProperty,
    &platform::RuntimeAllocate,
    &platform::RuntimeResize,
    &platform::RuntimeFree,
    &EndProgram,
    &MessageLoop,
    &LoadAndShowWindow,
    &RunRequest,
};

}  // namespace

const ServiceTable* Install() {
    InstallServices(&kTable);
    return &kTable;
}

void SetEventUnit(std::uint32_t window, std::uint32_t unit, std::uint32_t type) {
    g_eventUnit = UnitValue(window, unit, type);
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
