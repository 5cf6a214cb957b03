// FindCatalogue's calls, against a system faked behind the DLL-command service: Windows 10's
// DNS-SD that calls back, Wine's that never does, an older Windows without it; and Winsock with
// a clock that moves only as the program waits.
#include "tessel/discovery/find_catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "answer_builder.h"
#include "recording_services.h"
#include "tessel/discovery/dns_message.h"
#include "tessel/runtime/dll_commands.h"
#include "tessel/runtime/windows_network.h"

namespace tessel::discovery {
namespace {

namespace ws = winsock;
using tessel::testing::RecordingServices;
using testing::AvahiAnswer;
using testing::Bytes;

enum class DnsSd { kMissing, kSilent, kAnswers };

struct Sent {
    std::uint32_t interfaceAddress;  // IP_MULTICAST_IF when sent, first octet high
    ws::SockAddrIn to;
    Bytes message;
};

std::uint32_t Address(const std::uint8_t* b) {
    return std::uint32_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3];
}

class FakeSystem {
  public:
    explicit FakeSystem(RecordingServices& r) {
        r.onDll = [this](std::uint32_t index, const std::vector<Word>& a) {
            return Call(index, a);
        };
    }

    DnsSd dnsSd = DnsSd::kSilent;
    Bytes answer;  // what the query's port receives once, when not empty
    std::vector<std::u16string> txtKeys = {u"txtvers", u"path"};
    std::vector<std::u16string> txtValues = {u"1", u"/tessel/"};
    std::vector<ws::InterfaceInfo> interfaces;

    std::uint32_t now = 1000;
    std::uint32_t ttl = 0, multicastIf = 0, timeoutMs = 0;
    std::vector<Sent> sent;
    int browseCancels = 0, resolves = 0, closed = 0, cleanups = 0;
    std::vector<Word> freedRecords, freedInstances;

    void AddInterface(std::uint32_t flags, std::uint32_t address) {
        ws::InterfaceInfo i{};
        i.flags = flags;
        i.address.family = ws::kAfInet;
        for (int k = 0; k < 4; ++k)
            i.address.address[k] = static_cast<std::uint8_t>(address >> (24 - 8 * k));
        interfaces.push_back(i);
    }

  private:
    dnssd::BrowseRequest browse_{};
    dnssd::ResolveRequest resolve_{};
    bool browsePending_ = false, resolvePending_ = false;
    dnssd::Record record_{};
    std::u16string instanceName_;
    dnssd::ServiceInstance instance_{};
    std::uint32_t ip4_ = 0x094DFEA9;  // 169.254.77.9 in network order, as IP4_ADDRESS
    std::vector<char16_t*> keys_, values_;
    std::uint32_t lastError_ = 0;

    // The system's own threads, here run while the program waits.
    void CallBack() {
        if (browsePending_) {
            browsePending_ = false;
            instanceName_ = u"Tessel on C._tessel._tcp.local";
            record_.type = dnssd::kTypePtr;
            record_.data.ptrNameHost = instanceName_.data();
            browse_.callback(0, browse_.context, &record_);
        }
        if (resolvePending_) {
            resolvePending_ = false;
            keys_.clear();
            values_.clear();
            for (auto& k : txtKeys) keys_.push_back(k.data());
            for (auto& v : txtValues) values_.push_back(v.data());
            instance_ = {};
            instance_.instanceName = instanceName_.data();
            instance_.ip4Address = &ip4_;
            instance_.port = 8000;
            instance_.propertyCount = static_cast<std::uint32_t>(keys_.size());
            instance_.keys = keys_.data();
            instance_.values = values_.data();
            resolve_.callback(0, resolve_.context, &instance_);
        }
    }

