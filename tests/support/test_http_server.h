#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for tests: it runs on its own threads inside the test
// process, answers each request through a handler and records exactly what it received. One
// request per connection; every answer closes its connection. Plain sockets (Winsock on Windows).
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tessel::testing {

struct ReceivedRequest {
    std::string requestLine;  // e.g. "GET /a?b HTTP/1.1"
    std::string headerBlock;  // the header lines as received, joined by CR LF, no trailing CR LF
    std::string body;         // as many bytes as Content-Length said

    std::string Method() const;
    std::string Target() const;
    std::vector<std::string> HeaderLines() const;
    // Values of every line with this name (letter case ignored), in order.
    std::vector<std::string> HeaderValues(std::string_view name) const;
    // The first such value, or empty.
    std::string Header(std::string_view name) const;
};

struct ServerResponse {
    std::string status = "200 OK";
    std::vector<std::string> headers;  // "Name: value" lines; Content-Length is added
    std::string body;
    // Bytes of the test pattern sent after `body`, generated on the fly (for large bodies).
    std::uint64_t patternBytes = 0;
    // Keep the connection open without answering (until the server stops, or 20 s at most).
    bool neverAnswer = false;
    // Bytes counted in Content-Length but never sent: after the rest, the connection stays open
    // as with neverAnswer (a transfer stalled half-way).
    std::uint64_t withheldBytes = 0;
};

class TestHttpServer {
  public:
    using Handler = std::function<ServerResponse(const ReceivedRequest&)>;

    explicit TestHttpServer(Handler handler);
    ~TestHttpServer();  // closes every connection and joins every thread
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    bool ok() const { return port_ != 0; }
    std::uint16_t port() const { return port_; }
    std::string HostPort() const;                  // "127.0.0.1:port"
    std::string Url(std::string_view path) const;  // "http://127.0.0.1:port" + path

    std::vector<ReceivedRequest> Requests() const;
    ReceivedRequest LastRequest() const;  // an empty one when none came

    // The test pattern: byte `offset` of a generated body.
    static std::uint8_t PatternByte(std::uint64_t offset) {
        return static_cast<std::uint8_t>(offset % 251);
    }

  private:
    void AcceptLoop();
    void Serve(std::uintptr_t connection);

    Handler handler_;
    std::uintptr_t listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<ReceivedRequest> requests_;
};

}  // namespace tessel::testing
