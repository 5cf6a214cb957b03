#include "tessel/kernel/object_commands.h"

#include "tessel/kernel/arguments.h"
#include "tessel/runtime/kernel.h"

namespace tessel::platform {

bool RunObjectCommand(const ObjectOperations& objects, std::uint32_t command,
                      std::uint32_t argCount, const Value* args, Value* result) {
    void* object = argCount > 0 ? AsPointer(args[0]) : nullptr;
    switch (command) {
        case kernel::kObjectCreate:
            *result = ObjectValue(objects.create(ArgText(argCount, args, 0)));
            return true;
        case kernel::kObjectIsEmpty:
            *result = LogicalValue(object == nullptr);
            return true;
        case kernel::kObjectRelease:
            if (object != nullptr) objects.release(object);
            *result = OmittedValue();
            return true;
        case kernel::kObjectSetProperty:
            *result = LogicalValue(objects.setProperty(object, ArgText(argCount, args, 1),
                                                       ArgText(argCount, args, 2)));
            return true;
        case kernel::kObjectCallText:
        case kernel::kObjectCallNumber:
        case kernel::kObjectCallLogical:
        case kernel::kObjectCallVariant:
            ConvertScriptResult(
                command,
                objects.callMember(object, ArgText(argCount, args, 1), ArgText(argCount, args, 2)),
                result);
            return true;
        default:
            return false;
    }
}

}  // namespace tessel::platform
