#include "tessel/kernel/script_results.h"

#include <cmath>

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

}  // namespace

void ConvertScriptResult(std::uint32_t command, const ScriptResult& r, Value* result) {
    using Kind = ScriptResult::Kind;
    switch (command) {
        case kernel::kObjectCallText:
            switch (r.kind) {
                case Kind::kBoolean:
                    *result = NewText(r.boolean ? "true" : "false");
                    return;
                case Kind::kNumber:
                    *result = NumberText(r.number);
                    return;
                case Kind::kText:
                    *result = NewText(r.text);
                    return;
                default:
                    *result = NewText("");
                    return;
            }
        case kernel::kObjectCallNumber:
            switch (r.kind) {
                case Kind::kBoolean:
                    *result = DoubleValue(r.boolean ? 1 : 0);
                    return;
                case Kind::kNumber:
                    *result = DoubleValue(r.number);
                    return;
                case Kind::kText:
                    *result = DoubleValue(TextNumber(r.text));
                    return;
                default:
                    *result = DoubleValue(0);
                    return;
            }
        case kernel::kObjectCallLogical:
            switch (r.kind) {
                case Kind::kBoolean:
                    *result = LogicalValue(r.boolean);
                    return;
                case Kind::kNumber:
                    *result = LogicalValue(r.number != 0 && !std::isnan(r.number));
                    return;
                case Kind::kText:
                    *result = LogicalValue(!r.text.empty());
                    return;
                case Kind::kObject:
                    *result = LogicalValue(true);
                    return;
                default:
                    *result = LogicalValue(false);
                    return;
            }
        default:
            *result = OmittedValue();
            return;
    }
}

}  // namespace tessel::platform
