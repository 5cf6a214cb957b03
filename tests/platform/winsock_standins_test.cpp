// The Winsock stand-ins natively: what the program's one-shot query relies on, against Linux
// sockets on loopback. Buffers the program hands over are never written past, and a datagram
// longer than the buffer is an error, not a shortened answer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "tessel/posix/standins.h"
#include "tessel/runtime/windows_network.h"

namespace tessel {
namespace {

namespace ws = winsock;

std::int32_t Call(const char* function, std::initializer_list<Word> args) {
    const posix::StandIn* s = posix::FindStandIn(function);
    EXPECT_NE(s, nullptr) << function;
    EXPECT_EQ(s->argCount, args.size()) << function;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(s->call(std::data(args))));
}
std::uint32_t LastError() {
    return static_cast<std::uint32_t>(Call("WSAGetLastError", {}));
}
Word Ptr(const void* p) {
    return reinterpret_cast<Word>(p);
}

class WinsockStandIns : public ::testing::Test {
  protected:
    void SetUp() override {
        socket_ = Call("socket", {ws::kAfInet, ws::kSockDgram, ws::kIpProtoUdp});
        ASSERT_GE(socket_, 0);
    }
    void TearDown() override { Call("closesocket", {static_cast<Word>(socket_)}); }
    std::int32_t socket_ = -1;
};

TEST_F(WinsockStandIns, TheInterfaceListNeverRunsPastTheBufferItIsGiven) {
    std::vector<std::uint8_t> buffer(sizeof(ws::InterfaceInfo) * 64, 0xAB);
    std::uint32_t bytes = 12345;
    // Room for less than one entry: refused, and not a byte written.
    EXPECT_EQ(
        Call("WSAIoctl", {static_cast<Word>(socket_), ws::kSioGetInterfaceList, 0, 0,
                          Ptr(buffer.data()), sizeof(ws::InterfaceInfo) - 1, Ptr(&bytes), 0, 0}),
        ws::kSocketError);
    EXPECT_EQ(LastError(), ws::kWsaEFault);
    for (const std::uint8_t b : buffer) ASSERT_EQ(b, 0xAB);

    ASSERT_EQ(Call("WSAIoctl", {static_cast<Word>(socket_), ws::kSioGetInterfaceList, 0, 0,
                                Ptr(buffer.data()), buffer.size(), Ptr(&bytes), 0, 0}),
              0);
    ASSERT_EQ(bytes % sizeof(ws::InterfaceInfo), 0u);
    bool loopback = false;
    for (std::size_t at = 0; at < bytes; at += sizeof(ws::InterfaceInfo)) {
        ws::InterfaceInfo i;
        std::memcpy(&i, buffer.data() + at, sizeof i);
        const std::uint8_t local[4] = {127, 0, 0, 1};
        if (std::memcmp(i.address.address, local, 4) == 0)
            loopback =
                i.flags == (ws::kIffUp | ws::kIffLoopback) && i.address.family == ws::kAfInet;
    }
    EXPECT_TRUE(loopback) << "127.0.0.1 is not listed as an interface that is up and loopback";
}

TEST_F(WinsockStandIns, ADatagramLongerThanTheBufferIsAnErrorAndTheNextOneComesWhole) {
    // The stand-in's socket is a Linux one: bound here, as the first sendto would bind it.
    sockaddr_in own{};
    own.sin_family = AF_INET;
    own.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof own;
    ASSERT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&own), sizeof own), 0);
    ASSERT_EQ(getsockname(socket_, reinterpret_cast<sockaddr*>(&own), &size), 0);
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(sender, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    size = sizeof from;
    ASSERT_EQ(getsockname(sender, reinterpret_cast<sockaddr*>(&from), &size), 0);
    const std::vector<std::uint8_t> datagram(100, 7);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(sendto(sender, datagram.data(), datagram.size(), 0,
                         reinterpret_cast<sockaddr*>(&own), sizeof own),
                  100);
    }
    const std::uint32_t timeoutMs = 2000;
    Call("setsockopt",
         {static_cast<Word>(socket_), ws::kSolSocket, ws::kSoRcvTimeo, Ptr(&timeoutMs), 4});

    std::vector<std::uint8_t> small(10, 0), whole(200, 0);
    ws::SockAddrIn source{};
    std::int32_t sourceSize = sizeof source;
    EXPECT_EQ(Call("recvfrom", {static_cast<Word>(socket_), Ptr(small.data()), small.size(), 0,
                                Ptr(&source), Ptr(&sourceSize)}),
              ws::kSocketError);
    EXPECT_EQ(LastError(), ws::kWsaEMsgSize);
    EXPECT_EQ(Call("recvfrom", {static_cast<Word>(socket_), Ptr(whole.data()), whole.size(), 0,
                                Ptr(&source), Ptr(&sourceSize)}),
              100);
    EXPECT_EQ(std::vector<std::uint8_t>(whole.begin(), whole.begin() + 100), datagram);
    EXPECT_EQ(sourceSize, 16);
    EXPECT_EQ(source.family, ws::kAfInet);
    EXPECT_EQ(std::memcmp(source.port, &from.sin_port, 2), 0);
    close(sender);
}

TEST_F(WinsockStandIns, AReceiveTimeOutInMillisecondsEndsTheWait) {
    sockaddr_in own{};
    own.sin_family = AF_INET;
    own.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&own), sizeof own), 0);
    const std::uint32_t timeoutMs = 50;
    ASSERT_EQ(Call("setsockopt", {static_cast<Word>(socket_), ws::kSolSocket, ws::kSoRcvTimeo,
                                  Ptr(&timeoutMs), 4}),
              0);
    std::vector<std::uint8_t> buffer(64);
    EXPECT_EQ(
        Call("recvfrom", {static_cast<Word>(socket_), Ptr(buffer.data()), buffer.size(), 0, 0, 0}),
        ws::kSocketError);
    EXPECT_EQ(LastError(), ws::kWsaETimedOut);
}

}  // namespace
}  // namespace tessel
