// Where the requests go when bc.ini names no catalogue: the local one first, then one found on
// the local network, kept for the run; and what the status bar says when none answers. The
// network is faked behind the DLL-command service (a Winsock whose one interface reaches a LAN
// with or without a catalogue on it, on a Windows without DNS-SD); every other DLL command goes
// to the stand-ins as usual.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "../discovery/answer_builder.h"
#include "app_fixture.h"
#include "tessel/app/search.h"
#include "tessel/app/tags.h"
#include "tessel/runtime/dll_commands.h"
#include "tessel/runtime/windows_network.h"

namespace tessel::testing {
namespace {

namespace ws = winsock;
using namespace tessel::app;

// The LAN as the program's Winsock sees it. Time moves only as the program waits.
class FakeLan {
  public:
    FakeLan() : previous_(&Services()), original_(Services()), table_(Services()) {
        current_ = this;
        table_.dllCommand = &Dll;
        InstallServices(&table_);
    }
    ~FakeLan() {
        InstallServices(previous_);
        current_ = nullptr;
    }
    FakeLan(const FakeLan&) = delete;
    FakeLan& operator=(const FakeLan&) = delete;

    // A catalogue announced on the LAN at 127.0.0.1:port (0: none).
    void Announce(std::uint16_t port) { port_ = port; }
    int looks = 0;  // sockets opened to look on the network

  private:
    static Word Dll(std::uint32_t index, std::uint32_t argCount, const Word* args) {
        return current_->Call(index, argCount, args);
    }

    Word Call(std::uint32_t index, std::uint32_t argCount, const Word* a) {
        switch (index) {
            case dll::kGetTickCount:
                return now_;
            case dll::kSleep:
                now_ += static_cast<std::uint32_t>(a[0]);
                return 0;
            case dll::kWSAStartup:
            case dll::kWSACleanup:
            case dll::kCloseSocket:
                return 0;
            case dll::kSocket:
                ++looks;
                return 7;
            case dll::kWSAGetLastError:
                return ws::kWsaETimedOut;
            case dll::kSetSockOpt:
                if (a[1] == ws::kSolSocket && a[2] == ws::kSoRcvTimeo)
                    std::memcpy(&timeoutMs_, reinterpret_cast<const void*>(a[3]), 4);
                return 0;
            case dll::kWSAIoctl: {
                ws::InterfaceInfo lan{};
                lan.flags = ws::kIffUp | ws::kIffBroadcast | ws::kIffMulticast;
                lan.address.family = ws::kAfInet;
                const std::uint8_t address[4] = {169, 254, 77, 2};
                std::memcpy(lan.address.address, address, 4);
                std::memcpy(reinterpret_cast<void*>(a[4]), &lan, sizeof lan);
                *reinterpret_cast<std::uint32_t*>(a[6]) = sizeof lan;
                return 0;
            }
            case dll::kSendTo: {
                const auto* to = reinterpret_cast<const ws::SockAddrIn*>(a[4]);
                if (to->address[0] == 224 && to->address[3] == 251 &&
                    (to->port[0] << 8 | to->port[1]) == 5353) {
                    pending_ = port_ != 0;
                }
                return a[2];
            }
            case dll::kRecvFrom: {
                if (!pending_) {
                    now_ += timeoutMs_;
                    return static_cast<Word>(-1);
                }
                pending_ = false;
                discovery::testing::Options options;
                options.port = port_;
                options.address = 0x7F000001;
                const auto answer = discovery::testing::AvahiAnswer(options);
                std::memcpy(reinterpret_cast<void*>(a[1]), answer.data(), answer.size());
                ws::SockAddrIn from{};
                from.family = ws::kAfInet;
                from.port[0] = 5353 >> 8;
                from.port[1] = 5353 & 0xFF;
                *reinterpret_cast<ws::SockAddrIn*>(a[4]) = from;
                return answer.size();
            }
            case dll::kDnsServiceBrowse:
            case dll::kDnsServiceBrowseCancel:
            case dll::kDnsServiceResolve:
            case dll::kDnsServiceResolveCancel:
            case dll::kDnsServiceFreeInstance:
                return dll::kMissingFunction;  // a Windows older than 10
            default:
                return original_.dllCommand(index, argCount, a);
        }
    }

    static inline FakeLan* current_ = nullptr;
    const ServiceTable* previous_;
    ServiceTable original_;
    ServiceTable table_;
    std::uint16_t port_ = 0;
    bool pending_ = false;
    std::uint32_t now_ = 5000;
    std::uint32_t timeoutMs_ = 0;
};

// The catalogue's default address, 127.0.0.1:8765, held by a socket that does not listen: a
// local catalogue that is not there refuses the connection at once.
class NothingLocal {
  public:
    NothingLocal() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(8765);
        held_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NothingLocal() { close(fd_); }
    bool held() const { return held_; }

  private:
    int fd_ = -1;
    bool held_ = false;
};

class CatalogueLookupTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        lan = std::make_unique<FakeLan>();
    }
    void TearDown() override {
        lan.reset();
        household.reset();
        AppTest::TearDown();
    }
    // The household's catalogue: two collections, a song on every page asked for.
    void ServeHousehold() {
        household = std::make_unique<TestHttpServer>([](const ReceivedRequest& r) {
            if (r.Target() == "/tessel/music/collections/")
                return ServerResponse{
                    "200 OK", {}, CollectionsAnswer({{"客厅", "1"}, {"书房", "2"}})};
            return ServerResponse{"200 OK", {}, SongsAnswer(NumberedSongs(1, 1))};
        });
        ASSERT_TRUE(household->ok());
    }
    std::vector<std::string> Tags() {
        std::vector<std::string> names;
        for (const UnitRef copy : windows->copies) names.push_back(Utf8(windows->Unit(copy).text));
        return names;
    }
    void Search(const std::string& word) {
        SetUnitText(searchBox, Gbk(word).c_str());
        OnSearch();
    }
    std::string Pane(std::size_t n) { return Utf8(windows->Pane(n)); }

