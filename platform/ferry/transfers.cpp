#include "tessel/ferry/transfers.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <system_error>
#include <vector>

namespace tessel::ferry {

namespace {

std::int64_t NowSlice() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() / 100;
}

// Writes on a thread of its own while the next bytes are received: under Wine receiving and
// writing one after the other took twice as long as either. Holds two pieces of 1 MiB at most.
class WriteBehind {
  public:
    explicit WriteBehind(PartFile& file) : file_(file), writer_([this] { WriteLoop(); }) {
        filling_.reserve(kPiece);
        writing_.reserve(kPiece);
    }
    ~WriteBehind() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        writer_.join();
    }
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    bool Write(const char* data, std::size_t size) {
        while (size > 0) {
            const std::size_t n = std::min(size, kPiece - filling_.size());
            filling_.insert(filling_.end(), data, data + n);
            data += n;
            size -= n;
            if (filling_.size() == kPiece && !HandOver()) return false;
        }
        return true;
    }

    // Waits until everything handed in is on disk; false when a write failed.
    bool Flush() {
        if (!filling_.empty() && !HandOver()) return false;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        return !failed_;
    }

  private:
    static constexpr std::size_t kPiece = 1u << 20;

    bool HandOver() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        if (failed_) return false;
        filling_.swap(writing_);
        filling_.clear();
        busy_ = true;
        changed_.notify_all();
        return true;
    }

    void WriteLoop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return busy_ || stopping_; });
            if (!busy_) return;
            lock.unlock();
            const bool ok = file_.Write(writing_.data(), writing_.size());
            lock.lock();
            failed_ = failed_ || !ok;
            busy_ = false;
            changed_.notify_all();
        }
    }

    PartFile& file_;
    std::vector<char> filling_;  // the receiving thread's
    std::vector<char> writing_;  // the writer's while busy_
    std::mutex mutex_;
    std::condition_variable changed_;
    bool busy_ = false;
    bool failed_ = false;
    bool stopping_ = false;
    std::thread writer_;  // last: starts once the rest is ready
};

// Takes one answer after another into the part file and keeps count of what it holds.
class Receiver final : public BodyReceiver {
  public:
    Receiver(PartFile& file, SpeedMeter& meter) : file_(file), writer_(file), meter_(meter) {}

    // Everything received is on disk; false when it could not be written.
    bool Flush() { return writer_.Flush(); }

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
            if (received_ > 0 && (!writer_.Flush() || !file_.Restart())) return Refuse();
            received_ = 0;
            total_ = head.contentLength;
            return true;
        }
        return Refuse();
    }

    bool OnBody(const char* data, std::size_t size) override {
        if (!writer_.Write(data, size)) return Refuse();
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
    WriteBehind writer_;
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
            return receiver.Flush() && file->Commit() ? Outcome::kCompleted : Outcome::kFailed;
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
