#pragma once
// The transfer engine of ferry: at most four downloads run at once, each on a thread of its own,
// and the others wait their turn in the order they were started. A download streams its body
// into a temporary file beside the target and renames it to the target once the whole body is
// in. A connection that drops after some bytes is resumed with a Range request (three times at
// most) that names the file's version (If-Range); an answer that does not continue the same
// file where it broke starts the file over from zero, once. The caller polls: the speed of the
// running transfers together, and which transfers have ended and how.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "tessel/ferry/platform_seams.h"
#include "tessel/ferry/speed_meter.h"
#include "tessel/runtime/library_commands.h"

namespace tessel::ferry {

// How a transfer stands, as the outcome command answers it.
using Outcome = TransferOutcome;

// The number of resumes a transfer may make after its connection dropped.
inline constexpr int kResumeTries = 3;
// Transfers that connect or receive at the same time; the others wait.
inline constexpr int kMostAtOnce = 4;
// How long a release waits for running transfers to end before it leaves them behind (their
// part files deleted, their threads ending on their own).
inline constexpr int kReleaseWaitMs = 400;

class Transfers {
  public:
    Transfers();
    // Cancels what waits or runs and returns within kReleaseWaitMs and a little; no part file of
    // this engine is left.
    ~Transfers();
    Transfers(const Transfers&) = delete;
    Transfers& operator=(const Transfers&) = delete;

    // Queues a download of `url` into `path`; answers the transfer's number (1, 2, ...). A
    // transfer that cannot run (no address, no path, no file) still gets its number and fails.
    std::int32_t Start(const std::string& url, const std::string& path);
    // Bytes per second received over the last second by the running transfers; 0 when none runs.
    std::uint64_t CurrentSpeed();
    // Transfers not yet ended: waiting, connecting or receiving.
    std::int32_t RunningCount();
    // The number of a transfer that ended and was not yet reported here, 0 when there is none.
    // Transfers are reported in the order they ended.
    std::int32_t NextFinished();
    Outcome OutcomeOf(std::int32_t number);
    // For transfers started from now on.
    void SetBounds(const Bounds& bounds);

    struct State;  // shared with the transfers' threads, which may outlive the engine

  private:
    std::shared_ptr<State> state_;
};

}  // namespace tessel::ferry
