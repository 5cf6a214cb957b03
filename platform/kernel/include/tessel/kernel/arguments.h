#pragma once
// Reading a command's value-record arguments and making its results, on the runtime's side.
#include <cstdint>
#include <string_view>

#include "tessel/runtime/value.h"

namespace tessel::platform {

// A text argument; an omitted or null one reads as the empty text.
std::string_view ArgText(std::uint32_t n, const Value* args, std::uint32_t i);
bool ArgGiven(std::uint32_t n, const Value* args, std::uint32_t i);
double ArgNumber(std::uint32_t n, const Value* args, std::uint32_t i);
std::int32_t ArgInt(std::uint32_t n, const Value* args, std::uint32_t i, std::int32_t fallback);
bool ArgBool(std::uint32_t n, const Value* args, std::uint32_t i);
// The bytes of a byte-array argument (empty for null).
std::string_view ArgBytes(std::uint32_t n, const Value* args, std::uint32_t i);

// New blocks from the runtime allocator, handed to the program.
Value NewText(std::string_view s);
Value NewBytes(const void* data, std::uint32_t n);

}  // namespace tessel::platform
