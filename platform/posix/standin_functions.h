#pragma once
// The stand-ins themselves, each called with the real function's argument words in order.
#include "tessel/runtime/value.h"

namespace tessel::posix {

// kernel32 code pages over iconv.
Word MultiByteToWideChar(const Word* args);
Word WideCharToMultiByte(const Word* args);

// WinInet over libcurl.
Word InternetOpenA(const Word* args);
Word InternetCloseHandle(const Word* args);
Word InternetConnectA(const Word* args);
Word HttpOpenRequestA(const Word* args);
Word HttpSendRequestA(const Word* args);
Word InternetReadFile(const Word* args);
Word HttpQueryInfoA(const Word* args);

// Winsock over Linux sockets, and kernel32's clock and sleep.
Word WSAStartup(const Word* args);
Word WSACleanup(const Word* args);
Word WSAGetLastError(const Word* args);
Word Socket(const Word* args);
Word SetSockOpt(const Word* args);
Word WSAIoctl(const Word* args);
Word SendTo(const Word* args);
Word RecvFrom(const Word* args);
Word CloseSocket(const Word* args);
Word GetTickCount(const Word* args);
Word Sleep(const Word* args);

// dnsapi's DNS-SD over avahi-daemon.
Word DnsServiceBrowse(const Word* args);
Word DnsServiceBrowseCancel(const Word* args);
Word DnsServiceResolve(const Word* args);
Word DnsServiceResolveCancel(const Word* args);
Word DnsServiceFreeInstance(const Word* args);
Word DnsRecordListFree(const Word* args);

}  // namespace tessel::posix
