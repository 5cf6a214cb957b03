#pragma once
// The speed the status bar shows: bytes received over the last second.
#include <cstdint>
#include <mutex>

namespace tessel::ferry {

// Bytes received over the last second, to the millisecond: a ring of one count per millisecond.
// The clock is the caller's (milliseconds of a steady clock), so tests can give their own.
class SpeedMeter {
  public:
    void Add(std::uint64_t bytes, std::int64_t nowMs);
    // The bytes added at times t with nowMs - 1000 < t <= nowMs.
    std::uint64_t LastSecond(std::int64_t nowMs);

  private:
    static constexpr int kSlots = 1000;
    void Advance(std::int64_t nowMs);
    std::mutex mutex_;
    std::uint64_t slots_[kSlots] = {};
    std::int64_t newestMs_ = 0;
};

std::int64_t SteadyMilliseconds();

}  // namespace tessel::ferry
