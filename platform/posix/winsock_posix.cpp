// Winsock over Linux sockets: the program's Windows numbers and layouts (windows_network.h)
// translated both ways. Only what the program uses: IPv4 UDP sockets, the options it sets and
// the interface list.
#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "standin_functions.h"
#include "tessel/runtime/windows_network.h"

namespace tessel::posix {

namespace {

namespace ws = winsock;

thread_local std::uint32_t t_lastError = 0;

Word Failed(std::uint32_t error) {
    t_lastError = error;
    return static_cast<Word>(static_cast<std::uint32_t>(ws::kSocketError));
}

std::uint32_t WinsockError(int error) {
    switch (error) {
        case EAGAIN:
            return ws::kWsaETimedOut;  // a receive time-out
        case EFAULT:
            return ws::kWsaEFault;
        case EMSGSIZE:
            return ws::kWsaEMsgSize;
        case ECONNREFUSED:
            return ws::kWsaEConnReset;
        default:
            return ws::kWsaEInval;
    }
}

int Fd(Word socket) {
    return static_cast<int>(socket);
}

sockaddr_in Native(const ws::SockAddrIn& a) {
    sockaddr_in n{};
    n.sin_family = AF_INET;
    std::memcpy(&n.sin_port, a.port, 2);
    std::memcpy(&n.sin_addr, a.address, 4);
    return n;
}

ws::SockAddrIn Windows(const sockaddr_in& n) {
    ws::SockAddrIn a{};
    a.family = ws::kAfInet;
    std::memcpy(a.port, &n.sin_port, 2);
    std::memcpy(a.address, &n.sin_addr, 4);
    return a;
}

std::uint32_t WindowsFlags(unsigned flags) {
    std::uint32_t w = 0;
    if (flags & IFF_UP) w |= ws::kIffUp;
    if (flags & IFF_BROADCAST) w |= ws::kIffBroadcast;
    if (flags & IFF_LOOPBACK) w |= ws::kIffLoopback;
    if (flags & IFF_POINTOPOINT) w |= ws::kIffPointToPoint;
    if (flags & IFF_MULTICAST) w |= ws::kIffMulticast;
    return w;
}

void PutAddress(ws::SockAddrIn& to, const sockaddr* from) {
    if (from != nullptr && from->sa_family == AF_INET)
        to = Windows(*reinterpret_cast<const sockaddr_in*>(from));
}

// SIO_GET_INTERFACE_LIST: one INTERFACE_INFO per IPv4 address.
Word InterfaceList(void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return Failed(ws::kWsaEInval);
    std::uint32_t count = 0;
    bool fits = true;
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        if ((count + 1) * sizeof(ws::InterfaceInfo) > outSize) {
            fits = false;
            break;
        }
        ws::InterfaceInfo info{};
        info.flags = WindowsFlags(i->ifa_flags);
        PutAddress(info.address, i->ifa_addr);
        PutAddress(info.netmask, i->ifa_netmask);
        if (i->ifa_flags & IFF_BROADCAST) PutAddress(info.broadcast, i->ifa_broadaddr);
        std::memcpy(static_cast<std::uint8_t*>(out) + count * sizeof info, &info, sizeof info);
        ++count;
    }
    freeifaddrs(list);
    if (!fits) return Failed(ws::kWsaEFault);
    if (bytesReturned != nullptr) *bytesReturned = count * sizeof(ws::InterfaceInfo);
    return 0;
}

}  // namespace

Word WSAStartup(const Word*) {
    return 0;
}
Word WSACleanup(const Word*) {
    return 0;
}
Word WSAGetLastError(const Word*) {
    return t_lastError;
}

Word Socket(const Word* args) {
    if (args[0] != ws::kAfInet || args[1] != ws::kSockDgram ||
        (args[2] != 0 && args[2] != ws::kIpProtoUdp)) {
        t_lastError = ws::kWsaEInval;
        return static_cast<Word>(~Word{0});
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        t_lastError = WinsockError(errno);
        return static_cast<Word>(~Word{0});
    }
    return static_cast<Word>(fd);
}

