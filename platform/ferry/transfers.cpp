#include "tessel/ferry/transfers.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "receiver.h"

namespace tessel::ferry {

namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

struct Transfer {
    std::int32_t number = 0;
    std::string url;
    std::string path;
    std::unique_ptr<Fetcher> fetcher;
    SpeedMeter meter;
    std::shared_ptr<PartFile> part;  // while it runs; under State::mutex
};

}  // namespace

struct Transfers::State {
    std::mutex mutex;
    std::condition_variable changed;
    Bounds bounds;
    std::int32_t lastNumber = 0;
    bool closing = false;
    std::deque<std::shared_ptr<Transfer>> waiting;
    std::vector<std::shared_ptr<Transfer>> running;
    std::map<std::int32_t, Outcome> outcomes;
    std::deque<std::int32_t> unreported;
    std::set<std::string> sweptFolders;
    // The threads that take waiting transfers one after another, by a number of their own;
    // a thread that found nothing more to do is listed in `idle` and joined later.
    std::map<int, std::thread> workers;
    std::vector<int> idle;
    int lastWorker = 0;

    void End(const Transfer& t, Outcome outcome) {
        outcomes[t.number] = outcome;
        unreported.push_back(t.number);
    }

    // Joins the threads that have ended; called without the lock.
    void JoinIdle() {
        std::vector<std::thread> ended;
        {
            std::lock_guard lock(mutex);
            for (const int id : idle) {
                ended.push_back(std::move(workers[id]));
                workers.erase(id);
            }
            idle.clear();
        }
        for (auto& t : ended) t.join();
    }
};

namespace {

Outcome Run(Transfers::State& state, Transfer& t) {
    if (t.url.empty() || t.path.empty()) return Outcome::kFailed;
    {
        // Part files a killed run left in this folder go the first time it is used.
        std::unique_lock lock(state.mutex);
        if (state.sweptFolders.insert(FolderOf(t.path)).second) {
            lock.unlock();
            SweepPartFiles(t.path);
        }
    }
    std::shared_ptr<PartFile> file = CreatePartFile(t.path);
    if (file == nullptr) return Outcome::kFailed;
    {
        std::lock_guard lock(state.mutex);
        if (state.closing) return Outcome::kCancelled;
        t.part = file;
    }
    Receiver receiver(*file, t.meter);
    bool startedOver = false;
    for (int resumes = 0;;) {
        const FetchEnd end = t.fetcher->Get(t.url, receiver.NextRequest(), receiver);
        if (end == FetchEnd::kStopped && receiver.startOverWanted()) {
            // A file that changed on the server, or a range it cannot give: once from zero.
            if (startedOver || !receiver.StartOver()) return Outcome::kFailed;
            startedOver = true;
            continue;
        }
        if (receiver.refused()) return Outcome::kFailed;
        if (end == FetchEnd::kStopped) return Outcome::kCancelled;
        if (end == FetchEnd::kEnded && receiver.whole()) {
            return receiver.Flush() && file->Commit() ? Outcome::kCompleted : Outcome::kFailed;
        }
        // A body cut short is fetched on from where it broke; no answer at all, or a stall,
        // ends the transfer.
        const bool cutShort = end == FetchEnd::kDropped || end == FetchEnd::kEnded;
        if (!cutShort || resumes == kResumeTries) return Outcome::kFailed;
        ++resumes;
    }
}

// One worker: runs waiting transfers one after another until none waits.
void Work(const std::shared_ptr<Transfers::State>& state, int id) {
    std::unique_lock lock(state->mutex);
    while (!state->closing && !state->waiting.empty()) {
        std::shared_ptr<Transfer> t = std::move(state->waiting.front());
        state->waiting.pop_front();
        state->running.push_back(t);
        lock.unlock();
        Outcome outcome = Run(*state, *t);
        lock.lock();
        std::erase(state->running, t);
        t->part.reset();
        // What a release interrupted counts as cancelled, whatever the network said.
        if (state->closing && outcome != Outcome::kCompleted) outcome = Outcome::kCancelled;
        state->End(*t, outcome);
    }
    state->idle.push_back(id);
    state->changed.notify_all();
}

}  // namespace

Transfers::Transfers() : state_(std::make_shared<State>()) {}

Transfers::~Transfers() {
    State& s = *state_;
    std::vector<std::shared_ptr<Transfer>> left;
    {
        std::unique_lock lock(s.mutex);
        s.closing = true;
        for (const auto& t : s.waiting) s.End(*t, Outcome::kCancelled);
        s.waiting.clear();
        for (const auto& t : s.running) t->fetcher->Abort();
        s.changed.wait_for(lock, std::chrono::milliseconds(kReleaseWaitMs),
                           [&] { return s.running.empty(); });
        left = s.running;
    }
    // A transfer still waiting for its network read (Wine 8 ends one only at its time-out)
    // loses its part file now and ends on its own later.
    for (const auto& t : left) {
        std::shared_ptr<PartFile> part;
        {
            std::lock_guard lock(s.mutex);
            part = t->part;
        }
        if (part != nullptr) part->Discard();
    }
    s.JoinIdle();
    std::lock_guard lock(s.mutex);
    for (auto& [id, thread] : s.workers) thread.detach();
    s.workers.clear();
}

std::int32_t Transfers::Start(const std::string& url, const std::string& path) {
    state_->JoinIdle();
    auto t = std::make_shared<Transfer>();
    t->url = url;
    t->path = path;
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    t->number = ++s.lastNumber;
    t->fetcher = NewFetcher(s.bounds);
    s.outcomes[t->number] = Outcome::kRunning;
    s.waiting.push_back(t);
    if (static_cast<int>(s.workers.size() - s.idle.size()) < kMostAtOnce) {
        const int id = ++s.lastWorker;
        try {
            s.workers.emplace(id, std::thread(Work, state_, id));
        } catch (const std::system_error&) {
            // No thread for it now: it waits for a running one to take it, or fails alone.
            if (s.workers.size() == s.idle.size()) {
                s.waiting.pop_back();
                s.End(*t, Outcome::kFailed);
            }
        }
    }
    return t->number;
}

std::uint64_t Transfers::CurrentSpeed() {
    std::lock_guard lock(state_->mutex);
    const std::int64_t now = SteadyMilliseconds();
    std::uint64_t sum = 0;
    for (const auto& t : state_->running) sum += t->meter.LastSecond(now);
    return sum;
}

std::int32_t Transfers::RunningCount() {
    std::lock_guard lock(state_->mutex);
    return static_cast<std::int32_t>(state_->waiting.size() + state_->running.size());
}

std::int32_t Transfers::NextFinished() {
    state_->JoinIdle();
    std::lock_guard lock(state_->mutex);
    if (state_->unreported.empty()) return 0;
    const std::int32_t number = state_->unreported.front();
    state_->unreported.pop_front();
    return number;
}

Outcome Transfers::OutcomeOf(std::int32_t number) {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->outcomes.find(number);
    return it == state_->outcomes.end() ? Outcome::kUnknown : it->second;
}

void Transfers::SetBounds(const Bounds& bounds) {
    std::lock_guard lock(state_->mutex);
    state_->bounds = bounds;
}

}  // namespace tessel::ferry
