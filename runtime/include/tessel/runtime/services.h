#pragma once
// The 13 service slots through which the program reaches the runtime library. Slot numbers are
// byte offsets into the table as the 32-bit image sees it; typed wrappers below hide the slots.
#include <cstddef>
#include <cstdint>
#include <span>

#include "tessel/runtime/value.h"

namespace tessel {

// The table the runtime fills. Every entry uses the C calling convention and passes plain C data
// only: each module has its own C++ runtime, so nothing C++-owned may cross.
struct ServiceTable {
    void (*runtimeError)(std::int32_t code);  // 0x00, never returns
    Word (*dllCommand)(std::uint32_t index, std::uint32_t argCount, const Word* args);  // 0x04
    void (*libraryCommand)(std::uint32_t row, std::uint32_t command, std::uint32_t argCount,
                           const Value* args, Value* result);  // 0x08
    void (*kernelCommand)(std::uint32_t command, std::uint32_t argCount, const Value* args,
                          Value* result);  // 0x0c
    void (*readUnitProperty)(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                             std::int32_t index, Value* result);  // 0x10
    void (*writeUnitProperty)(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                              std::int32_t index, Word low, std::uint32_t high);    // 0x14
    void* (*allocate)(std::uint32_t size);                                          // 0x18
    void* (*resize)(void* block, std::uint32_t size);                               // 0x1c
    void (*free)(void* block);                                                      // 0x20
    void (*endProgram)(std::int32_t exitCode);                                      // 0x24
    void (*messageLoop)();                                                          // 0x28
    void (*loadAndShowWindow)(std::uint32_t windowId);                              // 0x2c
    Word (*request)(std::uint32_t code, std::uint32_t argCount, const Word* args);  // 0x30
};

// Slot numbers, as the image's relocation words and service entries name them.
namespace slot {
constexpr std::uint32_t kRuntimeError = 0x00;
constexpr std::uint32_t kDllCommand = 0x04;
constexpr std::uint32_t kLibraryCommand = 0x08;
constexpr std::uint32_t kKernelCommand = 0x0c;
constexpr std::uint32_t kReadUnitProperty = 0x10;
constexpr std::uint32_t kWriteUnitProperty = 0x14;
constexpr std::uint32_t kAllocate = 0x18;
constexpr std::uint32_t kResize = 0x1c;
constexpr std::uint32_t kFree = 0x20;
constexpr std::uint32_t kEndProgram = 0x24;
constexpr std::uint32_t kMessageLoop = 0x28;
constexpr std::uint32_t kLoadAndShowWindow = 0x2c;
constexpr std::uint32_t kRequest = 0x30;
constexpr std::uint32_t kCount = 13;
}  // namespace slot

// Request codes of the request slot.
namespace request {
constexpr std::uint32_t kArrayVariable = 2;  // (element size, address of an array variable)
constexpr std::uint32_t kAtExit = 3;         // (routine address): run once at program end
}  // namespace request

// Runtime error codes.
namespace runtime_error {
constexpr std::int32_t kIndexAboveCount = 1;
constexpr std::int32_t kIndexBelowOne = 4;
constexpr std::int32_t kUnexpectedType = 5;
constexpr std::int32_t kStackUnbalanced = 6;
constexpr std::int32_t kOutOfMemory =
    7;  // no block of the size asked for, or one 32 bits cannot state
constexpr std::int32_t kSelectionOutOfRange = 9;
}  // namespace runtime_error

// The table in use. The runtime (or a test double) installs it before any routine runs.
void InstallServices(const ServiceTable* table);
const ServiceTable& Services();

// --- typed wrappers -----------------------------------------------------------------------
[[noreturn]] void RaiseRuntimeError(std::int32_t code);
void* Allocate(std::uint32_t size);
void* Resize(void* block, std::uint32_t size);
void Free(void* block);  // null is skipped here, so callers need not test

Word CallDll(std::uint32_t index, std::span<const Word> args);
Value CallLibrary(std::uint32_t row, std::uint32_t command, std::span<const Value> args);
Value CallKernel(std::uint32_t command, std::span<const Value> args);
Value ReadUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property);
void WriteUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                       const Value& value);
void EndProgram(std::int32_t exitCode);
void RunMessageLoop();
void LoadAndShowWindow(std::uint32_t windowId);
void RegisterAtExit(void (*routine)());
void MakeArrayVariable(std::uint32_t elementSize, void** variable);

// Results whose type the code relies on: another type raises runtime error 5.
Value Expect(const Value& v, std::uint32_t type);

}  // namespace tessel