    Word Call(std::uint32_t index, const std::vector<Word>& a) {
        EXPECT_EQ(a.size(), dll::kTable[index].argCount) << dll::kTable[index].function;
        switch (index) {
            case dll::kGetTickCount:
                return now;
            case dll::kSleep:
                now += static_cast<std::uint32_t>(a[0]);
                if (dnsSd == DnsSd::kAnswers) CallBack();
                return 0;
            case dll::kWSAStartup:
                return 0;
            case dll::kWSACleanup:
                ++cleanups;
                return 0;
            case dll::kSocket:
                return 7;
            case dll::kCloseSocket:
                ++closed;
                return 0;
            case dll::kWSAGetLastError:
                return lastError_;
            case dll::kSetSockOpt: {
                std::uint32_t v = 0;
                std::memcpy(&v, reinterpret_cast<const void*>(a[3]), 4);
                if (a[1] == ws::kIpProtoIp && a[2] == ws::kIpMulticastTtl) ttl = v;
                if (a[1] == ws::kIpProtoIp && a[2] == ws::kIpMulticastIf)
                    multicastIf = Address(reinterpret_cast<const std::uint8_t*>(a[3]));
                if (a[1] == ws::kSolSocket && a[2] == ws::kSoRcvTimeo) timeoutMs = v;
                return 0;
            }
            case dll::kWSAIoctl: {
                EXPECT_EQ(a[1], ws::kSioGetInterfaceList);
                const std::size_t bytes = interfaces.size() * sizeof(ws::InterfaceInfo);
                if (bytes > a[5]) return static_cast<Word>(-1);
                std::memcpy(reinterpret_cast<void*>(a[4]), interfaces.data(), bytes);
                *reinterpret_cast<std::uint32_t*>(a[6]) = static_cast<std::uint32_t>(bytes);
                return 0;
            }
            case dll::kSendTo: {
                const auto* p = reinterpret_cast<const std::uint8_t*>(a[1]);
                sent.push_back({multicastIf, *reinterpret_cast<const ws::SockAddrIn*>(a[4]),
                                Bytes(p, p + a[2])});
                return a[2];
            }
            case dll::kRecvFrom: {
                if (dnsSd == DnsSd::kAnswers) CallBack();
                if (answer.empty() || a[2] < answer.size()) {
                    now += timeoutMs;
                    lastError_ = ws::kWsaETimedOut;
                    return static_cast<Word>(-1);
                }
                std::memcpy(reinterpret_cast<void*>(a[1]), answer.data(), answer.size());
                ws::SockAddrIn from{};
                from.family = ws::kAfInet;
                from.port[0] = 5353 >> 8;
                from.port[1] = 5353 & 0xFF;
                *reinterpret_cast<ws::SockAddrIn*>(a[4]) = from;
                const Word n = answer.size();
                answer.clear();
                return n;
            }
            case dll::kDnsServiceBrowse:
                if (dnsSd == DnsSd::kMissing) return dll::kMissingFunction;
                browse_ = *reinterpret_cast<const dnssd::BrowseRequest*>(a[0]);
                EXPECT_EQ(std::u16string(browse_.queryName), u"_tessel._tcp.local");
                browsePending_ = true;
                return dnssd::kRequestPending;
            case dll::kDnsServiceBrowseCancel:
                ++browseCancels;
                browsePending_ = false;
                return 0;
            case dll::kDnsServiceResolve:
                ++resolves;
                resolve_ = *reinterpret_cast<const dnssd::ResolveRequest*>(a[0]);
                EXPECT_EQ(std::u16string(resolve_.queryName), instanceName_);
                resolvePending_ = true;
                return dnssd::kRequestPending;
            case dll::kDnsServiceResolveCancel:
                resolvePending_ = false;
                return 0;
            case dll::kDnsRecordListFree:
                freedRecords.push_back(a[0]);
                return 0;
            case dll::kDnsServiceFreeInstance:
                freedInstances.push_back(a[0]);
                return 0;
            default:
                ADD_FAILURE() << "unexpected " << dll::kTable[index].function;
                return 0;
        }
    }
};

class FindCatalogueCalls : public ::testing::Test {
  protected:
    FindCatalogueCalls() {
        system.AddInterface(ws::kIffUp | ws::kIffMulticast | ws::kIffLoopback, 0x7F000001);
        system.AddInterface(ws::kIffMulticast | ws::kIffBroadcast, 0x0A000001);  // down
        system.AddInterface(ws::kIffUp | ws::kIffBroadcast, 0xC0A80001);         // no multicast
        system.AddInterface(ws::kIffUp | ws::kIffBroadcast | ws::kIffMulticast, 0xA9FE4D02);
    }
    std::string Find(std::uint32_t boundMs) { return std::string(FindCatalogue(boundMs).view()); }

