// One connection's request as cpp-httplib reads it and its answer as it writes it.
#pragma once

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "connection_loop.h"

namespace tessel::catalogue {

// A request as the library reads it: first the bytes the connection loop gathered, then the
// socket, until the connection's deadline; answers are written with a bounded wait per write,
// but for a body handed to the connection loop (see HandOff).
class ConnectionStream : public httplib::Stream {
  public:
    ConnectionStream(Connection& connection, std::chrono::seconds writeWait);
    ~ConnectionStream() override;
    ConnectionStream(const ConnectionStream&) = delete;
    ConnectionStream& operator=(const ConnectionStream&) = delete;

    // The stream whose answer this thread is making, if any.
    static ConnectionStream* Answering() { return answering_; }

    // The body's `length` bytes from `position` of `file` are written by the connection loop
    // once the answer is made; the library's writes of them are taken without being sent.
    bool HandOff(int file, int64_t position, int64_t length);
    bool HandedOff() const { return connection_.body.file >= 0; }

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* bytes, size_t size) override;
    ssize_t write(const char* bytes, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return connection_.fd; }

  private:
    // What is left of the time the request may take.
    std::chrono::milliseconds ReadWait() const;
    bool WaitFor(short events, std::chrono::milliseconds wait) const;
    static void Describe(const sockaddr_storage& address, std::string& ip, int& port);

    Connection& connection_;
    const std::chrono::seconds writeWait_;
    size_t used_ = 0;
    ConnectionStream* const outer_;
    static thread_local ConnectionStream* answering_;
};

}  // namespace tessel::catalogue
