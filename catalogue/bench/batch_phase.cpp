// Searches while a batch of songs is written and committed on a thread of its own.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_phases.h"
#include "bench_report.h"
#include "generated_library.h"

namespace tessel::catalogue::bench {

// A batch of 10,000 songs added (as a folder copied in), then the same removed, each in one
// transaction on a thread of its own, while a fresh client searches: the searches go on as
// usual, and each sees the batch whole or not at all.
void BatchPhase(int port, Database& database, int songs) {
    std::printf("searches while a batch of 10,000 songs is written (goal: as without it):\n");
    const std::string target = SearchTarget("love 的", 20, 0);
    // A batch an interrupted run left is taken out first.
    if (std::vector<int64_t> left = BatchIds(database); !left.empty()) {
        bool removed = database.Begin();
        for (int64_t id : left) removed = removed && database.RemoveSong(id);
        if (!removed || !database.Commit()) database.Rollback();
    }
    for (bool adding : {true, false}) {
        const std::vector<int64_t> added = adding ? std::vector<int64_t>() : BatchIds(database);
        std::atomic<bool> done{false};
        double writeMs = 0;
        double commitMs = 0;
        bool written = false;
        std::thread writer([&] {
            const auto start = Clock::now();
            std::mt19937 random(7);
            written = database.Begin();
            for (int i = 0; i < 10'000 && written; ++i) {
                if (adding) {
                    SongRecord song = GeneratedSong(songs + i, random);
                    song.path = "batch/" + std::to_string(i) + ".mp3";
                    written = database.AddSong(song);
                } else if (static_cast<size_t>(i) < added.size()) {
                    written = database.RemoveSong(added[static_cast<size_t>(i)]);
                }
            }
            const auto commitStart = Clock::now();
            written = written && database.Commit();
            if (!written) database.Rollback();
            commitMs =
                std::chrono::duration<double, std::milli>(Clock::now() - commitStart).count();
            writeMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            done = true;
        });
        Timings during;
        while (!done) {
            Timings one = FreshSearches(port, target, 1);
            during.milliseconds.insert(during.milliseconds.end(), one.milliseconds.begin(),
                                       one.milliseconds.end());
            during.failures += one.failures;
            during.answers.insert(one.answers.begin(), one.answers.end());
        }
        writer.join();
        std::sort(during.milliseconds.begin(), during.milliseconds.end());
        std::printf("  %s: written in %.0f ms (commit %.0f ms)%s\n",
                    adding ? "10,000 added" : "10,000 removed", writeMs, commitMs,
                    written ? "" : ", FAILED");
        PrintTimings("love 的 meanwhile", during);
    }
}

}  // namespace tessel::catalogue::bench
