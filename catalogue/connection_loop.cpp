#include "connection_loop.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>

namespace tessel::catalogue {
namespace {

using Clock = std::chrono::steady_clock;

// A head that has not ended within this many bytes goes to be answered as it is (the answer is
// then "address too long" or "bad request").
constexpr size_t kLongestHead = 64 * 1024;
// How often the loop looks for connections past their time, at the latest.
constexpr std::chrono::milliseconds kSweepInterval{100};
// Stack of an answering thread: a search and an answer need far less than the default 8 MB.
constexpr size_t kThreadStackBytes = 2 * 1024 * 1024;
// Bytes of one body written in one turn of the loop, so that every connection gets its turn.
constexpr size_t kBodyBytesPerTurn = 1024 * 1024;

}  // namespace

Connection::~Connection() {
    if (fd >= 0) ::close(fd);
    if (body.file >= 0) ::close(body.file);
}

bool HoldsRequestHead(const std::string& bytes) {
    return bytes.find("\r\n\r\n") != std::string::npos || bytes.find("\n\n") != std::string::npos;
}

// The answering threads. A connection whose head is complete waits in a queue for an idle
// thread; a new thread is started only when none is idle, and a thread idle for a while ends.
class ConnectionLoop::Workers {
  public:
    explicit Workers(ConnectionLoop& loop) : loop_(loop) {}

    void Submit(std::unique_ptr<Connection> connection) {
        std::vector<pthread_t> ended;
        {
            std::lock_guard lock(mutex_);
            ended.swap(ended_);
            if (stopping_) return;
            queue_.push_back(std::move(connection));
            if (idle_ < queue_.size() && !StartThread() && live_ == 0) {
                // No thread to answer it: the connection is closed, the service goes on.
                queue_.pop_back();
            }
            ready_.notify_one();
        }
        for (pthread_t thread : ended) pthread_join(thread, nullptr);
    }

    // Ends every thread: connections being answered are shut down so that no client can hold
    // a thread in a read or a write.
    void Stop() {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        queue_.clear();
        for (int fd : answering_) ::shutdown(fd, SHUT_RDWR);
        ready_.notify_all();
        allEnded_.wait(lock, [this] { return live_ == 0; });
        std::vector<pthread_t> ended;
        ended.swap(ended_);
        lock.unlock();
        for (pthread_t thread : ended) pthread_join(thread, nullptr);
    }

  private:
    bool StartThread() {
        if (live_ >= static_cast<size_t>(std::max(1, loop_.limits_.threads))) return false;
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, kThreadStackBytes);
        pthread_t thread;
        const int failed = loop_.limits_.startThread(&thread, &attributes, &ThreadMain, this);
        pthread_attr_destroy(&attributes);
        if (failed != 0) return false;
        ++live_;
        return true;
    }

    static void* ThreadMain(void* self) {
        static_cast<Workers*>(self)->Serve();
        return nullptr;
    }

    void Serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            const bool work = ready_.wait_for(lock, loop_.limits_.threadIdleTime,
                                              [this] { return stopping_ || !queue_.empty(); });
            --idle_;
            if (!work || stopping_) break;
            std::unique_ptr<Connection> connection = std::move(queue_.front());
            queue_.pop_front();
            answering_.insert(connection->fd);
            lock.unlock();
            bool keep = true;
            // A body left to the loop is written before the next request is read.
            do {
                keep = loop_.answer_(*connection);
            } while (keep && connection->body.file < 0 && HoldsRequestHead(connection->received));
            lock.lock();
            answering_.erase(connection->fd);
            if (keep && !stopping_) {
                lock.unlock();
                loop_.TakeBack(std::move(connection));
                lock.lock();
            }
        }
        --live_;
        ended_.push_back(pthread_self());
        allEnded_.notify_all();
    }

    ConnectionLoop& loop_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable allEnded_;
    std::deque<std::unique_ptr<Connection>> queue_;
    std::set<int> answering_;
    std::vector<pthread_t> ended_;  // threads that have ended, to be joined
    size_t live_ = 0;
    size_t idle_ = 0;
    bool stopping_ = false;
};

ConnectionLoop::ConnectionLoop(ConnectionLimits limits, Answer answer)
    : limits_(limits),
      answer_(std::move(answer)),
      workers_(std::make_unique<Workers>(*this)),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ConnectionLoop::~ConnectionLoop() {
    Stop();
    // Run() has ended (its caller joins it first); only threads of a loop that never ran remain.
    workers_->Stop();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void ConnectionLoop::Wake() {
    const uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
}

void ConnectionLoop::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    Wake();
}

bool ConnectionLoop::IsRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void ConnectionLoop::TakeBack(std::unique_ptr<Connection> connection) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        returned_.push_back(std::move(connection));
    }
    Wake();
}

