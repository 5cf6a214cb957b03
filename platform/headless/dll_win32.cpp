// DLL commands on Windows: the declared function is looked up once and called with the
// program's 32-bit arguments; a function that leaves the stack unbalanced raises error 6.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <vector>

#include "tessel/headless/headless.h"
#include "tessel/headless/stdcall.h"
#include "tessel/runtime/dll_commands.h"

namespace tessel::headless {

namespace {
std::array<FARPROC, dll::kTable.size()> g_resolved{};
DWORD g_connectTimeoutMs = 15000;
DWORD g_receiveTimeoutMs = 30000;

using SetOption = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, DWORD);
using EndRequest = BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, DWORD_PTR);

// A function of the WinInet that the program's own commands loaded (null before they have).
template <typename Function>
Function WinInetFunction(const char* name) {
    HMODULE wininet = GetModuleHandleA("wininet.dll");
    return wininet != nullptr
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(wininet, name)))
               : nullptr;
}

// WinInet's own time-outs are long (or none). The runtime bounds every handle it hands out: the
// root, the connection and the request (not every WinInet passes them on to child handles).
void BoundTimeouts(HINTERNET handle) {
    auto set = WinInetFunction<SetOption>("InternetSetOptionA");
    if (set == nullptr) return;
    set(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &g_connectTimeoutMs, sizeof g_connectTimeoutMs);
    set(handle, INTERNET_OPTION_SEND_TIMEOUT, &g_receiveTimeoutMs, sizeof g_receiveTimeoutMs);
    set(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &g_receiveTimeoutMs, sizeof g_receiveTimeoutMs);
}

// Requests whose last read still gave bytes: the caller stopped before the end of the body.
std::mutex g_unfinishedMutex;
std::vector<HINTERNET> g_unfinished;

void NoteRead(HINTERNET request, bool bodyGoesOn) {
    const std::lock_guard lock(g_unfinishedMutex);
    auto it = std::find(g_unfinished.begin(), g_unfinished.end(), request);
    if (bodyGoesOn && it == g_unfinished.end()) g_unfinished.push_back(request);
    if (!bodyGoesOn && it != g_unfinished.end()) g_unfinished.erase(it);
}

bool TakeUnfinished(HINTERNET handle) {
    const std::lock_guard lock(g_unfinishedMutex);
    auto it = std::find(g_unfinished.begin(), g_unfinished.end(), handle);
    if (it == g_unfinished.end()) return false;
    g_unfinished.erase(it);
    return true;
}

// Wine's WinInet reads the rest of a body when its request handle is closed, as long as the
// server keeps sending, and a body announced by its length is read to that length. Ending the
// request first makes it look for a new response on the connection: it takes what follows for
// an answer without headers or length, and the close then drops the connection instead. A
// short receive time-out keeps that look from waiting on a server that has gone quiet; the usual
// one is put back in case the connection is kept for another request after all.
void AbandonBody(HINTERNET request) {
    auto set = WinInetFunction<SetOption>("InternetSetOptionA");
    auto end = WinInetFunction<EndRequest>("HttpEndRequestA");
    if (set == nullptr || end == nullptr) return;
    DWORD quickMs = std::min<DWORD>(g_receiveTimeoutMs, 500);
    set(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &quickMs, sizeof quickMs);
    end(request, nullptr, 0, 0);
    set(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &g_receiveTimeoutMs, sizeof g_receiveTimeoutMs);
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
        // A function older Windows lacks is a failure the program handles, not an error.
        if (fn == nullptr && dll::AnswersMissing(index, argCount)) return dll::kMissingFunction;
        if (fn == nullptr) RaiseRuntimeError(runtime_error::kStackUnbalanced);
        g_resolved[index] = fn;
    }
    return CallDllFunction(reinterpret_cast<void*>(fn), dll::kTable[index].function, argCount,
                           args);
}

Word CallDllFunction(void* function, std::string_view name, std::uint32_t argCount,
                     const Word* args) {
    if (name == "InternetCloseHandle" && argCount == 1 &&
        TakeUnfinished(reinterpret_cast<HINTERNET>(args[0]))) {
        AbandonBody(reinterpret_cast<HINTERNET>(args[0]));
    }
    const Word result = platform::CallStdcallChecked(function, argCount, args);
    if (name == "InternetReadFile" && argCount == 4 && args[3] != 0) {
        const DWORD got = result != 0 ? *reinterpret_cast<const DWORD*>(args[3]) : 0;
        NoteRead(reinterpret_cast<HINTERNET>(args[0]), got != 0);
    }
    const bool handleMade =
        name == "InternetOpenA" || name == "InternetConnectA" || name == "HttpOpenRequestA";
    if (handleMade && result != 0) BoundTimeouts(reinterpret_cast<HINTERNET>(result));
    return result;
}

}  // namespace tessel::headless
