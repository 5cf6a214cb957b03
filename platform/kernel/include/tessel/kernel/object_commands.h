#pragma once
// The COM object commands (create from a ProgID, is empty, release, set a property, call a member
// for a text, number, logical or variant result), decoded once. Each platform supplies what its
// objects do: IDispatch late binding on Windows, the Script Control's stand-in elsewhere.
#include <cstdint>
#include <string_view>

#include "tessel/kernel/script_results.h"
#include "tessel/runtime/value.h"

namespace tessel::platform {

struct ObjectOperations {
    void* (*create)(std::string_view progId);  // null when no object can be made
    void (*release)(void* object);             // never given null
    // false when the object has no such property or refuses the value; object may be null
    bool (*setProperty)(void* object, std::string_view name, std::string_view value);
    // the member called with one text argument; object may be null
    ScriptResult (*callMember)(void* object, std::string_view member, std::string_view argument);
};

// Answers an object command over `objects`; false when `command` is not an object command.
bool RunObjectCommand(const ObjectOperations& objects, std::uint32_t command,
                      std::uint32_t argCount, const Value* args, Value* result);

}  // namespace tessel::platform