    RecordingServices services;
    FakeSystem system{services};
};

TEST_F(FindCatalogueCalls, UnderWineTheQueryAnswersWhileTheSilentBrowseIsCancelled) {
    system.dnsSd = DnsSd::kSilent;
    system.answer = AvahiAnswer();
    EXPECT_EQ(Find(1500), "169.254.77.1:8765");
    // Asked once, on the one interface that reaches the LAN by multicast, of the mDNS group.
    ASSERT_EQ(system.sent.size(), 1u);
    EXPECT_EQ(system.sent[0].interfaceAddress, 0xA9FE4D02u);
    EXPECT_EQ(Address(system.sent[0].to.address), 0xE00000FBu);
    EXPECT_EQ(system.sent[0].to.port[0] << 8 | system.sent[0].to.port[1], 5353);
    EXPECT_EQ(system.sent[0].message, CatalogueQuery());
    EXPECT_EQ(system.ttl, 255u);
    EXPECT_EQ(system.browseCancels, 1);
    EXPECT_EQ(system.closed, 1);
    EXPECT_EQ(system.cleanups, 1);
}

TEST_F(FindCatalogueCalls, OnWindows10TheBrowsedInstanceIsResolvedAndWhatItHandedOverFreed) {
    system.dnsSd = DnsSd::kAnswers;
    EXPECT_EQ(Find(1500), "169.254.77.9:8000");
    EXPECT_EQ(system.resolves, 1);
    EXPECT_EQ(system.freedRecords.size(), 1u);
    EXPECT_EQ(system.freedInstances.size(), 1u);
    EXPECT_EQ(system.browseCancels, 1);
}

TEST_F(FindCatalogueCalls, AResolvedInstanceWithoutTheCataloguePathIsPassedOver) {
    system.dnsSd = DnsSd::kAnswers;
    system.txtValues = {u"1", u"/other/"};
    const std::uint32_t start = system.now;
    EXPECT_EQ(Find(1500), "");
    // The whole bound was waited, no more than a slice beyond it, and the query asked twice.
    EXPECT_GE(system.now - start, 1500u);
    EXPECT_LE(system.now - start, 1560u);
    EXPECT_EQ(system.sent.size(), 2u);
    EXPECT_EQ(system.browseCancels, 1);
    EXPECT_EQ(system.freedInstances.size(), 1u);
}

TEST_F(FindCatalogueCalls, WhereDnsSdIsMissingTheQueryAloneServesAndNothingIsCancelled) {
    system.dnsSd = DnsSd::kMissing;
    system.answer = AvahiAnswer();
    EXPECT_EQ(Find(1500), "169.254.77.1:8765");
    EXPECT_EQ(system.browseCancels, 0);
}

TEST_F(FindCatalogueCalls, WithNoWayToAskTheAnswerIsEmptyAtOnce) {
    system.dnsSd = DnsSd::kMissing;
    system.interfaces.resize(1);  // loopback only
    const std::uint32_t start = system.now;
    EXPECT_EQ(Find(1500), "");
    EXPECT_TRUE(system.sent.empty());
    EXPECT_EQ(system.now, start);
}

}  // namespace
}  // namespace tessel::discovery
