#include "tessel/kernel/script_results.h"

#include <cmath>
#include <string_view>

#include "tessel/kernel/arguments.h"
#include "tessel/kernel/kernel_commands.h"
#include "tessel/runtime/kernel.h"

namespace tessel::platform {

namespace {

Value NumberText(double d) {
    if (std::isnan(d)) return NewText("NaN");
    if (std::isinf(d)) return NewText(d > 0 ? "Infinity" : "-Infinity");
    const Value arg = DoubleValue(d);
    Value out;
    RunPortableKernelCommand(kernel::kNumberToText, 1, &arg, &out);
    return out;
}

double TextNumber(const std::string& s) {
    const Value arg = TextValue(s.c_str());
    Value out;
    RunPortableKernelCommand(kernel::kTextToDouble, 1, &arg, &out);
    return AsDouble(out);
}

using Kind = ScriptResult::Kind;

// The three conversions of the table in script_results.h, a column each.
Value AsText(const ScriptResult& r) {
    if (r.kind == Kind::kBoolean) return NewText(r.boolean ? "true" : "false");
    if (r.kind == Kind::kNumber) return NumberText(r.number);
    return NewText(r.kind == Kind::kText ? std::string_view(r.text) : std::string_view());
}

double AsNumber(const ScriptResult& r) {
    if (r.kind == Kind::kBoolean) return r.boolean ? 1 : 0;
    if (r.kind == Kind::kText) return TextNumber(r.text);
    return r.kind == Kind::kNumber ? r.number : 0;
}

bool AsLogical(const ScriptResult& r) {
    switch (r.kind) {
        case Kind::kBoolean:
            return r.boolean;
        case Kind::kNumber:
            return r.number != 0 && !std::isnan(r.number);
        case Kind::kText:
            return !r.text.empty();
        case Kind::kObject:
            return true;
        default:
            return false;
    }
}

}  // namespace

void ConvertScriptResult(std::uint32_t command, const ScriptResult& r, Value* result) {
    if (command == kernel::kObjectCallText)
        *result = AsText(r);
    else if (command == kernel::kObjectCallNumber)
        *result = DoubleValue(AsNumber(r));
    else if (command == kernel::kObjectCallLogical)
        *result = LogicalValue(AsLogical(r));
    else
        *result = OmittedValue();
}

}  // namespace tessel::platform
