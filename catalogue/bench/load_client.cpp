#include "load_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace tessel::catalogue::bench {

LoadConnection::LoadConnection(int port, int receiveBuffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval timeout{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Close();
    host_ = "127.0.0.1:" + std::to_string(port);
}

bool LoadConnection::Send(const std::string& target) {
    if (fd_ < 0) return false;
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + host_ + "\r\n\r\n";
    sent_ = Clock::now();
    if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        Close();
        return false;
    }
    return true;
}

int LoadConnection::Receive() {
    char chunk[16384];
    const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
    if (got <= 0) {
        Close();
        return -1;
    }
    buffer_.append(chunk, static_cast<size_t>(got));
    const size_t headerEnd = buffer_.find("\r\n\r\n");
    if (headerEnd == std::string::npos) return 0;
    const size_t lengthAt = buffer_.find("Content-Length: ");
    if (lengthAt == std::string::npos || lengthAt > headerEnd) {
        Close();
        return -1;
    }
    const size_t total = headerEnd + 4 + std::strtoul(buffer_.c_str() + lengthAt + 16, nullptr, 10);
    if (buffer_.size() < total) return 0;
    const int status = std::atoi(buffer_.c_str() + 9);
    answer_ = buffer_.substr(headerEnd + 4, total - headerEnd - 4);
    buffer_.erase(0, total);
    return status;
}

int LoadConnection::Exchange(const std::string& target) {
    if (!Send(target)) return -1;
    int status = 0;
    while (status == 0) status = Receive();
    return status;
}

void LoadConnection::SendRaw(const std::string& bytes) {
    if (fd_ >= 0) (void)::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

void LoadConnection::MakeNonBlocking() {
    if (fd_ >= 0) ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

void LoadConnection::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

HeldConnections::HeldConnections(int port, int count) {
    for (int i = 0; i < count; ++i) {
        connections_.push_back(std::make_unique<LoadConnection>(port));
        if (i % 2 == 1) connections_.back()->SendRaw("G");
    }
    trickle_ = std::thread([this] {
        const std::string rest = "ET /tessel/song/search/?q=the HTTP/1.1\r\n";
        for (size_t b = 0; !done_; b = (b + 1) % rest.size()) {
            for (size_t i = 1; i < connections_.size(); i += 2) {
                connections_[i]->SendRaw(rest.substr(b, 1));
            }
            for (int wait = 0; wait < 30 && !done_; ++wait) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
    });
}

HeldConnections::~HeldConnections() {
    done_ = true;
    trickle_.join();
}

std::string PercentEncode(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::string SearchTarget(const std::string& keyword, int count, int offset) {
    return "/tessel/song/search/?q=" + PercentEncode(keyword) +
           "&type=video&count=" + std::to_string(count) + "&offset=" + std::to_string(offset);
}

Timings FreshSearches(int port, const std::string& target, int rounds) {
    Timings t;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        LoadConnection connection(port);
        const int status = connection.Exchange(target);
        if (status != 200 && status != 503) {
            ++t.failures;
            continue;
        }
        if (status == 503) ++t.refused;
        t.answers.insert(connection.answer());
        t.milliseconds.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(t.milliseconds.begin(), t.milliseconds.end());
    return t;
}

}  // namespace tessel::catalogue::bench
