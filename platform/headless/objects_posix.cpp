// COM object commands natively: the Script Control's stand-in (platform/posix) is the one kind
// of object there is.
#include "tessel/headless/headless.h"
#include "tessel/kernel/object_commands.h"
#include "tessel/posix/standins.h"

namespace tessel::headless {

bool RunObjectCommand(std::uint32_t command, std::uint32_t argCount, const Value* args,
                      Value* result) {
    static constexpr platform::ObjectOperations kScriptControls{
        &posix::CreateScriptControl, &posix::ReleaseScriptControl, &posix::SetScriptControlProperty,
        &posix::CallScriptControl};
    return platform::RunObjectCommand(kScriptControls, command, argCount, args, result);
}

}  // namespace tessel::headless
