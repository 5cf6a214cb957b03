#pragma once
// The program's declared DLL functions. The index is what the DLL-command slot is called with;
// the image's DLL-command table holds the same rows.
#include <array>
#include <cstdint>
#include <string_view>

namespace tessel {

namespace dll {
enum Index : std::uint32_t {
    kMultiByteToWideChar = 0,
    kWideCharToMultiByte = 1,
    kInternetOpenA = 2,
    kInternetCloseHandle = 3,
    kInternetConnectA = 4,
    kHttpOpenRequestA = 5,
    kHttpSendRequestA = 6,          // sent without a body
    kHttpSendRequestWithBytes = 7,  // sent with a byte-array body
    kInternetReadFile = 8,
    kHttpQueryInfoA = 9,
    kCoInitialize = 10,
    kCoUninitialize = 11,
    kGetTickCount = 12,
    kWSAStartup = 13,
    kWSACleanup = 14,
    kSocket = 15,
    kSetSockOpt = 16,
    kWSAIoctl = 17,
    kSendTo = 18,
    kRecvFrom = 19,
    kCloseSocket = 20,
    kWSAGetLastError = 21,
    kDnsServiceBrowse = 22,  // optional, 22 to 26: Windows 10 and later
    kDnsServiceBrowseCancel = 23,
    kDnsServiceResolve = 24,
    kDnsServiceResolveCancel = 25,
    kDnsServiceFreeInstance = 26,
    kDnsRecordListFree = 27,
    kSleep = 28,
};

// What an optional command answers where its function is missing: ERROR_PROC_NOT_FOUND.
constexpr std::uint32_t kMissingFunction = 127;

struct Declaration {
    const char* library;  // empty for command 0: the runtime finds it in kernel32
    const char* function;
    std::uint32_t argCount;  // 32-bit arguments the function takes (stdcall)
    // A function older Windows lacks: where it is missing the command answers kMissingFunction
    // instead of raising runtime error 6.
    bool optional = false;
};

constexpr std::array<Declaration, 29> kTable = {{
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
    {"kernel32.dll", "GetTickCount", 0},
    {"ws2_32.dll", "WSAStartup", 2},
    {"ws2_32.dll", "WSACleanup", 0},
    {"ws2_32.dll", "socket", 3},
    {"ws2_32.dll", "setsockopt", 5},
    {"ws2_32.dll", "WSAIoctl", 9},
    {"ws2_32.dll", "sendto", 6},
    {"ws2_32.dll", "recvfrom", 6},
    {"ws2_32.dll", "closesocket", 1},
    {"ws2_32.dll", "WSAGetLastError", 0},
    {"dnsapi.dll", "DnsServiceBrowse", 2, true},
    {"dnsapi.dll", "DnsServiceBrowseCancel", 1, true},
    {"dnsapi.dll", "DnsServiceResolve", 2, true},
    {"dnsapi.dll", "DnsServiceResolveCancel", 1, true},
    {"dnsapi.dll", "DnsServiceFreeInstance", 1, true},
    {"dnsapi.dll", "DnsRecordListFree", 2},
    {"kernel32.dll", "Sleep", 1},
}};

// What command `index` answers where its function is missing: kMissingFunction for an optional
// one called as declared; false (runtime error 6) for any other.
constexpr bool AnswersMissing(std::uint32_t index, std::uint32_t argCount) {
    return index < kTable.size() && kTable[index].optional && kTable[index].argCount == argCount;
}

// Whether the function `library`!`function` is declared optional.
constexpr bool IsOptional(std::string_view library, std::string_view function) {
    for (const auto& d : kTable) {
        if (d.optional && library == d.library && function == d.function) return true;
    }
    return false;
}
}  // namespace dll

}  // namespace tessel
