#include "tessel/posix/standins.h"

#include <cstring>
#include <iterator>

#include "standin_functions.h"

namespace tessel::posix {

namespace {
// COM needs no start-up natively: the engine stand-in is an in-process interpreter.
Word CoInitializeStandIn(const Word*) {
    return 0;
}  // S_OK
Word CoUninitializeStandIn(const Word*) {
    return 0;
}

// Every stand-in there is, by the name of the function it replaces.
constexpr StandIn kStandIns[] = {
    {"CoInitialize", 1, &CoInitializeStandIn},
    {"CoUninitialize", 0, &CoUninitializeStandIn},
    {"MultiByteToWideChar", 6, &MultiByteToWideChar},
    {"WideCharToMultiByte", 8, &WideCharToMultiByte},
    {"InternetOpenA", 5, &InternetOpenA},
    {"InternetCloseHandle", 1, &InternetCloseHandle},
    {"InternetConnectA", 8, &InternetConnectA},
    {"HttpOpenRequestA", 8, &HttpOpenRequestA},
    {"HttpSendRequestA", 5, &HttpSendRequestA},
    {"InternetReadFile", 4, &InternetReadFile},
    {"HttpQueryInfoA", 5, &HttpQueryInfoA},
    {"GetTickCount", 0, &GetTickCount},
    {"Sleep", 1, &Sleep},
    {"WSAStartup", 2, &WSAStartup},
    {"WSACleanup", 0, &WSACleanup},
    {"WSAGetLastError", 0, &WSAGetLastError},
    {"socket", 3, &Socket},
    {"setsockopt", 5, &SetSockOpt},
    {"WSAIoctl", 9, &WSAIoctl},
    {"sendto", 6, &SendTo},
    {"recvfrom", 6, &RecvFrom},
    {"closesocket", 1, &CloseSocket},
    {"DnsServiceBrowse", 2, &DnsServiceBrowse},
    {"DnsServiceBrowseCancel", 1, &DnsServiceBrowseCancel},
    {"DnsServiceResolve", 2, &DnsServiceResolve},
    {"DnsServiceResolveCancel", 1, &DnsServiceResolveCancel},
    {"DnsServiceFreeInstance", 1, &DnsServiceFreeInstance},
    {"DnsRecordListFree", 2, &DnsRecordListFree},
};
}  // namespace

const StandIn* FindStandIn(const char* function) {
    for (const auto& s : kStandIns) {
        if (s.call != nullptr && std::strcmp(s.function, function) == 0) return &s;
    }
    return nullptr;
}

}  // namespace tessel::posix