    std::unique_ptr<FakeLan> lan;
    std::unique_ptr<TestHttpServer> household;
};

TEST_F(CatalogueLookupTest, TheLocalCatalogueIsAskedFirstAndNoLookIsMade) {
    TestHttpServer local(
        [](const ReceivedRequest&) {
            return ServerResponse{"200 OK", {}, CollectionsAnswer({{"本机", "9"}})};
        },
        8765);
    if (!local.ok()) GTEST_SKIP() << "127.0.0.1:8765 is in use here";
    OnMainWindowCreated();
    EXPECT_EQ(Tags(), std::vector<std::string>{"本机"});
    EXPECT_EQ(lan->looks, 0);
    EXPECT_EQ(Pane(kStatePane), "状态：");
}

TEST_F(CatalogueLookupTest, ACatalogueOnTheNetworkServesTheRunAndBcIniIsNotWritten) {
    NothingLocal nothing;
    if (!nothing.held()) GTEST_SKIP() << "127.0.0.1:8765 is in use here";
    WriteSettings({"[保存目录]", "保存=/tmp/songs/"});
    const std::string settings = ReadSettings();
    ServeHousehold();
    lan->Announce(household->port());

    OnMainWindowCreated();
    EXPECT_EQ(Tags(), (std::vector<std::string>{"客厅", "书房"}));
    EXPECT_EQ(Pane(kStatePane), "状态：");
    EXPECT_EQ(Pane(kDownloadPane), "");
    EXPECT_EQ(lan->looks, 1);

    // Searches go to it without another look, even once another one is announced.
    lan->Announce(1);
    Search("中");
    EXPECT_EQ(windows->Rows().size(), 3u);
    EXPECT_EQ(Pane(kStatePane), "状态：搜索完成");
    EXPECT_EQ(lan->looks, 1);
    EXPECT_EQ(household->Requests().size(), 4u);  // the collections and three pages
    EXPECT_EQ(ReadSettings(), settings);
}

TEST_F(CatalogueLookupTest, WithNoneAnywhereTheBarSaysSoAndASearchLooksAgain) {
    NothingLocal nothing;
    if (!nothing.held()) GTEST_SKIP() << "127.0.0.1:8765 is in use here";
    OnMainWindowCreated();
    EXPECT_TRUE(Tags().empty());
    EXPECT_EQ(windows->Integer(songList, unit_property::kTop), 72);
    EXPECT_EQ(Pane(kStatePane), "状态：未找到曲库");
    EXPECT_EQ(Pane(kDownloadPane), "请启动 tessel-catalogue，或在 bc.ini 写入主机");
    EXPECT_EQ(lan->looks, 1);

    windows->Unit(songList).rows = {{"1", "old", "", "", ""}};
    Search("中");
    EXPECT_TRUE(windows->Rows().empty());
    EXPECT_EQ(Pane(kStatePane), "状态：未找到曲库");
    EXPECT_EQ(lan->looks, 2);

    // The household's catalogue comes up: the next search finds it, lists from it, and the
    // advice goes.
    ServeHousehold();
    lan->Announce(household->port());
    Search("中");
    EXPECT_EQ(windows->Rows().size(), 3u);
    EXPECT_EQ(Pane(kStatePane), "状态：搜索完成");
    EXPECT_EQ(Pane(kDownloadPane), "");
    EXPECT_EQ(lan->looks, 3);
    EXPECT_FALSE(std::filesystem::exists(directory / "bc.ini"));
}

TEST_F(CatalogueLookupTest, ACatalogueNamedInBcIniIsTheOnlyOneAsked) {
    // A port nobody listens on, named in bc.ini, while one is announced on the network.
    Serve([](const ReceivedRequest&) { return ServerResponse{}; });
    server.reset();
    ServeHousehold();
    lan->Announce(household->port());

    OnMainWindowCreated();
    EXPECT_TRUE(Tags().empty());
    EXPECT_EQ(Pane(kStatePane), "状态：曲库无应答");
    EXPECT_EQ(Pane(kDownloadPane), "请检查 bc.ini 中 [服务] 的 主机=");
    Search("中");
    EXPECT_TRUE(windows->Rows().empty());
    EXPECT_EQ(Pane(kStatePane), "状态：曲库无应答");
    EXPECT_EQ(lan->looks, 0);
    EXPECT_TRUE(household->Requests().empty());
}

TEST_F(CatalogueLookupTest, ALocalCatalogueThatAnswersBadlyIsNotLookedPast) {
    // Answers that are no lists are a catalogue's failure, not a missing catalogue.
    TestHttpServer local(
        [](const ReceivedRequest&) {
            return ServerResponse{"503 Service Unavailable", {}, "{\"status_code\":503}"};
        },
        8765);
    if (!local.ok()) GTEST_SKIP() << "127.0.0.1:8765 is in use here";
    ServeHousehold();
    lan->Announce(household->port());
    OnMainWindowCreated();
    EXPECT_TRUE(Tags().empty());
    EXPECT_EQ(Pane(kStatePane), "状态：");
    Search("中");
    EXPECT_EQ(Pane(kStatePane), "状态：搜索失败");
    EXPECT_EQ(Pane(kDownloadPane), "");
    EXPECT_EQ(lan->looks, 0);
    EXPECT_TRUE(household->Requests().empty());
}

}  // namespace
}  // namespace tessel::testing
