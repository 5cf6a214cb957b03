#include "connection_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tessel::catalogue {
namespace {

// Bytes the system may hold for a client of an audio body (it doubles them for its own use).
constexpr int kBodySendBuffer = 128 * 1024;

}  // namespace

thread_local ConnectionStream* ConnectionStream::answering_ = nullptr;

ConnectionStream::ConnectionStream(Connection& connection, std::chrono::seconds writeWait)
    : connection_(connection), writeWait_(writeWait), outer_(answering_) {
    answering_ = this;
}

ConnectionStream::~ConnectionStream() {
    connection_.received.erase(0, used_);
    answering_ = outer_;
}

bool ConnectionStream::HandOff(int file, int64_t position, int64_t length) {
    if (connection_.body.file >= 0) return true;
    const int own = ::fcntl(file, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return false;
    connection_.body = FileBody{own, position, length, false};
    // A fixed send buffer: the system would grow it to megabytes for each download, and a
    // thousand stalled ones would put every connection's writes under memory pressure.
    ::setsockopt(connection_.fd, SOL_SOCKET, SO_SNDBUF, &kBodySendBuffer, sizeof kBodySendBuffer);
    return true;
}

bool ConnectionStream::is_readable() const {
    return used_ < connection_.received.size() || WaitFor(POLLIN, ReadWait());
}

bool ConnectionStream::is_writable() const {
    return HandedOff() || WaitFor(POLLOUT, writeWait_);
}

ssize_t ConnectionStream::read(char* bytes, size_t size) {
    if (used_ < connection_.received.size()) {
        const size_t taken = std::min(size, connection_.received.size() - used_);
        std::memcpy(bytes, connection_.received.data() + used_, taken);
        used_ += taken;
        return static_cast<ssize_t>(taken);
    }
    for (;;) {
        const ssize_t got = ::recv(connection_.fd, bytes, size, 0);
        if (got >= 0) return got;
        if (errno == EINTR) continue;
        if (errno != EAGAIN || !WaitFor(POLLIN, ReadWait())) return -1;
    }
}

ssize_t ConnectionStream::write(const char* bytes, size_t size) {
    if (HandedOff()) return static_cast<ssize_t>(size);
    for (;;) {
        const ssize_t sent = ::send(connection_.fd, bytes, size, MSG_NOSIGNAL);
        if (sent >= 0) return sent;
        if (errno == EINTR) continue;
        if (errno != EAGAIN || !WaitFor(POLLOUT, writeWait_)) return -1;
    }
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(connection_.fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        Describe(address, ip, port);
    }
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(connection_.fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        Describe(address, ip, port);
    }
}

std::chrono::milliseconds ConnectionStream::ReadWait() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(connection_.deadline -
                                                                 std::chrono::steady_clock::now());
}

bool ConnectionStream::WaitFor(short events, std::chrono::milliseconds wait) const {
    if (wait.count() <= 0) return false;
    pollfd p{connection_.fd, events, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, static_cast<int>(wait.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

void ConnectionStream::Describe(const sockaddr_storage& address, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    } else {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    }
    ip = text;
}

}  // namespace tessel::catalogue
