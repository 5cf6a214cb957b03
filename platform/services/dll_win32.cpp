// DLL commands on Windows: the declared function is looked up once and called with the
// program's 32-bit arguments; a function that leaves the stack unbalanced raises error 6.
#include <windows.h>
#include <wininet.h>

#include <array>

#include "tessel/platform/headless.h"
#include "tessel/platform/stdcall.h"
#include "tessel/runtime/dll_commands.h"

namespace tessel::headless {

namespace {
std::array<FARPROC, dll::kTable.size()> g_resolved{};
DWORD g_connectTimeoutMs = 15000;
DWORD g_receiveTimeoutMs = 30000;

// WinInet's own time-outs are long (or none). The runtime bounds every handle it hands out: the
// root, the connection and the request (not every WinInet passes them on to child handles).
void BoundTimeouts(HINTERNET handle) {
    using SetOption = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, DWORD);
    HMODULE wininet = GetModuleHandleA("wininet.dll");
    auto set = wininet != nullptr ? reinterpret_cast<SetOption>(reinterpret_cast<void*>(
                                        GetProcAddress(wininet, "InternetSetOptionA")))
                                  : nullptr;
    if (set == nullptr) return;
    set(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &g_connectTimeoutMs, sizeof g_connectTimeoutMs);
    set(handle, INTERNET_OPTION_SEND_TIMEOUT, &g_receiveTimeoutMs, sizeof g_receiveTimeoutMs);
    set(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &g_receiveTimeoutMs, sizeof g_receiveTimeoutMs);
}
}  // namespace

void SetNetworkTimeouts(std::uint32_t connectMs, std::uint32_t receiveMs) {
    g_connectTimeoutMs = connectMs;
    g_receiveTimeoutMs = receiveMs;
}

Word CallDllCommand(std::uint32_t index, std::uint32_t argCount, const Word* args) {
    if (index >= dll::kTable.size()) RaiseRuntimeError(runtime_error::kStackUnbalanced);
    FARPROC fn = g_resolved[index];
    if (fn == nullptr) {
        const auto& d = dll::kTable[index];
        // Command 0 names no library: its function lives in kernel32.
        const char* library = d.library[0] != '\0' ? d.library : "kernel32.dll";
        HMODULE module = LoadLibraryA(library);
        fn = module != nullptr ? GetProcAddress(module, d.function) : nullptr;
        if (fn == nullptr) RaiseRuntimeError(runtime_error::kStackUnbalanced);
        g_resolved[index] = fn;
    }
    return CallDllFunction(reinterpret_cast<void*>(fn), dll::kTable[index].function, argCount,
                           args);
}

Word CallDllFunction(void* function, std::string_view name, std::uint32_t argCount,
                     const Word* args) {
    const Word result = platform::CallStdcallChecked(function, argCount, args);
    const bool handleMade =
        name == "InternetOpenA" || name == "InternetConnectA" || name == "HttpOpenRequestA";
    if (handleMade && result != 0) BoundTimeouts(reinterpret_cast<HINTERNET>(result));
    return result;
}

}  // namespace tessel::headless
