#pragma once
// What a script engine's member call gave, and the one set of rules by which every engine
// wrapper (the Script Control on Windows, its stand-in elsewhere) turns it into the text,
// number or logical value the program asked for, so that both engines answer alike:
//
//   engine value      as text              as number          as logical
//   (call rejected)   ""                   0                  false
//   undefined         ""                   0                  false
//   null              ""                   0                  false
//   boolean           "true" / "false"     1 / 0              itself
//   number            number-to-text (*)   itself             not 0 and not NaN
//   string            itself               text-to-double     not empty
//   object, function  ""                   0                  true
//
// (*) the runtime's own number-to-text: whole numbers as plain digits; NaN and the infinities
// as "NaN", "Infinity" and "-Infinity".
#include <cstdint>
#include <string>

#include "tessel/runtime/value.h"

namespace tessel::platform {

struct ScriptResult {
    enum class Kind { kRejected, kUndefined, kNull, kBoolean, kNumber, kText, kObject };
    Kind kind = Kind::kRejected;
    bool boolean = false;
    double number = 0;
    std::string text;  // GBK
};

// Sets *result for one of the object call commands (text, number, logical, variant).
void ConvertScriptResult(std::uint32_t command, const ScriptResult& r, Value* result);

}  // namespace tessel::platform
