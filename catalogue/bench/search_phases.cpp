// The searches the benchmark measures: after a restart, under load from many kept-alive
// connections, beside connections held silent or slow, and searches built to be expensive.
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench_phases.h"
#include "bench_report.h"
#include "generated_library.h"

namespace tessel::catalogue::bench {

void RestartPhase(int port, Clock::time_point restartStart, double openedMs) {
    auto sinceRestart = [&restartStart] {
        return std::chrono::duration<double, std::milli>(Clock::now() - restartStart).count();
    };
    {
        LoadConnection first(port);
        const int status = first.Exchange(SearchTarget("the 的", 20, 0));
        std::printf(
            "restart: index opened in %.0f ms, first search answered (%d) %.0f ms after "
            "the start\n",
            openedMs, status, sinceRestart());
    }
    std::printf(
        "the common searches from the first second (one fresh connection each, goal: "
        "under 50 ms):\n");
    for (const char* keyword : {"the 的", "love 的", "rain 故事"}) {
        for (int offset : {0, 20, 40}) {
            const double at = sinceRestart();
            const Timings t = FreshSearches(port, SearchTarget(keyword, 20, offset), 1);
            std::printf("  %-12s offset %2d at %6.0f ms: %7.2f ms%s\n", keyword, offset, at,
                        t.milliseconds.empty() ? -1.0 : t.milliseconds.front(),
                        t.failures ? " (failed)" : "");
        }
    }
    std::printf("catalogue after the restart: %s\n", ProcessFigures().c_str());
}

// One thread drives every connection with poll(), as a load generator should: the server gets
// the machine's cores, not a crowd of client threads.
void SearchPhase(int port, const Settings& settings) {
    std::vector<std::string> targets;
    for (const char* keyword : kKeywords) {
        for (int offset : {0, 20, 40}) {
            targets.push_back(SearchTarget(keyword, 20, offset));
        }
    }
    // Connections are opened and used once, one after the other, before the clock starts: the
    // server accepts from a short queue, and set-up is not what is measured.
    long failures = 0;
    std::vector<std::unique_ptr<LoadConnection>> connections;
    for (int c = 0; c < settings.connections; ++c) {
        connections.push_back(std::make_unique<LoadConnection>(port));
        if (connections.back()->Exchange(targets[0]) != 200) ++failures;
        connections.back()->MakeNonBlocking();
    }
    std::vector<double> latencies;
    latencies.reserve(static_cast<size_t>(std::min(settings.requests, 5'000'000L)));
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(settings.seconds));
    long issued = 0;
    size_t next = 0;
    // Every answer to one request must be the same: the distinct bodies of each.
    std::vector<std::set<size_t>> bodies(targets.size());
    std::vector<double> slowest(targets.size(), 0.0);
    std::unordered_map<const LoadConnection*, size_t> asked;
    auto sendNext = [&](LoadConnection& connection) {
        if (Clock::now() >= deadline || issued >= settings.requests) return false;
        ++issued;
        asked[&connection] = next % targets.size();
        return connection.Send(targets[next++ % targets.size()]);
    };
    std::vector<pollfd> waits;
    for (auto& connection : connections) {
        if (sendNext(*connection)) waits.push_back({connection->fd(), POLLIN, 0});
    }
    std::vector<LoadConnection*> byIndex;
    for (auto& connection : connections) {
        if (connection->open()) byIndex.push_back(connection.get());
    }
    while (!waits.empty()) {
        if (::poll(waits.data(), waits.size(), 5000) <= 0) break;
        for (size_t i = 0; i < waits.size();) {
            LoadConnection& connection = *byIndex[i];
            int status = 0;
            if (waits[i].revents != 0) status = connection.Receive();
            if (status != 0) {
                if (status == 200) {
                    const size_t target = asked[&connection];
                    bodies[target].insert(std::hash<std::string>()(connection.answer()));
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - connection.sent())
                            .count());
                    slowest[target] = std::max(slowest[target], latencies.back());
                } else {
                    ++failures;
                }
                if (status < 0 || !sendNext(connection)) {
                    waits.erase(waits.begin() + static_cast<std::ptrdiff_t>(i));
                    byIndex.erase(byIndex.begin() + static_cast<std::ptrdiff_t>(i));
                    continue;
                }
            }
            waits[i].revents = 0;
            ++i;
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(latencies.begin(), latencies.end());
    std::printf("searches: %zu answered, %ld failed in %.1f s from %d connections\n",
                latencies.size(), failures, elapsed, settings.connections);
    std::printf("  %.0f requests/s; latency p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                static_cast<double>(latencies.size()) / elapsed, Percentile(latencies, 0.50),
                Percentile(latencies, 0.90), Percentile(latencies, 0.99),
                latencies.empty() ? 0.0 : latencies.back());
    const auto varied = std::count_if(bodies.begin(), bodies.end(),
                                      [](const std::set<size_t>& b) { return b.size() > 1; });
    std::printf(
        "  %zu requests (%zu keywords x offsets 0, 20, 40), %ld with more than one "
        "distinct answer\n",
        targets.size(), kKeywords.size(), static_cast<long>(varied));
    if (settings.connections > 1) return;
    // One client: which requests take longest.
    std::vector<size_t> order(targets.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&slowest](size_t a, size_t b) { return slowest[a] > slowest[b]; });
    std::printf("  slowest:");
    for (size_t i = 0; i < std::min<size_t>(8, order.size()); ++i) {
        std::printf(" \"%s\"@%zu %.1f ms", kKeywords[order[i] / 3], order[i] % 3 * 20,
                    slowest[order[i]]);
    }
    std::printf("\n");
}

