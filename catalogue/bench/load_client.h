// The benchmark's clients: kept-alive connections that one thread can drive many of, fresh
// connections timed one search each, and connections held open silent or slow.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tessel::catalogue::bench {

using Clock = std::chrono::steady_clock;

// One kept-alive HTTP/1.1 connection of the load generator: a request is sent whole, the answer
// is read as it comes (Content-Length bodies only), so one thread can drive many connections.
class LoadConnection {
  public:
    // `receiveBuffer` > 0 keeps the receive buffer that small, as a client that stops reading
    // early fills it.
    explicit LoadConnection(int port, int receiveBuffer = 0);
    ~LoadConnection() { Close(); }
    LoadConnection(const LoadConnection&) = delete;
    LoadConnection& operator=(const LoadConnection&) = delete;

    int fd() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    Clock::time_point sent() const { return sent_; }

    bool Send(const std::string& target);
    // Reads what has arrived; the status once the answer is complete, 0 while it is not, -1 on
    // failure.
    int Receive();
    // One whole request and answer, waiting as long as the socket's time-out allows.
    int Exchange(const std::string& target);
    // Bytes of a request that is not finished yet.
    void SendRaw(const std::string& bytes);
    // The body of the last complete answer.
    const std::string& answer() const { return answer_; }
    void MakeNonBlocking();

  private:
    void Close();

    int fd_ = -1;
    std::string host_;
    std::string buffer_;
    std::string answer_;
    Clock::time_point sent_;
};

// Connections that a client holds open: half send nothing, half send a request a byte every
// three seconds (as a background thread does while they are held).
class HeldConnections {
  public:
    HeldConnections(int port, int count);
    ~HeldConnections();
    HeldConnections(const HeldConnections&) = delete;
    HeldConnections& operator=(const HeldConnections&) = delete;

  private:
    std::vector<std::unique_ptr<LoadConnection>> connections_;
    std::atomic<bool> done_{false};
    std::thread trickle_;
};

std::string PercentEncode(const std::string& text);
std::string SearchTarget(const std::string& keyword, int count, int offset);

struct Timings {
    std::vector<double> milliseconds;  // sorted; answers and refusals alike
    long refused = 0;                  // 503: the search needed more checks than allowed
    long failures = 0;
    std::set<std::string> answers;  // distinct bodies: one when every run answered alike
};

// `rounds` searches for `target`, each from a connection opened for it, as a new client sends.
Timings FreshSearches(int port, const std::string& target, int rounds);

}  // namespace tessel::catalogue::bench
