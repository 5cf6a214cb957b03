#include "one_shot_query.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "tessel/discovery/dns_message.h"
#include "tessel/runtime/dll_commands.h"
#include "tessel/runtime/services.h"
#include "tessel/runtime/windows_network.h"

namespace tessel::discovery {

namespace {

namespace ws = winsock;

constexpr std::uint8_t kMdnsGroup[4] = {224, 0, 0, 251};
constexpr std::uint16_t kMdnsPort = 5353;
constexpr std::uint32_t kMulticastTtl = 255;
constexpr std::uint32_t kMaxInterfaces = 32;
constexpr std::uint32_t kMaxAnswer = 9000;  // an mDNS message fits a jumbo frame at most

Word Ptr(const void* p) {
    return reinterpret_cast<Word>(p);
}
Word Dll(std::uint32_t index, std::initializer_list<Word> args) {
    return CallDll(index, std::span<const Word>(args.begin(), args.size()));
}
// The int a Winsock function answers (SOCKET_ERROR is -1 whatever the word's width).
std::int32_t Int(Word w) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(w));
}

bool SetOption(Word socket, std::uint32_t level, std::uint32_t name, const void* value,
               std::uint32_t size) {
    return Int(Dll(dll::kSetSockOpt, {socket, level, name, Ptr(value), size})) == 0;
}

std::uint16_t Port(const ws::SockAddrIn& a) {
    return static_cast<std::uint16_t>(a.port[0] << 8 | a.port[1]);
}

}  // namespace

OneShotQuery::~OneShotQuery() {
    if (open_) Dll(dll::kCloseSocket, {socket_});
    if (started_) Dll(dll::kWSACleanup, {});
}

bool OneShotQuery::Send() {
    std::vector<std::uint8_t> wsaData(ws::kWsaDataSize + 64);
    if (!started_) {
        if (Dll(dll::kWSAStartup, {ws::kVersion22, Ptr(wsaData.data())}) != 0) return false;
        started_ = true;
    }
    if (!open_) {
        socket_ = Dll(dll::kSocket, {ws::kAfInet, ws::kSockDgram, ws::kIpProtoUdp});
        if (static_cast<std::uint32_t>(socket_) == ws::kInvalidSocket) return false;
        open_ = true;
        // The first sendto binds an ephemeral port, never 5353: the answers come back to it by
        // unicast, whichever interface asked.
        const std::uint32_t ttl = kMulticastTtl;
        SetOption(socket_, ws::kIpProtoIp, ws::kIpMulticastTtl, &ttl, sizeof ttl);
    }

    std::vector<ws::InterfaceInfo> interfaces(kMaxInterfaces);
    std::uint32_t bytes = 0;  // a DWORD
    const auto listed =
        Int(Dll(dll::kWSAIoctl, {socket_, ws::kSioGetInterfaceList, 0, 0, Ptr(interfaces.data()),
                                 static_cast<Word>(interfaces.size() * sizeof(ws::InterfaceInfo)),
                                 Ptr(&bytes), 0, 0}));
    if (listed != 0) return false;
    interfaces.resize(std::min<std::size_t>(bytes / sizeof(ws::InterfaceInfo), kMaxInterfaces));

    const auto query = CatalogueQuery();
    ws::SockAddrIn group{};
    group.family = ws::kAfInet;
    group.port[0] = kMdnsPort >> 8;
    group.port[1] = kMdnsPort & 0xFF;
    std::memcpy(group.address, kMdnsGroup, 4);

    bool sent = false;
    for (const auto& i : interfaces) {
        // Without a chosen interface the send fails where there is no default route; loopback
        // reaches no other host.
        const bool usable = (i.flags & ws::kIffUp) != 0 && (i.flags & ws::kIffMulticast) != 0 &&
                            (i.flags & ws::kIffLoopback) == 0 && i.address.family == ws::kAfInet;
        if (!usable) continue;
        if (!SetOption(socket_, ws::kIpProtoIp, ws::kIpMulticastIf, i.address.address, 4)) continue;
        const auto n = Int(Dll(dll::kSendTo, {socket_, Ptr(query.data()), query.size(), 0,
                                              Ptr(&group), sizeof group}));
        sent = sent || n == static_cast<std::int32_t>(query.size());
    }
    return sent;
}

std::string OneShotQuery::Receive(std::uint32_t waitMs) {
    if (!open_) return {};
    const std::uint32_t start = static_cast<std::uint32_t>(Dll(dll::kGetTickCount, {}));
    std::vector<std::uint8_t> answer(kMaxAnswer);
    for (;;) {
        const std::uint32_t spent = static_cast<std::uint32_t>(Dll(dll::kGetTickCount, {})) - start;
        if (spent >= waitMs) return {};
        // A time-out of 0 would mean none at all.
        const std::uint32_t timeout = waitMs - spent;
        SetOption(socket_, ws::kSolSocket, ws::kSoRcvTimeo, &timeout, sizeof timeout);
        ws::SockAddrIn from{};
        std::int32_t fromSize = sizeof from;
        const auto n = Int(Dll(dll::kRecvFrom, {socket_, Ptr(answer.data()), answer.size(), 0,
                                                Ptr(&from), Ptr(&fromSize)}));
        if (n == ws::kSocketError) {
            const auto error = static_cast<std::uint32_t>(Dll(dll::kWSAGetLastError, {}));
            // A message longer than the buffer is no mDNS answer; a reset reports an earlier
            // send that found no one. Anything else ends the wait.
            if (error == ws::kWsaEMsgSize || error == ws::kWsaEConnReset) continue;
            return {};
        }
        // Responses from any port but 5353 are not mDNS and are ignored.
        if (Port(from) != kMdnsPort) continue;
        const auto found = ParseCatalogueAnswer(
            std::span<const std::uint8_t>(answer.data(), static_cast<std::size_t>(n)));
        if (!found.empty()) return AddressText(found.front().address, found.front().port);
    }
}

}  // namespace tessel::discovery
