#include "tessel/runtime/services.h"

#include <cstdlib>

namespace tessel {

namespace {
const ServiceTable* g_table = nullptr;
}  // namespace

#if UINTPTR_MAX == 0xFFFFFFFFu
// On the 32-bit target the table's layout is the slot numbering itself.
static_assert(offsetof(ServiceTable, dllCommand) == slot::kDllCommand);
static_assert(offsetof(ServiceTable, kernelCommand) == slot::kKernelCommand);
static_assert(offsetof(ServiceTable, allocate) == slot::kAllocate);
static_assert(offsetof(ServiceTable, request) == slot::kRequest);
static_assert(sizeof(Value) == 12);
#endif

void InstallServices(const ServiceTable* table) {
    g_table = table;
}
const ServiceTable& Services() {
    return *g_table;
}

void RaiseRuntimeError(std::int32_t code) {
    g_table->runtimeError(code);
    std::abort();  // the runtime never comes back from an error
}
void* Allocate(std::uint32_t size) {
    return g_table->allocate(size);
}
void* Resize(void* block, std::uint32_t size) {
    return g_table->resize(block, size);
}
void Free(void* block) {
    if (block != nullptr) g_table->free(block);
}

Word CallDll(std::uint32_t index, std::span<const Word> args) {
    return g_table->dllCommand(index, static_cast<std::uint32_t>(args.size()), args.data());
}

Value CallLibrary(std::uint32_t row, std::uint32_t command, std::span<const Value> args) {
    Value result;
    g_table->libraryCommand(row, command, static_cast<std::uint32_t>(args.size()), args.data(),
                            &result);
    return result;
}

Value CallKernel(std::uint32_t command, std::span<const Value> args) {
    Value result;
    g_table->kernelCommand(command, static_cast<std::uint32_t>(args.size()), args.data(), &result);
    return result;
}

Value ReadUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property) {
    Value result;
    g_table->readUnitProperty(window, unit, property, -1, &result);
    return result;
}

void WriteUnitProperty(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                       const Value& value) {
    g_table->writeUnitProperty(window, unit, property, -1, value.low, value.high);
}

void EndProgram(std::int32_t exitCode) {
    g_table->endProgram(exitCode);
}
void RunMessageLoop() {
    g_table->messageLoop();
}
void LoadAndShowWindow(std::uint32_t windowId) {
    g_table->loadAndShowWindow(windowId);
}

void RegisterAtExit(void (*routine)()) {
    const Word args[] = {reinterpret_cast<Word>(routine)};
    g_table->request(request::kAtExit, 1, args);
}

void MakeArrayVariable(std::uint32_t elementSize, void** variable) {
    const Word args[] = {elementSize, reinterpret_cast<Word>(variable)};
    g_table->request(request::kArrayVariable, 2, args);
}

Value Expect(const Value& v, std::uint32_t type) {
    if (v.tag != type) RaiseRuntimeError(runtime_error::kUnexpectedType);
    return v;
}

}  // namespace tessel
