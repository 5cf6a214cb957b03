#include "test_http_server.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tessel::testing {

namespace {

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket s) {
    closesocket(s);
}
constexpr int kSendFlags = 0;
struct WinsockStart {
    WinsockStart() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void CloseSocket(Socket s) {
    close(s);
}
constexpr int kSendFlags = MSG_NOSIGNAL;  // a client that went away must not kill the tests
#endif

Socket AsSocket(std::uintptr_t s) {
    return static_cast<Socket>(s);
}

constexpr auto kNeverAnswerLimit = std::chrono::seconds(20);
constexpr int kReadTimeoutSeconds = 10;

// Waits up to `ms` for the socket to become readable.
bool WaitReadable(Socket s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &tv) > 0;
}

bool SendAll(Socket s, const char* data, std::size_t size) {
    while (size > 0) {
        const int n =
            send(s, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)), kSendFlags);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return std::string(s);
}

// Reads one request: the head up to the blank line, then Content-Length bytes of body.
bool ReadRequest(Socket s, ReceivedRequest& out) {
    std::string data;
    char buf[16384];
    std::size_t headEnd = std::string::npos;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (!WaitReadable(s, kReadTimeoutSeconds * 1000)) return false;
        const int n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) return false;
        data.append(buf, static_cast<std::size_t>(n));
    }
    const std::string head = data.substr(0, headEnd);
    const std::size_t lineEnd = head.find("\r\n");
    out.requestLine = head.substr(0, lineEnd);
    out.headerBlock = lineEnd == std::string::npos ? std::string() : head.substr(lineEnd + 2);
    out.body = data.substr(headEnd + 4);
    const std::string lengthText = out.Header("Content-Length");
    const std::size_t length = lengthText.empty() ? 0 : std::stoul(lengthText);
    while (out.body.size() < length) {
        if (!WaitReadable(s, kReadTimeoutSeconds * 1000)) return false;
        const int n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) return false;
        out.body.append(buf, static_cast<std::size_t>(n));
    }
    out.body.resize(length);
    return true;
}

// Sends the bytes of the test pattern from `offset`, in pieces of 64 KiB (each a chunk of its
// own when chunked); `pauseMs` after every piece but the last.
bool SendPattern(Socket s, std::uint64_t offset, std::uint64_t count, std::uint32_t pauseMs,
                 bool chunked) {
    // One period of the pattern more than a chunk, so every chunk is a slice of it.
    constexpr std::size_t kChunk = 64 * 1024;
    static const std::string period = [] {
        std::string p(kChunk + 251, '\0');
        for (std::size_t i = 0; i < p.size(); ++i)
            p[i] = static_cast<char>(TestHttpServer::PatternByte(i));
        return p;
    }();
    for (std::uint64_t sent = 0; sent < count;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, count - sent));
        if (!SendAll(s, period.data() + (offset + sent) % 251, n)) return false;
        sent += n;
        if (chunked && !SendAll(s, "\r\n", 2)) return false;
        if (pauseMs != 0 && sent < count) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
    }
    return true;
}

std::string ChunkSize(std::uint64_t size) {
    char text[32];
    std::snprintf(text, sizeof text, "%llx\r\n", static_cast<unsigned long long>(size));
    return text;
}

// The body (`body`, then `count` pattern bytes from `offset`) as the framing wants it. A chunked
// body cut short ends inside its last chunk.
bool SendBody(Socket s, const ServerResponse& r, std::uint64_t count, bool whole) {
    const bool chunked = r.framing == ServerResponse::Framing::kChunked;
    const std::size_t fromBody =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, r.body.size()));
    if (chunked && fromBody > 0) {
        const std::string size = ChunkSize(r.body.size());
        if (!SendAll(s, size.data(), size.size())) return false;
    }
    if (!SendAll(s, r.body.data(), fromBody)) return false;
    if (chunked && fromBody == r.body.size() && fromBody > 0 && !SendAll(s, "\r\n", 2)) {
        return false;
    }
    if (!chunked) return SendPattern(s, r.patternOffset, count - fromBody, r.pauseMs, false);
    // Chunks of 64 KiB: each one's size line announces the whole chunk.
    constexpr std::uint64_t kChunk = 64 * 1024;
    const std::uint64_t pattern = count - fromBody;
    const std::uint64_t announced = r.patternBytes;
    for (std::uint64_t sent = 0; sent < pattern;) {
        const std::uint64_t chunk = std::min(kChunk, announced - sent);
        const std::string size = ChunkSize(chunk);
        const std::uint64_t n = std::min(chunk, pattern - sent);
        if (!SendAll(s, size.data(), size.size()) ||
            !SendPattern(s, r.patternOffset + sent, n, 0, n == chunk)) {
            return false;
        }
        sent += n;
        if (r.pauseMs != 0 && sent < pattern) {
            std::this_thread::sleep_for(std::chrono::milliseconds(r.pauseMs));
        }
    }
    return !whole || SendAll(s, "0\r\n\r\n", 5);
}

}  // namespace