// A new client's search while `idle` connections are open, half of them silent and half sending
// their request a byte every three seconds: none of them may keep it waiting.
void IdleConnectionPhase(int port, int idle) {
    const std::string target = SearchTarget("月光", 20, 0);
    std::printf("a fresh connection's search, %d connections silent or slow (goal: under 50 ms):\n",
                idle);
    PrintTimings("with none open", FreshSearches(port, target, 20));
    std::printf("  before: %s\n", ProcessFigures().c_str());
    HeldConnections held(port, idle);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // every one accepted
    PrintTimings("with them open", FreshSearches(port, target, 20));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    PrintTimings("with them open, 3 s later", FreshSearches(port, target, 20));
    std::printf("  with them open: %s\n", ProcessFigures().c_str());
}

// Searches made to cost the most: each is answered, or refused when it needs too many checks, and
// none holds its thread for long.
void AdversarialPhase(int port, int songs) {
    std::string longKeyword;  // the longest allowed: 100 characters of common words
    while (longKeyword.size() < 100 * 3) longKeyword += kChineseWords[longKeyword.size() / 6 % 10];
    std::string manyTerms;  // the longest allowed as 50 one-character terms
    for (int i = 0; i < 50; ++i) {
        if (i > 0) manyTerms += ' ';
        manyTerms += kLatinWords[i % kLatinWords.size()][0];
    }
    struct Search {
        const char* what;
        std::string target;
    };
    const Search searches[] = {
        {"two common terms never together", SearchTarget("月光 love", 100, 0)},
        {"two common terms, deepest page", SearchTarget("城市 night", 100, 1'000'000)},
        {"a term in every song", SearchTarget("Vol", 100, 0)},
        {"a term in every song, last page", SearchTarget("Vol", 100, std::max(0, songs - 100))},
        {"a term in every song, deepest offset", SearchTarget("Vol", 100, 1'000'000)},
        {"a common character, deepest offset", SearchTarget("月", 100, 1'000'000)},
        {"the longest keyword (100 characters)", SearchTarget(longKeyword, 100, 0)},
        {"the longest keyword as 50 terms", SearchTarget(manyTerms, 100, 0)},
    };
    std::printf("searches built to be expensive, %d songs (goal: each under 50 ms):\n", songs);
    for (const Search& s : searches) PrintTimings(s.what, FreshSearches(port, s.target, 5));
    // Half the titles hold "the", the other half 的; the pages the program asks for.
    for (const char* keyword : {"the 的", "love 的", "rain 故事", "the 月光", "night the"}) {
        for (int offset : {0, 20, 40}) {
            PrintTimings(std::string(keyword) + ", offset " + std::to_string(offset),
                         FreshSearches(port, SearchTarget(keyword, 20, offset), 10));
        }
    }
}

}  // namespace tessel::catalogue::bench
