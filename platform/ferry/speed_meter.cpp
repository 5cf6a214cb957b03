#include "tessel/ferry/speed_meter.h"

#include <algorithm>
#include <chrono>
#include <iterator>

namespace tessel::ferry {

std::int64_t SteadyMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SpeedMeter::Advance(std::int64_t now) {
    if (now <= newestMs_) return;
    if (now - newestMs_ >= kSlots) {
        std::fill(std::begin(slots_), std::end(slots_), 0);
    } else {
        for (std::int64_t ms = newestMs_ + 1; ms <= now; ++ms) slots_[ms % kSlots] = 0;
    }
    newestMs_ = now;
}

void SpeedMeter::Add(std::uint64_t bytes, std::int64_t nowMs) {
    std::lock_guard lock(mutex_);
    Advance(nowMs);
    // A clock read before another thread's later one still counts, in the newest slot.
    slots_[newestMs_ % kSlots] += bytes;
}

std::uint64_t SpeedMeter::LastSecond(std::int64_t nowMs) {
    std::lock_guard lock(mutex_);
    Advance(nowMs);
    std::uint64_t sum = 0;
    for (const std::uint64_t s : slots_) sum += s;
    return sum;
}

}  // namespace tessel::ferry