std::string ReceivedRequest::Method() const {
    return requestLine.substr(0, requestLine.find(' '));
}

std::string ReceivedRequest::Target() const {
    const std::size_t a = requestLine.find(' ');
    const std::size_t b = requestLine.rfind(' ');
    return a == std::string::npos || b <= a ? std::string() : requestLine.substr(a + 1, b - a - 1);
}

std::vector<std::string> ReceivedRequest::HeaderLines() const {
    std::vector<std::string> lines;
    std::size_t i = 0;
    while (i < headerBlock.size()) {
        std::size_t end = headerBlock.find("\r\n", i);
        if (end == std::string::npos) end = headerBlock.size();
        lines.push_back(headerBlock.substr(i, end - i));
        i = end + 2;
    }
    return lines;
}

std::vector<std::string> ReceivedRequest::HeaderValues(std::string_view name) const {
    std::vector<std::string> values;
    for (const std::string& line : HeaderLines()) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos &&
            EqualIgnoringCase(std::string_view(line).substr(0, colon), name)) {
            values.push_back(Trim(std::string_view(line).substr(colon + 1)));
        }
    }
    return values;
}

std::string ReceivedRequest::Header(std::string_view name) const {
    const auto values = HeaderValues(name);
    return values.empty() ? std::string() : values.front();
}

TestHttpServer::TestHttpServer(Handler handler, std::uint16_t port) : handler_(std::move(handler)) {
#ifdef _WIN32
    static WinsockStart winsock;
#endif
    const Socket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    listener_ = static_cast<std::uintptr_t>(s);
    if (s == kNoSocket) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (port != 0) {
        // A fixed port that an earlier test's connections still wait on is free to take.
        const int on = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    }
    socklen_t size = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 64) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        CloseSocket(s);
        return;
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    stopping_ = true;
    if (acceptThread_.joinable()) acceptThread_.join();
    if (AsSocket(listener_) != kNoSocket) CloseSocket(AsSocket(listener_));
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& w : workers) w.join();
}

std::string TestHttpServer::HostPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}
std::string TestHttpServer::Url(std::string_view path) const {
    return "http://" + HostPort() + std::string(path);
}

std::vector<ReceivedRequest> TestHttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int TestHttpServer::PeakConnections() const {
    std::lock_guard lock(mutex_);
    return peakConnections_;
}

ReceivedRequest TestHttpServer::LastRequest() const {
    std::lock_guard lock(mutex_);
    return requests_.empty() ? ReceivedRequest{} : requests_.back();
}

void TestHttpServer::AcceptLoop() {
    const Socket listener = AsSocket(listener_);
    while (!stopping_) {
        if (!WaitReadable(listener, 100)) continue;
        const Socket c = accept(listener, nullptr, nullptr);
        if (c == kNoSocket) continue;
        std::lock_guard lock(mutex_);
        workers_.emplace_back([this, c] { Serve(static_cast<std::uintptr_t>(c)); });
    }
}

void TestHttpServer::Serve(std::uintptr_t connection) {
    const Socket s = AsSocket(connection);
    {
        std::lock_guard lock(mutex_);
        peakConnections_ = std::max(peakConnections_, ++openConnections_);
    }
    ReceivedRequest request;
    if (ReadRequest(s, request)) {
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        const ServerResponse response = handler_(request);
        auto hold = [this] {
            const auto until = std::chrono::steady_clock::now() + kNeverAnswerLimit;
            while (!stopping_ && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        };
        if (response.neverAnswer) {
            hold();
        } else {
            const std::uint64_t whole = response.body.size() + response.patternBytes;
            std::string head = "HTTP/1.1 " + response.status + "\r\n";
            for (const std::string& h : response.headers) head += h + "\r\n";
            switch (response.framing) {
                case ServerResponse::Framing::kContentLength:
                    head += "Content-Length: " + std::to_string(whole + response.withheldBytes) +
                            "\r\n";
                    break;
                case ServerResponse::Framing::kChunked:
                    head += "Transfer-Encoding: chunked\r\n";
                    break;
                case ServerResponse::Framing::kUntilClose:
                    break;
            }
            head += "Connection: close\r\n\r\n";
            const bool headOnly = request.Method() == "HEAD";
            const std::uint64_t sent = std::min({whole, response.dropAfter, response.stallAfter});
            if (SendAll(s, head.data(), head.size()) && !headOnly &&
                SendBody(s, response, sent, sent == whole) && sent == response.stallAfter &&
                sent < whole) {
                hold();
            }
            if (response.withheldBytes > 0) hold();
        }
    }
    {
        std::lock_guard lock(mutex_);
        --openConnections_;
    }
#ifdef _WIN32
    shutdown(s, SD_SEND);
#else
    shutdown(s, SHUT_WR);
#endif
    // Let the client read to the end before the socket goes.
    char drain[4096];
    while (WaitReadable(s, 1000) && recv(s, drain, sizeof drain, 0) > 0) {
    }
    CloseSocket(s);
}

}  // namespace tessel::testing
