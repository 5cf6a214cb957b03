#pragma once
// The program's declared DLL functions. The index is what the DLL-command slot is called with;
// the image's DLL-command table holds the same rows.
#include <array>
#include <cstdint>

namespace tessel {

namespace dll {
enum Index : std::uint32_t {
    kMultiByteToWideChar = 0,
    kWideCharToMultiByte = 1,
    kInternetOpenA = 2,
    kInternetCloseHandle = 3,
    kInternetConnectA = 4,
    kHttpOpenRequestA = 5,
    kHttpSendRequestA = 6,           // sent without a body
    kHttpSendRequestWithBytes = 7,   // sent with a byte-array body
    kInternetReadFile = 8,
    kHttpQueryInfoA = 9,
    kCoInitialize = 10,
    kCoUninitialize = 11,
};

struct Declaration {
    const char* library;   // empty for command 0: the runtime finds it in kernel32
    const char* function;
    std::uint32_t argCount;  // 32-bit arguments the function takes (stdcall)
};

constexpr std::array<Declaration, 12> kTable = {{
    {"", "MultiByteToWideChar", 6},
    {"kernel32.dll", "WideCharToMultiByte", 8},
    {"wininet.dll", "InternetOpenA", 5},
    {"wininet.dll", "InternetCloseHandle", 1},
    {"wininet.dll", "InternetConnectA", 8},
    {"wininet.dll", "HttpOpenRequestA", 8},
    {"wininet.dll", "HttpSendRequestA", 5},
    {"wininet.dll", "HttpSendRequestA", 5},
    {"wininet.dll", "InternetReadFile", 4},
    {"wininet.dll", "HttpQueryInfoA", 5},
    {"ole32.dll", "CoInitialize", 1},
    {"ole32.dll", "CoUninitialize", 0},
}};
}  // namespace dll

}  // namespace tessel
