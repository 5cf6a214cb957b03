// FindCatalogue end to end on a LAN of two hosts made inside this process: the test's thread is
// host B (where Tessel asks) and a responder thread is host A, each in a network namespace of
// its own, joined by a veth pair with link-local addresses. The responder is an mDNS responder
// of the test's own on 224.0.0.251:5353, answering the legacy-unicast query as Avahi does; the
// last tests give each host a real avahi-daemon (skipped where it is not installed).
// Needs root (network namespaces): otherwise it exits 77, skipped.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
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
#include "tessel/headless/headless.h"
#include "tessel/runtime/dll_commands.h"
#include "tessel/runtime/windows_network.h"

namespace tessel::discovery {
namespace {

using namespace testing;

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// What the responder answers, and what it saw.
struct Responder {
    std::mutex lock;
    Bytes answer;  // empty: stay silent
    std::uint16_t answerFromPort = 5353;
    std::vector<Bytes> queries;  // as received on 5353
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

Responder* g_responder = nullptr;
int g_hostA = -1;  // host A's network namespace

// Host A is the responder's thread, in a namespace of its own; host B is this process's.
bool MakeHosts() {
    g_responder = new Responder;
    static std::thread thread(Respond, std::ref(*g_responder));
    thread.detach();
    while (g_responder->tid == 0 && !g_responder->failed)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string a = std::to_string(g_responder->tid.load());
    g_hostA = open(("/proc/self/task/" + a + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    const bool linked = Shell("ip link add vB type veth peer name vA") &&
                        Shell("ip link set vA netns " + a) && Shell("ip link set lo up") &&
                        Shell("ip addr add 169.254.77.2/16 dev vB") && Shell("ip link set vB up");
    g_responder->linkMoved = true;
    if (!linked) g_responder->failed = true;
    while (!g_responder->ready && !g_responder->failed)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The link takes a moment to carry traffic once up.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return !g_responder->failed && g_hostA >= 0;
}

// A command run on host A (from a thread that enters its namespace).
bool ShellOnA(const std::string& command) {
    bool ok = false;
    std::thread t([&] { ok = setns(g_hostA, CLONE_NEWNET) == 0 && Shell(command); });
    t.join();
    return ok;
}

class Lan : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::lock_guard guard(g_responder->lock);
        g_responder->answer.clear();
        g_responder->answerFromPort = 5353;
        g_responder->queries.clear();
        g_responder->queryPorts.clear();
    }
    static void Answer(Bytes answer, std::uint16_t fromPort = 5353) {
        const std::lock_guard guard(g_responder->lock);
        g_responder->answer = std::move(answer);
        g_responder->answerFromPort = fromPort;
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
};

TEST_F(Lan, TheCatalogueAnsweringOnTheOtherHostIsFoundWithoutWaitingOutTheBound) {
    Answer(AvahiAnswer());
    const auto [found, ms] = Find(5000);
    EXPECT_EQ(found, "169.254.77.1:8765");
    // The answer comes within milliseconds; the bound is far off.
    EXPECT_LT(ms, 2500);
    const std::lock_guard guard(g_responder->lock);
    ASSERT_FALSE(g_responder->queries.empty());
    EXPECT_EQ(g_responder->queries[0], CatalogueQuery());
    // Asked from a port of its own, never 5353, so the answer comes back by unicast.
    EXPECT_NE(g_responder->queryPorts[0], 5353);
}

TEST_F(Lan, AnAnnouncementWithoutTheCataloguePathIsNotACatalogue) {
    Options withoutPath;
    withoutPath.txtPath.clear();
    Answer(AvahiAnswer(withoutPath));
    const auto [found, ms] = Find(600);
    EXPECT_EQ(found, "");
    EXPECT_GE(ms, 550);  // the whole bound was waited for a catalogue
    // A lost query is asked once more within the bound.
    const std::lock_guard guard(g_responder->lock);
    EXPECT_EQ(g_responder->queries.size(), 2u);
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

// --- with avahi-daemon on the hosts ----------------------------------------------------------
// Each host's avahi-daemon runs on a system bus of its own under a private /run, as on a
// machine of its own. Their process ids are kept in files here so they can be stopped.
const std::string kDaemonDir = "/tmp/tessel-discovery-lan-" + std::to_string(getpid());

bool HaveAvahi() {
    return Shell("command -v avahi-daemon") && Shell("command -v dbus-daemon") &&
           Shell("command -v avahi-publish") && Shell("getent passwd messagebus");
}

// The commands that start a host's bus and avahi-daemon in the /run they find.
std::string StartDaemons(const std::string& host, const std::string& link) {
    const std::string conf = kDaemonDir + "/" + host + ".conf";
    const std::string pids = kDaemonDir + "/" + host;
    return "mkdir -p " + kDaemonDir +
           " /run/dbus /run/avahi-daemon && chown messagebus: /run/dbus"
           " && printf '[server]\\nhost-name=" +
           host + "\\nuse-ipv6=no\\nallow-interfaces=" + link +
           "\\n[publish]\\npublish-workstation=no\\n' > " + conf +
           " && dbus-daemon --system --fork --print-pid > " + pids + ".dbus.pid" +
           " && avahi-daemon --no-chroot --no-drop-root -f " + conf + " -D" +
           " && cat /run/avahi-daemon/pid > " + pids + ".avahi.pid";
}

void StopDaemons() {
    for (const char* file : {"A.publish", "A.avahi", "A.dbus", "B.avahi", "B.dbus"})
        Shell("test -s " + kDaemonDir + "/" + file + ".pid && kill $(cat " + kDaemonDir + "/" +
              file + ".pid)");
    Shell("rm -rf " + kDaemonDir);
}

// What the system browse handed the callbacks.
struct Browsed {
    std::mutex lock;
    std::vector<std::u16string> instances;
    bool resolved = false;
    std::uint32_t status = 0;
    std::u16string name;
    std::string address;
    std::vector<std::pair<std::u16string, std::u16string>> txt;
} g_browsed;

std::u16string Wide(const char16_t* s) {
    return s != nullptr ? std::u16string(s) : std::u16string();
}

void TESSEL_SYSTEM_CALLBACK OnBrowsed(std::uint32_t status, void*, dnssd::Record* records) {
    const std::lock_guard guard(g_browsed.lock);
    for (auto* r = records; status == 0 && r != nullptr; r = r->next)
        if (r->type == dnssd::kTypePtr) g_browsed.instances.push_back(Wide(r->data.ptrNameHost));
    const Word args[] = {reinterpret_cast<Word>(records), dnssd::kFreeRecordList};
    CallDll(dll::kDnsRecordListFree, args);
}

void TESSEL_SYSTEM_CALLBACK OnResolved(std::uint32_t status, void*, dnssd::ServiceInstance* in) {
    const std::lock_guard guard(g_browsed.lock);
    g_browsed.resolved = true;
    g_browsed.status = status;
    if (in == nullptr) return;
    g_browsed.name = Wide(in->instanceName);
    const auto* b = reinterpret_cast<const std::uint8_t*>(in->ip4Address);
    g_browsed.address =
        AddressText(std::uint32_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3], in->port);
    for (std::uint32_t i = 0; i < in->propertyCount; ++i)
        g_browsed.txt.emplace_back(Wide(in->keys[i]), Wide(in->values[i]));
    const Word args[] = {reinterpret_cast<Word>(in)};
    CallDll(dll::kDnsServiceFreeInstance, args);
}

Word Call(std::uint32_t index, std::initializer_list<Word> args) {
    return CallDll(index, std::span<const Word>(args.begin(), args.size()));
}

template <typename Done>
bool WaitFor(Done done, int ms) {
    for (int i = 0; i < ms / 10; ++i) {
        {
            const std::lock_guard guard(g_browsed.lock);
            if (done()) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(Lan, WithoutAvahiDaemonTheSystemBrowseFailsAtOnce) {
    dnssd::BrowseRequest request{dnssd::kQueryRequestVersion1, 0, u"_tessel._tcp.local", &OnBrowsed,
                                 nullptr};
    dnssd::Cancel cancel{};
    const auto start = std::chrono::steady_clock::now();
    const Word status = Call(dll::kDnsServiceBrowse,
                             {reinterpret_cast<Word>(&request), reinterpret_cast<Word>(&cancel)});
    EXPECT_NE(status, dnssd::kRequestPending);
    EXPECT_NE(status, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

// Host A's avahi-daemon announces the catalogue as `tessel-catalogue --share` does; host B has
// none at first (the one-shot query alone), then one of its own (the system browse too).
class LanWithAvahi : public Lan {
  protected:
    static void SetUpTestSuite() {
        if (!HaveAvahi()) return;
        started_ =
            ShellOnA("unshare -m --propagation private sh -c \"mount -t tmpfs tmpfs /run && " +
                     StartDaemons("A", "vA") +
                     " && { avahi-publish -s 'Tessel on A' _tessel._tcp 8765 txtvers=1 "
                     "path=/tessel/ >/dev/null 2>&1 & echo \\$! > " +
                     kDaemonDir + "/A.publish.pid; }\"");
    }
    void SetUp() override {
        if (!HaveAvahi()) GTEST_SKIP() << "avahi-daemon, dbus-daemon or avahi-utils missing";
        ASSERT_TRUE(started_) << "host A's avahi-daemon did not start";
        Lan::SetUp();
    }
    static bool started_;
};
bool LanWithAvahi::started_ = false;

TEST_F(LanWithAvahi, TheOneShotQueryFindsTheCatalogueAvahiAnnounces) {
    // Avahi probes its names for a moment before it answers for them.
    std::string found;
    for (int attempt = 0; attempt < 8 && found.empty(); ++attempt) found = Find(1500).first;
    EXPECT_EQ(found, "169.254.77.1:8765");
    const auto [again, ms] = Find(1500);
    EXPECT_EQ(again, "169.254.77.1:8765");
    EXPECT_LT(ms, 1000);  // Avahi answers in milliseconds
}

TEST_F(LanWithAvahi, TheSystemBrowseFindsAndResolvesItThroughHostBsAvahiDaemon) {
    ASSERT_TRUE(Shell(StartDaemons("B", "vB")));
    dnssd::BrowseRequest browse{dnssd::kQueryRequestVersion1, 0, u"_tessel._tcp.local", &OnBrowsed,
                                nullptr};
    dnssd::Cancel browseCancel{};
    // avahi-daemon takes a moment to take the bus name after it forks.
    Word status = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        status = Call(dll::kDnsServiceBrowse,
                      {reinterpret_cast<Word>(&browse), reinterpret_cast<Word>(&browseCancel)});
        if (status == dnssd::kRequestPending) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(status, dnssd::kRequestPending);
    ASSERT_TRUE(WaitFor([] { return !g_browsed.instances.empty(); }, 10000));
    EXPECT_EQ(Call(dll::kDnsServiceBrowseCancel, {reinterpret_cast<Word>(&browseCancel)}), 0u);
    std::u16string name;
    {
        const std::lock_guard guard(g_browsed.lock);
        name = g_browsed.instances.front();
    }
    EXPECT_EQ(name, u"Tessel on A._tessel._tcp.local");

    dnssd::ResolveRequest resolve{dnssd::kQueryRequestVersion1, 0, name.data(), &OnResolved,
                                  nullptr};
    dnssd::Cancel resolveCancel{};
    ASSERT_EQ(Call(dll::kDnsServiceResolve,
                   {reinterpret_cast<Word>(&resolve), reinterpret_cast<Word>(&resolveCancel)}),
              dnssd::kRequestPending);
    ASSERT_TRUE(WaitFor([] { return g_browsed.resolved; }, 10000));
    const std::lock_guard guard(g_browsed.lock);
    EXPECT_EQ(g_browsed.status, 0u);
    EXPECT_EQ(g_browsed.name, u"Tessel on A._tessel._tcp.local");
    EXPECT_EQ(g_browsed.address, "169.254.77.1:8765");
    const std::vector<std::pair<std::u16string, std::u16string>> txt = {{u"txtvers", u"1"},
                                                                        {u"path", u"/tessel/"}};
    EXPECT_EQ(g_browsed.txt, txt);
}

TEST_F(LanWithAvahi, FindCatalogueTakesWhicheverRouteAnswersFirst) {
    const auto [found, ms] = Find(1500);
    EXPECT_EQ(found, "169.254.77.1:8765");
    EXPECT_LT(ms, 1000);
}

}  // namespace
}  // namespace tessel::discovery

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Host B is this process's own network namespace, with a /run of its own for its system bus
    // and avahi-daemon, made before any thread starts.
    if (geteuid() != 0 || unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        std::printf("skipped: network namespaces need root\n");
        return 77;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/run", "tmpfs", 0, nullptr) != 0 || !tessel::discovery::MakeHosts()) {
        std::printf("the two hosts could not be made\n");
        return 1;
    }
    tessel::headless::Install();
    const int result = RUN_ALL_TESTS();
    tessel::discovery::StopDaemons();
    return result;
}
