// The catalogue's connections: one thread accepts them and gathers each request's line and
// headers, so that a connection holds no thread while it is idle or its request trickles in; a
// request whose headers are complete goes to one of a bounded number of answering threads.
//
// A request's line and headers must arrive within `requestTime` in total, a kept-alive
// connection's next request within `idleTime`; past that the connection is closed. When more
// connections are open than `maxConnections`, idle ones are closed first, then the ones whose
// request has waited longest. A connection that cannot get a thread is closed; the service goes
// on. Stop() ends everything within moments, whatever the clients do.
//
// An answer's body that comes from a file (the audio) is handed back to the loop, which writes
// it as fast as the client takes it without blocking: a client that stops reading holds only its
// socket and the file, never a thread, and is closed after `bodyStallTime` without progress.
#pragma once

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tessel::catalogue {

// pthread_create's shape: the call that starts an answering thread (tests put in one that fails).
using ThreadStart = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

struct ConnectionLimits {
    // Requests answered at once; threads are started as requests need them and end when idle.
    int threads = 512;
    // For a request's line and headers, in total, from its first byte (or from the connection).
    std::chrono::milliseconds requestTime{5000};
    // For a kept-alive connection's next request to begin.
    std::chrono::milliseconds idleTime{5000};
    // An answering thread with nothing to do for this long ends.
    std::chrono::milliseconds threadIdleTime{10000};
    // For a body being written from a file to make progress.
    std::chrono::milliseconds bodyStallTime{30000};
    size_t maxConnections = 4096;
    ThreadStart startThread = pthread_create;
};

// The rest of an answer that the loop writes from a file: `file` is the connection's own
// descriptor, closed with it.
struct FileBody {
    int file = -1;
    int64_t position = 0;
    int64_t remaining = 0;
    bool closeAfter = false;  // the connection ends with this answer
};

// An accepted connection: its socket (non-blocking) and the bytes read from it that no answer has
// used yet.
struct Connection {
    int fd = -1;
    std::string received;
    std::chrono::steady_clock::time_point deadline;
    bool idle = true;  // nothing of its next request has come yet
    FileBody body;     // being written by the loop while body.file >= 0

    Connection() = default;
    ~Connection();  // closes the socket
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
};

// True when `bytes` begin with a complete request line and header block.
bool HoldsRequestHead(const std::string& bytes);

class ConnectionLoop {
  public:
    // Answers the request at the front of `connection.received` (its head complete), taking the
    // bytes it used; true when the connection stays open for another request.
    using Answer = std::function<bool(Connection& connection)>;

    ConnectionLoop(ConnectionLimits limits, Answer answer);
    ~ConnectionLoop();
    ConnectionLoop(const ConnectionLoop&) = delete;
    ConnectionLoop& operator=(const ConnectionLoop&) = delete;

    // Serves connections accepted on `listening` (a listening socket, which stays the caller's)
    // until Stop(); false when it could not start.
    bool Run(int listening);
    // From any thread, before, during or after Run().
    void Stop();
    bool IsRunning() const;

  private:
    class Workers;
    void Wake();
    void TakeBack(std::unique_ptr<Connection> connection);

    const ConnectionLimits limits_;
    Answer answer_;
    std::unique_ptr<Workers> workers_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> returned_;  // kept alive, for the loop to wait on
    bool stopping_ = false;
    bool running_ = false;
    int wakeFd_ = -1;
};

}  // namespace tessel::catalogue
