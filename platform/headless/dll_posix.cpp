// DLL commands natively: each declared function is answered by its POSIX stand-in
// (platform/posix), called with the program's argument words. A stand-in called with another
// argument count than the real function takes is the native form of an unbalanced stack.
#include <cstdio>

#include "tessel/headless/headless.h"
#include "tessel/posix/standins.h"
#include "tessel/runtime/dll_commands.h"
#include "tessel/runtime/services.h"

namespace tessel::headless {

Word CallDllCommand(std::uint32_t index, std::uint32_t argCount, const Word* args) {
    if (index >= dll::kTable.size()) RaiseRuntimeError(runtime_error::kStackUnbalanced);
    const auto& d = dll::kTable[index];
    const auto* s = posix::FindStandIn(d.function);
    // An optional function without a stand-in is missing, as on older Windows.
    if (s == nullptr && dll::AnswersMissing(index, argCount)) return dll::kMissingFunction;
    if (s == nullptr) {
        std::fprintf(stderr, "no stand-in for %s\n", dll::kTable[index].function);
        RaiseRuntimeError(runtime_error::kStackUnbalanced);
    }
    if (s->argCount != argCount) RaiseRuntimeError(runtime_error::kStackUnbalanced);
    return s->call(args);
}

void SetNetworkTimeouts(std::uint32_t connectMs, std::uint32_t receiveMs) {
    posix::SetNetworkTimeouts(connectMs, receiveMs);
}

}  // namespace tessel::headless
