#include "catalogue_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <system_error>

namespace tessel::catalogue::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "tessel-catalogue-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
}

bool AddSong(const fs::path& file, const SongTags& tags) {
    static TempFolder scratch;
    static const fs::path untagged = scratch.path() / "untagged.mp3";
    static const bool made = [] {
        std::string error;
        return WriteSongFile(untagged, SongTags{}, 1.0, 7, error);
    }();
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (!made || ec) return false;
    fs::copy_file(untagged, file, fs::copy_options::overwrite_existing, ec);
    std::string error;
    return !ec && WriteSongTags(file, tags, error);
}

std::unique_ptr<Database> GeneratedIndex(const fs::path& file, int songs) {
    std::string error;
    std::unique_ptr<Database> database = Database::Open(file.string(), error);
    if (!database || !database->Begin()) return nullptr;
    for (int i = 0; i < songs; ++i) {
        SongRecord song;
        song.path = std::to_string(i) + ".mp3";
        song.collectionName = "generated";
        song.title = "Vol " + std::to_string(i);
        if (!database->AddSong(song)) return nullptr;
    }
    if (!database->Commit()) return nullptr;
    return database;
}

RunningCatalogue::RunningCatalogue(const fs::path& library, const fs::path& index,
                                   const ScanOptions& options, const ServerOptions& server) {
    std::string error;
    database_ = Database::Open(index.string(), error);
    if (!database_) return;
    const std::optional<ScanReport> report = UpdateIndex(*database_, library, error, options);
    if (!report) return;
    report_ = *report;
    Serve(library, server);
}

RunningCatalogue::RunningCatalogue(std::unique_ptr<Database> database, const ServerOptions& server)
    : database_(std::move(database)) {
    if (database_) Serve(fs::path(), server);
}

void RunningCatalogue::Serve(const fs::path& library, const ServerOptions& options) {
    server_ = std::make_unique<CatalogueServer>(*database_, library, options);
    std::string error;
    port_ = server_->Bind("127.0.0.1", 0, error);
    if (port_ <= 0) return;
    serving_ = std::thread([this] { server_->Run(); });
    for (int i = 0; i < 500 && !server_->IsRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    running_ = server_->IsRunning();
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client_->set_connection_timeout(5);
    client_->set_read_timeout(5);
    client_->set_write_timeout(5);
    // Targets go out exactly as the tests write them, escapes and all.
    client_->set_url_encode(false);
}

bool RunningCatalogue::StopWithin(std::chrono::milliseconds limit) {
    const auto start = std::chrono::steady_clock::now();
    server_->Stop();
    if (serving_.joinable()) serving_.join();
    return std::chrono::steady_clock::now() - start < limit;
}

RunningCatalogue::~RunningCatalogue() {
    client_.reset();
    if (server_) server_->Stop();
    if (serving_.joinable()) serving_.join();
}

httplib::Result RunningCatalogue::Get(const std::string& target, const httplib::Headers& headers) {
    return client_->Get(target, headers);
}

std::optional<JsonValue> RunningCatalogue::GetJson(const std::string& target, int expectedStatus) {
    const httplib::Result result = Get(target);
    if (!result || result->status != expectedStatus ||
        result->get_header_value("Content-Type") != "application/json; charset=utf-8") {
        return std::nullopt;
    }
    return ParseJson(result->body);
}

RawConnection::RawConnection(int port, int receiveBuffer)
    : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (receiveBuffer > 0) {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

RawConnection::~RawConnection() {
    ::close(fd_);
}

void RawConnection::Send(const std::string& bytes) {
    (void)::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

bool RawConnection::Untouched() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
}

std::string RawConnection::Receive(std::chrono::milliseconds wait, bool& closed) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::string bytes;
    closed = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return bytes;
        char chunk[4096];
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got <= 0) {
            closed = true;
            return bytes;
        }
        bytes.append(chunk, static_cast<size_t>(got));
    }
}

namespace {

// Whether `bytes` hold a whole answer: the head and as many body bytes as it announces.
bool WholeAnswer(const std::string& bytes) {
    const size_t headEnd = bytes.find("\r\n\r\n");
    if (headEnd == std::string::npos) return false;
    std::string head = bytes.substr(0, headEnd);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t length = head.find("\r\ncontent-length:");
    if (length == std::string::npos) return false;
    const size_t bodySize = std::strtoull(head.c_str() + length + 17, nullptr, 10);
    return bytes.size() - (headEnd + 4) >= bodySize;
}

}  // namespace

std::string RawConnection::ReceiveAnswer(std::chrono::milliseconds wait, bool& closed) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::string bytes;
    closed = false;
    while (!WholeAnswer(bytes)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char chunk[4096];
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got <= 0) {
            closed = true;
            break;
        }
        bytes.append(chunk, static_cast<size_t>(got));
    }
    return bytes;
}

std::vector<std::string> Titles(const JsonValue& answer) {
    std::vector<std::string> titles;
    for (const JsonValue& song : answer["data"].items) titles.push_back(song["title"].text);
    return titles;
}

}  // namespace tessel::catalogue::testing
