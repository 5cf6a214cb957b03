// ferry.fnr: the network transfer library, as far as the program's start and end need it.
// There is no transfer yet: nothing starts, the speed is 0, and releasing an empty holder is a
// no-op that leaves it empty.
#include <cstdint>

#include "tessel/basalt/library_abi.h"
#include "tessel/runtime/library_commands.h"

namespace {
const tessel::basalt::LibraryHost* g_host = nullptr;
}  // namespace

extern "C" __declspec(dllexport) void tessel_Attach(const tessel::basalt::LibraryHost* host) {
    g_host = host;
}

extern "C" __declspec(dllexport) void tessel_Command(std::uint32_t command, std::uint32_t n,
                                                     const tessel::Value* args,
                                                     tessel::Value* result) {
    *result = tessel::OmittedValue();
    switch (command) {
        case tessel::ferry::kStartDownload:
            *result = tessel::LogicalValue(false);
            return;
        case tessel::ferry::kCurrentSpeed:
            *result = tessel::IntegerValue(0);
            return;
        case tessel::ferry::kRelease:
            // The holder keeps the transfer object; with none ever made it stays 0.
            if (n >= 1 && args[0].low != 0) *reinterpret_cast<tessel::Word*>(args[0].low) = 0;
            return;
        default:
            return;
    }
}
