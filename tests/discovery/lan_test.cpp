// FindCatalogue end to end on a LAN of two hosts made inside this process: the test's thread is
// host B (where Tessel asks) and a responder thread is host A, each in a network namespace of
// its own, joined by a veth pair with link-local addresses. The responder is an mDNS responder
// of the test's own on 224.0.0.251:5353, answering the legacy-unicast query as Avahi does.
// Needs root (network namespaces): otherwise it exits 77, skipped.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "answer_builder.h"
#include "tessel/discovery/dns_message.h"
#include "tessel/discovery/find_catalogue.h"
#include "tessel/platform/headless.h"

namespace tessel::discovery {
namespace {

using namespace testing;

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// What the responder answers, and what it saw.
struct Responder {
    std::mutex lock;
    Bytes answer;                   // empty: stay silent
    std::uint16_t answerFromPort = 5353;
    std::vector<Bytes> queries;     // as received on 5353
    std::vector<std::uint16_t> queryPorts;
    std::atomic<bool> stop{false};
    std::atomic<bool> ready{false};
    std::atomic<bool> failed{false};
    std::atomic<pid_t> tid{0};
    std::atomic<bool> linkMoved{false};
};

void Respond(Responder& r) {
    // Host A: a namespace of its own, its end of the veth given to it by host B.
    if (unshare(CLONE_NEWNET) != 0) {
        r.failed = true;
        return;
    }
    r.tid = static_cast<pid_t>(syscall(SYS_gettid));
    while (!r.linkMoved) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!Shell("ip link set lo up") || !Shell("ip addr add 169.254.77.1/16 dev vA") ||
        !Shell("ip link set vA up")) {
        r.failed = true;
        return;
    }
    const int mdns = socket(AF_INET, SOCK_DGRAM, 0);
    const int other = socket(AF_INET, SOCK_DGRAM, 0);  // for answers from a port other than 5353
    const int one = 1;
    setsockopt(mdns, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(5353);
    ip_mreq join{};
    inet_pton(AF_INET, "224.0.0.251", &join.imr_multiaddr);
    inet_pton(AF_INET, "169.254.77.1", &join.imr_interface);
    const timeval tick{0, 20000};
    setsockopt(mdns, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    if (bind(mdns, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        setsockopt(mdns, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
        r.failed = true;
        return;
    }
    r.ready = true;
    std::vector<std::uint8_t> buffer(9000);
    while (!r.stop) {
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t n = recvfrom(mdns, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (n <= 0) continue;
        Bytes answer;
        std::uint16_t port = 5353;
        {
            const std::lock_guard guard(r.lock);
            r.queries.emplace_back(buffer.begin(), buffer.begin() + n);
            r.queryPorts.push_back(ntohs(from.sin_port));
            answer = r.answer;
            port = r.answerFromPort;
        }
        if (answer.empty()) continue;
        // Legacy unicast: straight back to the asking port.
        sendto(port == 5353 ? mdns : other, answer.data(), answer.size(), 0,
               reinterpret_cast<sockaddr*>(&from), fromSize);
    }
    close(mdns);
    close(other);
}

class Lan : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        headless::Install();
        responder_ = new Responder;
        thread_ = new std::thread(Respond, std::ref(*responder_));
        while (responder_->tid == 0 && !responder_->failed)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const std::string a = std::to_string(responder_->tid.load());
        const bool linked = Shell("ip link add vB type veth peer name vA") &&
                            Shell("ip link set vA netns " + a) && Shell("ip link set lo up") &&
                            Shell("ip addr add 169.254.77.2/16 dev vB") && Shell("ip link set vB up");
        responder_->linkMoved = true;
        if (!linked) responder_->failed = true;
        while (!responder_->ready && !responder_->failed)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // Duplicate-address detection and the link coming up take a moment on a veth.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    static void TearDownTestSuite() {
        responder_->stop = true;
        thread_->join();
    }
    void SetUp() override {
        ASSERT_FALSE(responder_->failed) << "the two hosts could not be made";
        const std::lock_guard guard(responder_->lock);
        responder_->answer.clear();
        responder_->answerFromPort = 5353;
        responder_->queries.clear();
        responder_->queryPorts.clear();
    }
    static void Answer(Bytes answer, std::uint16_t fromPort = 5353) {
        const std::lock_guard guard(responder_->lock);
        responder_->answer = std::move(answer);
        responder_->answerFromPort = fromPort;
    }
    // FindCatalogue's answer and the milliseconds it took.
    static std::pair<std::string, long> Find(std::uint32_t boundMs) {
        const auto start = std::chrono::steady_clock::now();
        const Text found = FindCatalogue(boundMs);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        return {std::string(found.view()), static_cast<long>(ms)};
    }
    static Responder* responder_;
    static std::thread* thread_;
};
Responder* Lan::responder_ = nullptr;
std::thread* Lan::thread_ = nullptr;

TEST_F(Lan, TheCatalogueAnsweringOnTheOtherHostIsFoundWithoutWaitingOutTheBound) {
    Answer(AvahiAnswer());
    const auto [found, ms] = Find(5000);
    EXPECT_EQ(found, "169.254.77.1:8765");
    // The answer comes within milliseconds; the bound is far off.
    EXPECT_LT(ms, 2500);
    const std::lock_guard guard(responder_->lock);
    ASSERT_FALSE(responder_->queries.empty());
    EXPECT_EQ(responder_->queries[0], CatalogueQuery());
    // Asked from a port of its own, never 5353, so the answer comes back by unicast.
    EXPECT_NE(responder_->queryPorts[0], 5353);
}

TEST_F(Lan, AnAnnouncementWithoutTheCataloguePathIsNotACatalogue) {
    Options withoutPath;
    withoutPath.txtPath.clear();
    Answer(AvahiAnswer(withoutPath));
    const auto [found, ms] = Find(600);
    EXPECT_EQ(found, "");
    EXPECT_GE(ms, 550);  // the whole bound was waited for a catalogue
    // A lost query is asked once more within the bound.
    const std::lock_guard guard(responder_->lock);
    EXPECT_EQ(responder_->queries.size(), 2u);
}

TEST_F(Lan, AnAnswerFromAnotherPortThanMdnsIsIgnored) {
    Answer(AvahiAnswer(), 5354);
    EXPECT_EQ(Find(400).first, "");
}

TEST_F(Lan, NoCatalogueAnywhereGivesTheEmptyTextWithinTheBound) {
    const auto [found, ms] = Find(500);
    EXPECT_EQ(found, "");
    EXPECT_LT(ms, 1500);
}

}  // namespace
}  // namespace tessel::discovery

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Host B is this process's own namespace, made before any thread starts.
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0) {
        std::printf("skipped: network namespaces need root\n");
        return 77;
    }
    return RUN_ALL_TESTS();
}
