#pragma once
// The kernel commands that need no operating system: text operations and number conversions.
// Shared by basalt.fnr and the headless runtime; blocks come from malloc, which is the runtime's
// allocation service in both.
#include <cstdint>

#include "tessel/runtime/text.h"
#include "tessel/runtime/value.h"

namespace tessel::platform {

// Runs a text or number command. Returns false when `command` is not one of them.
bool RunPortableKernelCommand(std::uint32_t command, std::uint32_t argCount, const Value* args,
                              Value* result);

// GBK lead bytes: searches and case changes step over double-byte characters whole.
constexpr bool IsLeadByte(unsigned char c) {
    return IsGbkLeadByte(c);
}

// The runtime allocator: never returns null (the process ends when memory is exhausted).
void* RuntimeAllocate(std::uint32_t size);
void* RuntimeResize(void* block, std::uint32_t size);
void RuntimeFree(void* block);

}  // namespace tessel::platform
