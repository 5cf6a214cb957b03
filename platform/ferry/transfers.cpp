#include "tessel/ferry/transfers.h"

#include <chrono>
#include <system_error>
#include <vector>

namespace tessel::ferry {

namespace {

std::int64_t NowSlice() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() / 100;
}

// Takes one answer after another into the part file and keeps count of what it holds.
class Receiver final : public BodyReceiver {
  public:
    Receiver(PartFile& file, SpeedMeter& meter) : file_(file), meter_(meter) {}

    std::int64_t received() const { return received_; }
    bool refused() const { return refused_; }
    // The body is whole when it is as long as announced (an unannounced one ends when it ends).
    bool whole() const { return total_ < 0 || received_ == total_; }

    bool OnHead(const ResponseHead& head) override {
        if (received_ > 0 && head.status == 206 && head.rangeStart == received_) {
            total_ = head.contentLength >= 0 ? received_ + head.contentLength : -1;
            return true;
        }
        if (head.status == 200) {
            // The whole body: the first answer, or a server that ignored the range.
            if (received_ > 0 && !file_.Restart()) return Refuse();
            received_ = 0;
            total_ = head.contentLength;
            return true;
        }
        return Refuse();
    }

    bool OnBody(const char* data, std::size_t size) override {
        if (!file_.Write(data, size)) return Refuse();
        received_ += static_cast<std::int64_t>(size);
        meter_.Add(size);
        return true;
    }

  private:
    bool Refuse() {
        refused_ = true;
        return false;
    }

    PartFile& file_;
    SpeedMeter& meter_;
    std::int64_t received_ = 0;
    std::int64_t total_ = -1;
    bool refused_ = false;
};

}  // namespace

void SpeedMeter::Advance(std::int64_t now) {
    if (now <= currentSlice_) return;
    if (now - currentSlice_ >= 10) {
        for (auto& s : slices_) s = 0;
    } else {
        for (std::int64_t s = currentSlice_ + 1; s <= now; ++s) slices_[s % 10] = 0;
    }
    currentSlice_ = now;
}

void SpeedMeter::Add(std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    Advance(NowSlice());
    slices_[currentSlice_ % 10] += bytes;
}

std::uint64_t SpeedMeter::LastSecond() {
    std::lock_guard lock(mutex_);
    Advance(NowSlice());
    std::uint64_t sum = 0;
    for (auto s : slices_) sum += s;
    return sum;
}

Transfers::~Transfers() {
    closing_ = true;
    std::list<std::unique_ptr<Transfer>> all;
    {
        std::lock_guard lock(mutex_);
        for (auto& t : transfers_) t->fetcher->Abort();
        all.swap(transfers_);
    }
    for (auto& t : all) {
        if (t->thread.joinable()) t->thread.join();
    }
}

std::int32_t Transfers::Start(const std::string& url, const std::string& path) {
    ReapEnded();
    auto t = std::make_unique<Transfer>();
    t->url = url;
    t->path = path;
    {
        std::lock_guard lock(mutex_);
        t->number = ++lastNumber_;
        t->fetcher = NewFetcher(bounds_);
        outcomes_[t->number] = Outcome::kRunning;
        ++running_;
    }
    Transfer* raw = t.get();
    auto finish = [this, raw](Outcome outcome) {
        std::lock_guard lock(mutex_);
        raw->ended = true;
        --running_;
        outcomes_[raw->number] = outcome;
        unreported_.push_back(raw->number);
    };
    try {
        t->thread = std::thread([this, raw, finish] { finish(Run(*raw)); });
    } catch (const std::system_error&) {
        finish(Outcome::kFailed);
    }
    const std::int32_t number = t->number;
    std::lock_guard lock(mutex_);
    transfers_.push_back(std::move(t));
    return number;
}

Outcome Transfers::Run(Transfer& t) {
    if (t.url.empty() || t.path.empty()) return Outcome::kFailed;
    std::unique_ptr<PartFile> file = CreatePartFile(t.path);
    if (file == nullptr) return Outcome::kFailed;
    Receiver receiver(*file, meter_);
    for (int resumes = 0;; ++resumes) {
        const FetchEnd end = t.fetcher->Get(t.url, receiver.received(), receiver);
        if (closing_) return Outcome::kCancelled;
        if (receiver.refused()) return Outcome::kFailed;
        if (end == FetchEnd::kEnded && receiver.whole()) {
            return file->Commit() ? Outcome::kCompleted : Outcome::kFailed;
        }
        // A body cut short is fetched on from where it broke; no answer at all, or a stall,
        // ends the transfer.
        const bool cutShort = end == FetchEnd::kDropped || end == FetchEnd::kEnded;
        if (!cutShort || resumes == kResumeTries) return Outcome::kFailed;
    }
}

void Transfers::ReapEnded() {
    std::vector<std::unique_ptr<Transfer>> ended;
    {
        std::lock_guard lock(mutex_);
        for (auto it = transfers_.begin(); it != transfers_.end();) {
            if ((*it)->ended) {
                ended.push_back(std::move(*it));
                it = transfers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& t : ended) {
        if (t->thread.joinable()) t->thread.join();
    }
}

std::uint64_t Transfers::CurrentSpeed() {
    if (RunningCount() == 0) return 0;
    return meter_.LastSecond();
}

std::int32_t Transfers::RunningCount() {
    std::lock_guard lock(mutex_);
    return running_;
}

std::int32_t Transfers::NextFinished() {
    ReapEnded();
    std::lock_guard lock(mutex_);
    if (unreported_.empty()) return 0;
    const std::int32_t number = unreported_.front();
    unreported_.pop_front();
    return number;
}

Outcome Transfers::OutcomeOf(std::int32_t number) {
    std::lock_guard lock(mutex_);
    const auto it = outcomes_.find(number);
    return it == outcomes_.end() ? Outcome::kUnknown : it->second;
}

void Transfers::SetBounds(const Bounds& bounds) {
    std::lock_guard lock(mutex_);
    bounds_ = bounds;
}

}  // namespace tessel::ferry
