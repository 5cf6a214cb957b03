#pragma once
// The part file's writer thread: the receiving thread hands it full pieces and goes on receiving.
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "tessel/ferry/platform_seams.h"

namespace tessel::ferry {

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

}  // namespace tessel::ferry
