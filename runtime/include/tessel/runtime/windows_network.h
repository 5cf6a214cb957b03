#pragma once
// The numbers and layouts of the Windows network functions the program declares (Winsock and
// DNS-SD), as the program passes them; the native stand-ins translate them. Every layout is
// made of words and pointers, so it is the Windows one on the 32-bit target and keeps the same
// shape natively.
#include <cstddef>
#include <cstdint>

// Functions the system calls back. On the 32-bit target they take the system's stdcall
// convention; other targets have only the one convention.
#if defined(__i386__)
#define TESSEL_SYSTEM_CALLBACK __attribute__((stdcall))
#else
#define TESSEL_SYSTEM_CALLBACK
#endif

namespace tessel::winsock {

constexpr std::uint32_t kVersion22 = 0x0202;
constexpr std::uint32_t kWsaDataSize = 400;  // WSADATA on the 32-bit target
constexpr std::uint32_t kAfInet = 2;
constexpr std::uint32_t kSockDgram = 2;
constexpr std::uint32_t kIpProtoIp = 0;
constexpr std::uint32_t kIpProtoUdp = 17;
constexpr std::uint32_t kSolSocket = 0xFFFF;
constexpr std::uint32_t kSoRcvTimeo = 0x1006;  // a DWORD of milliseconds
constexpr std::uint32_t kIpMulticastIf = 9;    // an IN_ADDR
constexpr std::uint32_t kIpMulticastTtl = 10;  // a DWORD
constexpr std::uint32_t kSioGetInterfaceList = 0x4004747F;
constexpr std::int32_t kSocketError = -1;
constexpr std::uint32_t kInvalidSocket = 0xFFFFFFFF;  // as its low 32 bits
constexpr std::uint32_t kWsaEFault = 10014;
constexpr std::uint32_t kWsaEInval = 10022;
constexpr std::uint32_t kWsaEMsgSize = 10040;
constexpr std::uint32_t kWsaENoProtoOpt = 10042;
constexpr std::uint32_t kWsaEConnReset = 10054;
constexpr std::uint32_t kWsaETimedOut = 10060;
// INTERFACE_INFO's iiFlags.
constexpr std::uint32_t kIffUp = 0x1;
constexpr std::uint32_t kIffBroadcast = 0x2;
constexpr std::uint32_t kIffLoopback = 0x4;
constexpr std::uint32_t kIffPointToPoint = 0x8;
constexpr std::uint32_t kIffMulticast = 0x10;

// SOCKADDR_IN: the family in the machine's order, port and address in network order.
struct SockAddrIn {
    std::uint16_t family;
    std::uint8_t port[2];
    std::uint8_t address[4];
    std::uint8_t zero[8];
};
static_assert(sizeof(SockAddrIn) == 16);

// INTERFACE_INFO: each address is a sockaddr_gen, 24 bytes, of which a SOCKADDR_IN is the start.
struct InterfaceInfo {
    std::uint32_t flags;
    SockAddrIn address;
    std::uint8_t addressRest[8];
    SockAddrIn broadcast;
    std::uint8_t broadcastRest[8];
    SockAddrIn netmask;
    std::uint8_t netmaskRest[8];
};
static_assert(sizeof(InterfaceInfo) == 76);

}  // namespace tessel::winsock

namespace tessel::dnssd {

constexpr std::uint32_t kRequestPending = 9506;  // DNS_REQUEST_PENDING: the answer comes later
constexpr std::uint32_t kQueryRequestVersion1 = 1;
constexpr std::uint32_t kFreeRecordList = 1;  // DnsFreeRecordList
constexpr std::uint16_t kTypeA = 1;
constexpr std::uint16_t kTypePtr = 12;

// DNS_RECORDW, with the record data the program reads.
struct Record {
    Record* next;
    char16_t* name;
    std::uint16_t type;
    std::uint16_t dataLength;
    std::uint32_t flags;
    std::uint32_t ttl;
    std::uint32_t reserved;
    union {
        char16_t* ptrNameHost;  // DNS_PTR_DATAW
        std::uint32_t a;        // DNS_A_DATA, network order
        void* largest[4];       // the union is larger than what is read of it
    } data;
};

// DNS_SERVICE_INSTANCE.
struct ServiceInstance {
    char16_t* instanceName;
    char16_t* hostName;
    std::uint32_t* ip4Address;  // network order
    void* ip6Address;
    std::uint16_t port;
    std::uint16_t priority;
    std::uint16_t weight;
    std::uint32_t propertyCount;
    char16_t** keys;
    char16_t** values;
    std::uint32_t interfaceIndex;
};

struct Cancel {
    void* reserved;
};

using BrowseCallback = void(TESSEL_SYSTEM_CALLBACK*)(std::uint32_t status, void* context,
                                                     Record* records);
using ResolveCallback = void(TESSEL_SYSTEM_CALLBACK*)(std::uint32_t status, void* context,
                                                      ServiceInstance* instance);

struct BrowseRequest {  // DNS_SERVICE_BROWSE_REQUEST, version 1
    std::uint32_t version;
    std::uint32_t interfaceIndex;
    const char16_t* queryName;
    BrowseCallback callback;
    void* context;
};

struct ResolveRequest {  // DNS_SERVICE_RESOLVE_REQUEST
    std::uint32_t version;
    std::uint32_t interfaceIndex;
    char16_t* queryName;
    ResolveCallback callback;
    void* context;
};

// The 32-bit Windows layouts, where pointers are 32 bits.
static_assert(sizeof(void*) != 4 || offsetof(Record, data) == 24);
static_assert(sizeof(void*) != 4 || offsetof(ServiceInstance, propertyCount) == 24);
static_assert(sizeof(void*) != 4 || sizeof(ServiceInstance) == 40);
static_assert(sizeof(void*) != 4 || sizeof(BrowseRequest) == 20);
static_assert(sizeof(void*) != 4 || sizeof(ResolveRequest) == 20);

}  // namespace tessel::dnssd