bool ConnectionLoop::Run(int listening) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return true;
        if (wakeFd_ < 0) return false;
        running_ = true;
    }
    const int poller = ::epoll_create1(EPOLL_CLOEXEC);
    if (poller < 0) return false;
    ::fcntl(listening, F_SETFL, ::fcntl(listening, F_GETFL) | O_NONBLOCK);
    auto watch = [poller](int fd, uint32_t events = EPOLLIN | EPOLLRDHUP,
                          int operation = EPOLL_CTL_ADD) {
        epoll_event event{};
        event.events = events;
        event.data.fd = fd;
        return ::epoll_ctl(poller, operation, fd, &event) == 0;
    };
    watch(listening);
    watch(wakeFd_);

    std::unordered_map<int, std::unique_ptr<Connection>> waiting;
    auto forget = [&](int fd) {
        ::epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
        auto found = waiting.find(fd);
        std::unique_ptr<Connection> connection = std::move(found->second);
        waiting.erase(found);
        return connection;
    };
    // Makes room for one more: an idle connection goes first, else the one waited on longest.
    auto makeRoom = [&](bool always) {
        if ((!always && waiting.size() < limits_.maxConnections) || waiting.empty()) return false;
        auto worst = std::min_element(waiting.begin(), waiting.end(), [](auto& a, auto& b) {
            if (a.second->idle != b.second->idle) return a.second->idle;
            return a.second->deadline < b.second->deadline;
        });
        forget(worst->first);
        return true;
    };
    auto add = [&](std::unique_ptr<Connection> connection) {
        makeRoom(false);
        const int fd = connection->fd;
        const bool writing = connection->body.file >= 0;
        if (watch(fd, writing ? EPOLLOUT : EPOLLIN | EPOLLRDHUP)) {
            waiting.emplace(fd, std::move(connection));
        }
    };
    bool acceptPaused = false;
    auto accept = [&] {
        while (!acceptPaused) {
            const int fd = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                // Out of descriptors: a waiting connection makes room, or accepting pauses until
                // the next sweep (the listening socket would otherwise wake the loop at once).
                if ((errno == EMFILE || errno == ENFILE) && !makeRoom(true)) {
                    ::epoll_ctl(poller, EPOLL_CTL_DEL, listening, nullptr);
                    acceptPaused = true;
                }
                if (errno == EMFILE || errno == ENFILE) continue;
                return;  // none left
            }
            const int yes = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            auto connection = std::make_unique<Connection>();
            connection->fd = fd;
            connection->idle = false;
            connection->deadline = Clock::now() + limits_.requestTime;
            add(std::move(connection));
        }
    };
    auto receive = [&](int fd) {
        Connection& connection = *waiting.at(fd);
        char buffer[16 * 1024];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (got <= 0) {
            forget(fd);
            return;
        }
        if (connection.idle) {
            connection.idle = false;
            connection.deadline = Clock::now() + limits_.requestTime;
        }
        connection.received.append(buffer, static_cast<size_t>(got));
        if (HoldsRequestHead(connection.received) || connection.received.size() >= kLongestHead) {
            workers_->Submit(forget(fd));
        }
    };
    // Writes what the client takes of a body without waiting; once it is all written the
    // connection waits for its next request (which may have come meanwhile).
    auto send = [&](int fd) {
        Connection& connection = *waiting.at(fd);
        FileBody& body = connection.body;
        size_t sent = 0;
        while (body.remaining > 0 && sent < kBodyBytesPerTurn) {
            off_t position = body.position;
            const ssize_t wrote = ::sendfile(
                fd, body.file, &position,
                static_cast<size_t>(std::min<int64_t>(body.remaining, kBodyBytesPerTurn)));
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote < 0 && errno == EAGAIN) break;
            // A file cut short while it is sent ends the connection.
            if (wrote <= 0) {
                forget(fd);
                return;
            }
            body.position += wrote;
            body.remaining -= wrote;
            sent += static_cast<size_t>(wrote);
        }
        if (sent > 0) connection.deadline = Clock::now() + limits_.bodyStallTime;
        if (body.remaining > 0) return;
        ::close(body.file);
        const bool closeAfter = body.closeAfter;
        body = FileBody{};
        if (closeAfter) {
            forget(fd);
            return;
        }
        connection.idle = connection.received.empty();
        connection.deadline =
            Clock::now() + (connection.idle ? limits_.idleTime : limits_.requestTime);
        if (HoldsRequestHead(connection.received)) {
            workers_->Submit(forget(fd));
        } else if (!watch(fd, EPOLLIN | EPOLLRDHUP, EPOLL_CTL_MOD)) {
            forget(fd);
        }
    };
    auto takeReturned = [&] {
        uint64_t count = 0;
        (void)!::read(wakeFd_, &count, sizeof count);
        std::vector<std::unique_ptr<Connection>> returned;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return false;
            returned.swap(returned_);
        }
        for (auto& connection : returned) {
            connection->idle = connection->received.empty() && connection->body.file < 0;
            connection->deadline =
                Clock::now() + (connection->body.file >= 0 ? limits_.bodyStallTime
                                : connection->idle         ? limits_.idleTime
                                                           : limits_.requestTime);
            add(std::move(connection));
        }
        return true;
    };

    Clock::time_point nextSweep = Clock::now() + kSweepInterval;
    epoll_event events[256];
    bool serving = true;
    while (serving) {
        const int ready = ::epoll_wait(poller, events, std::size(events),
                                       static_cast<int>(kSweepInterval.count()));
        for (int i = 0; i < ready && serving; ++i) {
            const int fd = events[i].data.fd;
            if (fd == listening) {
                accept();
            } else if (fd == wakeFd_) {
                serving = takeReturned();
            } else if (auto found = waiting.find(fd); found != waiting.end()) {
                if (found->second->body.file >= 0) {
                    send(fd);
                } else {
                    receive(fd);
                }
            }
        }
        const Clock::time_point now = Clock::now();
        if (serving && now >= nextSweep) {
            std::erase_if(waiting, [&](auto& entry) {
                if (entry.second->deadline > now) return false;
                ::epoll_ctl(poller, EPOLL_CTL_DEL, entry.first, nullptr);
                return true;
            });
            nextSweep = now + kSweepInterval;
            if (acceptPaused) acceptPaused = !watch(listening);
        }
    }
    ::close(poller);
    waiting.clear();
    workers_->Stop();
    std::lock_guard lock(mutex_);
    returned_.clear();
    running_ = false;
    return true;
}

}  // namespace tessel::catalogue
