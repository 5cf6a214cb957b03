// ferry.fnr: the network transfer library. Its commands are the transfer engine's
// (tessel/ferry/commands.h); it allocates nothing for the program, so the host it is lent is
// not needed.
#include "tessel/ferry/commands.h"
#include "tessel/win32_shared/library_abi.h"

extern "C" __declspec(dllexport) void tessel_Attach(const tessel::basalt::LibraryHost*) {}

extern "C" __declspec(dllexport) void tessel_Command(std::uint32_t command, std::uint32_t n,
                                                     const tessel::Value* args,
                                                     tessel::Value* result) {
    tessel::ferry::RunCommand(command, n, args, result);
}
