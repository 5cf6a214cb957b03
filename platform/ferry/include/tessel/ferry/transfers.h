#pragma once
// The transfer engine of ferry: every download runs on a thread of its own, streams its body
// into a temporary file beside the target and renames it to the target once the whole body is
// in. A connection that drops after some bytes is resumed with a Range request (three times at
// most; a server that ignores the range starts the file over). The caller polls: the speed of
// all running transfers together, and which transfers have ended and how.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tessel/ferry/platform_seams.h"
#include "tessel/runtime/library_commands.h"

namespace tessel::ferry {

// How a transfer stands, as the outcome command answers it.
using Outcome = TransferOutcome;

// Bytes received over the last second, kept in ten slices of 100 ms.
class SpeedMeter {
  public:
    void Add(std::uint64_t bytes);
    std::uint64_t LastSecond();

  private:
    void Advance(std::int64_t nowSlice);
    std::mutex mutex_;
    std::uint64_t slices_[10] = {};
    std::int64_t currentSlice_ = 0;
};

// The number of resumes a transfer may make after its connection dropped.
inline constexpr int kResumeTries = 3;

class Transfers {
  public:
    Transfers() = default;
    ~Transfers();  // cancels what still runs, waits for it, deletes its partial files
    Transfers(const Transfers&) = delete;
    Transfers& operator=(const Transfers&) = delete;

    // Starts downloading `url` into `path`; answers the transfer's number (1, 2, ...). A transfer
    // that cannot run (no address, no path, no file) still gets its number and fails at once.
    std::int32_t Start(const std::string& url, const std::string& path);
    // Bytes per second received over the last second by all running transfers; 0 when none runs.
    std::uint64_t CurrentSpeed();
    std::int32_t RunningCount();
    // The number of a transfer that ended and was not yet reported here, 0 when there is none.
    // Transfers are reported in the order they ended.
    std::int32_t NextFinished();
    Outcome OutcomeOf(std::int32_t number);
    // For transfers started from now on.
    void SetBounds(const Bounds& bounds);

  private:
    struct Transfer {
        std::int32_t number = 0;
        std::string url;
        std::string path;
        std::unique_ptr<Fetcher> fetcher;
        std::thread thread;
        bool ended = false;  // under mutex_
    };
    Outcome Run(Transfer& t);
    void ReapEnded();

    std::mutex mutex_;
    Bounds bounds_;
    std::int32_t lastNumber_ = 0;
    std::int32_t running_ = 0;
    std::atomic<bool> closing_{false};
    std::list<std::unique_ptr<Transfer>> transfers_;
    std::map<std::int32_t, Outcome> outcomes_;
    std::deque<std::int32_t> unreported_;
    SpeedMeter meter_;
};

}  // namespace tessel::ferry
