// What the service holds open while it serves: audio downloads, fast or stalled, and the
// connections and answers a stop must end.
#include <httplib.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_phases.h"
#include "bench_report.h"

namespace tessel::catalogue::bench {
namespace {

// A whole request for the media song, sent raw by clients that then read no more than fits.
std::string MediaRequest(int64_t mediaId) {
    return "GET /media/" + std::to_string(mediaId) + ".mp3 HTTP/1.1\r\nHost: h\r\n\r\n";
}

}  // namespace

// Audio downloads whose clients read nothing more once their buffers are full: a fresh client's
// search must be answered as without them.
void StalledDownloadPhase(int port, int64_t mediaId, int stalled) {
    const std::string target = SearchTarget("月光", 20, 0);
    std::printf(
        "a fresh connection's search, %d audio downloads stalled (goal: as without "
        "them):\n",
        stalled);
    PrintTimings("with none stalled", FreshSearches(port, target, 20));
    std::vector<std::unique_ptr<LoadConnection>> downloads;
    for (int i = 0; i < stalled; ++i) {
        downloads.push_back(std::make_unique<LoadConnection>(port, 4096));
        downloads.back()->SendRaw(MediaRequest(mediaId));
    }
    // Each has its answer begun (its first bytes arrived) before the searches.
    const auto sent = Clock::now();
    int begun = 0;
    for (auto& download : downloads) {
        pollfd p{download->fd(), POLLIN, 0};
        if (::poll(&p, 1, 10'000) > 0) ++begun;
    }
    std::printf("  %d of %d downloads answered and stalled %.0f ms after they were sent\n", begun,
                stalled, std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    PrintTimings("with them stalled", FreshSearches(port, target, 20));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    PrintTimings("with them stalled, 3 s later", FreshSearches(port, target, 20));
    std::printf("  with them stalled: %s\n", ProcessFigures().c_str());
}

void MediaPhase(int port, int64_t mediaId, int connections, double seconds) {
    std::atomic<uint64_t> bytes{0};
    std::atomic<long> failures{0};
    const std::string target = "/media/" + std::to_string(mediaId) + ".mp3";
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    const auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < connections; ++c) {
        clients.emplace_back([&] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_read_timeout(10);
            for (int i = 0; i < 10'000 && Clock::now() < deadline; ++i) {
                uint64_t got = 0;
                const httplib::Result result = client.Get(target, [&](const char*, size_t length) {
                    got += length;
                    return true;
                });
                if (!result || result->status != 200) {
                    ++failures;
                    break;
                }
                bytes += got;
            }
        });
    }
    for (std::thread& client : clients) client.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("media: %d connection(s), %.0f MB in %.1f s = %.0f MB/s (%ld failed)\n",
                connections, static_cast<double>(bytes.load()) / 1e6, elapsed,
                static_cast<double>(bytes.load()) / 1e6 / elapsed, failures.load());
}

void StopPhase(CatalogueServer& server, std::thread& serving, int port, int64_t mediaId, int idle) {
    double stopMs = 0;
    {
        HeldConnections held(port, idle);
        std::vector<std::unique_ptr<LoadConnection>> stalled;
        for (int i = 0; i < 5; ++i) {
            stalled.push_back(std::make_unique<LoadConnection>(port));
            stalled.back()->SendRaw(MediaRequest(mediaId));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto stopStart = Clock::now();
        server.Stop();
        serving.join();
        stopMs = std::chrono::duration<double, std::milli>(Clock::now() - stopStart).count();
    }
    std::printf("stop with %d connections held and 5 answers stalled: %.1f ms (goal: under 2 s)\n",
                idle, stopMs);
}

}  // namespace tessel::catalogue::bench