Word SetSockOpt(const Word* args) {
    const int fd = Fd(args[0]);
    const auto level = static_cast<std::uint32_t>(args[1]);
    const auto name = static_cast<std::uint32_t>(args[2]);
    const auto* value = reinterpret_cast<const std::uint8_t*>(args[3]);
    const auto size = static_cast<std::uint32_t>(args[4]);
    if (value == nullptr || size < 4) return Failed(ws::kWsaEFault);
    std::uint32_t word = 0;
    std::memcpy(&word, value, 4);
    int rc = -1;
    if (level == ws::kSolSocket && name == ws::kSoRcvTimeo) {
        // Winsock's DWORD of milliseconds (0: no time-out) is a timeval here.
        const timeval tv{static_cast<time_t>(word / 1000),
                         static_cast<suseconds_t>(word % 1000 * 1000)};
        rc = setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    } else if (level == ws::kIpProtoIp && name == ws::kIpMulticastIf) {
        in_addr address{};
        std::memcpy(&address, value, 4);
        rc = setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address);
    } else if (level == ws::kIpProtoIp && name == ws::kIpMulticastTtl) {
        const int ttl = static_cast<int>(word);
        rc = setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    } else {
        return Failed(ws::kWsaENoProtoOpt);
    }
    return rc == 0 ? 0 : Failed(WinsockError(errno));
}

Word WSAIoctl(const Word* args) {
    if (static_cast<std::uint32_t>(args[1]) != ws::kSioGetInterfaceList || args[4] == 0)
        return Failed(ws::kWsaEInval);
    return InterfaceList(reinterpret_cast<void*>(args[4]), static_cast<std::uint32_t>(args[5]),
                         reinterpret_cast<std::uint32_t*>(args[6]));
}

Word SendTo(const Word* args) {
    const auto* to = reinterpret_cast<const ws::SockAddrIn*>(args[4]);
    if (to == nullptr || args[5] < sizeof *to) return Failed(ws::kWsaEFault);
    const sockaddr_in native = Native(*to);
    const ssize_t n = ::sendto(Fd(args[0]), reinterpret_cast<const void*>(args[1]),
                               static_cast<std::size_t>(args[2]), MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&native), sizeof native);
    return n < 0 ? Failed(WinsockError(errno)) : static_cast<Word>(n);
}

Word RecvFrom(const Word* args) {
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    // MSG_TRUNC: a datagram longer than the buffer is reported as Winsock does, not cut short.
    const std::size_t size = static_cast<std::size_t>(args[2]);
    const ssize_t n = ::recvfrom(Fd(args[0]), reinterpret_cast<void*>(args[1]), size, MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&from), &fromSize);
    if (n < 0) return Failed(WinsockError(errno));
    if (static_cast<std::size_t>(n) > size) return Failed(ws::kWsaEMsgSize);
    auto* out = reinterpret_cast<ws::SockAddrIn*>(args[4]);
    auto* outSize = reinterpret_cast<std::int32_t*>(args[5]);
    if (out != nullptr && outSize != nullptr &&
        *outSize >= static_cast<std::int32_t>(sizeof *out)) {
        *out = Windows(from);
        *outSize = sizeof *out;
    }
    return static_cast<Word>(n);
}

Word CloseSocket(const Word* args) {
    return ::close(Fd(args[0])) == 0 ? 0 : Failed(ws::kWsaEInval);
}

Word GetTickCount(const Word*) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000 +
                                      static_cast<std::uint64_t>(now.tv_nsec) / 1000000);
}

Word Sleep(const Word* args) {
    const auto ms = static_cast<std::uint32_t>(args[0]);
    timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
    return 0;
}

}  // namespace tessel::posix
