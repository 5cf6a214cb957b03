#include "http_api.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "request.h"
#include "search_text.h"

namespace tessel::catalogue {
namespace {

constexpr std::string_view kSearchPath = "/tessel/song/search/";
constexpr std::string_view kCollectionsPath = "/tessel/music/collections/";
constexpr std::string_view kSongsSuffix = "/songs/";
constexpr std::string_view kMediaPath = "/media/";
constexpr std::string_view kMediaSuffix = ".mp3";
constexpr const char* kJsonType = "application/json; charset=utf-8";

// --- connections --------------------------------------------------------------------------

// Bytes the system may hold for a client of an audio body (it doubles them for its own use).
constexpr int kBodySendBuffer = 128 * 1024;

// A request as the library reads it: first the bytes the connection loop gathered, then the
// socket, until the connection's deadline; answers are written with a bounded wait per write,
// but for a body handed to the connection loop (see HandOff).
class ConnectionStream : public httplib::Stream {
  public:
    ConnectionStream(Connection& connection, std::chrono::seconds writeWait)
        : connection_(connection), writeWait_(writeWait), outer_(answering_) {
        answering_ = this;
    }
    ~ConnectionStream() override {
        connection_.received.erase(0, used_);
        answering_ = outer_;
    }
    ConnectionStream(const ConnectionStream&) = delete;
    ConnectionStream& operator=(const ConnectionStream&) = delete;

    // The stream whose answer this thread is making, if any.
    static ConnectionStream* Answering() { return answering_; }

    // The body's `length` bytes from `position` of `file` are written by the connection loop
    // once the answer is made; the library's writes of them are taken without being sent.
    bool HandOff(int file, int64_t position, int64_t length) {
        if (connection_.body.file >= 0) return true;
        const int own = ::fcntl(file, F_DUPFD_CLOEXEC, 0);
        if (own < 0) return false;
        connection_.body = FileBody{own, position, length, false};
        // A fixed send buffer: the system would grow it to megabytes for each download, and a
        // thousand stalled ones would put every connection's writes under memory pressure.
        ::setsockopt(connection_.fd, SOL_SOCKET, SO_SNDBUF, &kBodySendBuffer,
                     sizeof kBodySendBuffer);
        return true;
    }
    bool HandedOff() const { return connection_.body.file >= 0; }

    bool is_readable() const override {
        return used_ < connection_.received.size() || WaitFor(POLLIN, ReadWait());
    }
    bool is_writable() const override { return HandedOff() || WaitFor(POLLOUT, writeWait_); }

    ssize_t read(char* bytes, size_t size) override {
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

    ssize_t write(const char* bytes, size_t size) override {
        if (HandedOff()) return static_cast<ssize_t>(size);
        for (;;) {
            const ssize_t sent = ::send(connection_.fd, bytes, size, MSG_NOSIGNAL);
            if (sent >= 0) return sent;
            if (errno == EINTR) continue;
            if (errno != EAGAIN || !WaitFor(POLLOUT, writeWait_)) return -1;
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getpeername(connection_.fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            Describe(address, ip, port);
        }
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(connection_.fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            Describe(address, ip, port);
        }
    }
    socket_t socket() const override { return connection_.fd; }

  private:
    // What is left of the time the request may take.
    std::chrono::milliseconds ReadWait() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            connection_.deadline - std::chrono::steady_clock::now());
    }

    bool WaitFor(short events, std::chrono::milliseconds wait) const {
        if (wait.count() <= 0) return false;
        pollfd p{connection_.fd, events, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, static_cast<int>(wait.count()));
        } while (ready < 0 && errno == EINTR);
        return ready > 0;
    }

    static void Describe(const sockaddr_storage& address, std::string& ip, int& port) {
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

    Connection& connection_;
    const std::chrono::seconds writeWait_;
    size_t used_ = 0;
    ConnectionStream* const outer_;
    static thread_local ConnectionStream* answering_;
};

thread_local ConnectionStream* ConnectionStream::answering_ = nullptr;

// A listening socket on host:port. The library's own would set SO_REUSEPORT, with which a second
// service on a port in use starts as well and the system splits the requests between the two.
// SO_REUSEADDR only lets a restarted service take its port back from connections closing.
int Listen(const std::string& host, int port, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int failed = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found)) {
        error = ::gai_strerror(failed);
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // The listening queue is as long as the system allows: a short one makes connections
        // beyond it wait seconds for the handshake to be sent again.
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
            error = errno == EADDRINUSE ? "address already in use" : std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    return fd;
}

int BoundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
    return address.ss_family == AF_INET6
               ? ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port)
               : ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

// --- JSON ---------------------------------------------------------------------------------

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else if (c == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            // U+2028 and U+2029 end lines in script engines that read the answer as script.
            out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

void SendJson(httplib::Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_content(body, kJsonType);
}

void SendError(httplib::Response& res, int status, std::string_view message) {
    std::string body = "{\"status_code\":" + std::to_string(status) + ",\"status_msg\":";
    AppendJsonString(body, message);
    body += '}';
    SendJson(res, status, body);
}

std::string MediaUrl(const std::string& host, int64_t id) {
    return "http://" + host + std::string(kMediaPath) + std::to_string(id) +
           std::string(kMediaSuffix);
}

// {"status_code":0,"data":[songs],"offset":M,"count":N,"has_more":b,"cursor":next}
std::string SongPage(std::vector<SongRow>& songs, const std::string& host, int count, int offset) {
    const bool hasMore = songs.size() > static_cast<size_t>(count);
    if (hasMore) songs.resize(static_cast<size_t>(count));
    std::string body = "{\"status_code\":0,\"data\":[";
    body.reserve(songs.size() * 240 + 128);
    for (size_t i = 0; i < songs.size(); ++i) {
        const SongRow& song = songs[i];
        if (i > 0) body += ',';
        body += "{\"id_str\":\"" + std::to_string(song.id) + "\",\"title\":";
        AppendJsonString(body, song.title);
        body += ",\"author\":";
        AppendJsonString(body, song.artist);
        body += ",\"album\":";
        AppendJsonString(body, song.album);
        body += ",\"duration\":" + std::to_string(song.duration);
        body += ",\"play_url\":{\"url_list\":[";
        AppendJsonString(body, MediaUrl(host, song.id));
        body += "]}}";
    }
    body += "],\"offset\":" + std::to_string(offset) + ",\"count\":" + std::to_string(count) +
            ",\"has_more\":" + (hasMore ? "true" : "false") +
            ",\"cursor\":" + std::to_string(offset + static_cast<int>(songs.size())) + "}";
    return body;
}

// A player that pauses reading keeps its connection for a while.
constexpr std::chrono::seconds kWriteWait{30};

std::string_view StatusText(int status) {
    switch (status) {
        case 400:
            return "bad request";
        case 404:
            return "no such address";
        case 413:
            return "the request body is too large";
        case 414:
            return "the address is too long";
        case 416:
            return "the range cannot be served";
        default:
            return status >= 500 ? "internal error" : "the request cannot be served";
    }
}

// --- paging and host ------------------------------------------------------------------------

// A paging parameter: its default when missing, an error message when out of range.
std::optional<std::string> ReadPaging(const QueryValues& values, std::string_view name,
                                      int fallback, int low, int high, int& result) {
    const auto found = values.find(name);
    if (found == values.end()) {
        result = fallback;
        return std::nullopt;
    }
    const std::optional<int64_t> number = ParseNumber(found->second);
    if (!number || *number < low || *number > high) {
        return std::string(name) + " must be a whole number from " + std::to_string(low) + " to " +
               std::to_string(high);
    }
    result = static_cast<int>(*number);
    return std::nullopt;
}

std::optional<std::string> ReadCountAndOffset(const QueryValues& values, int& count, int& offset) {
    if (auto error = ReadPaging(values, "count", kDefaultCount, 1, kMaxCount, count)) return error;
    return ReadPaging(values, "offset", 0, 0, kMaxOffset, offset);
}

// "ip:port", or "[ip]:port" for IPv6; an IPv4 address mapped into IPv6 is written as IPv4.
std::string HostAndPort(std::string ip, int port) {
    if (ip.starts_with("::ffff:") && ip.find('.') != std::string::npos) ip.erase(0, 7);
    if (ip.find(':') != std::string::npos) ip = "[" + ip + "]";
    return ip + ":" + std::to_string(port);
}

// The host the request came to, which song addresses are built on: the one it names, else the
// address of the interface it came to (a service listening on every interface has no single
// address of its own, and 0.0.0.0 reaches nothing).
std::optional<std::string> RequestHost(const httplib::Request& req, const std::string& fallback) {
    if (!req.has_header("Host")) {
        std::string ip;
        int port = 0;
        if (const ConnectionStream* stream = ConnectionStream::Answering()) {
            stream->get_local_ip_and_port(ip, port);
        }
        return ip.empty() ? fallback : HostAndPort(ip, port);
    }
    const std::string host = req.get_header_value("Host");
    if (!IsHostName(host)) return std::nullopt;
    return host;
}

// An open song file, closed when the last answer reading it is gone.
class OpenFile {
  public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() { ::close(fd_); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

// The library reads each request and writes its answer; the connection loop decides when.
class CatalogueServer::RequestReader : public httplib::Server {
  public:
    using httplib::Server::process_request;
    // The library writes streamed answers only while it counts itself as serving.
    void SetServing(bool serving) { svr_sock_ = serving ? 0 : INVALID_SOCKET; }
};

// The request handlers; they route on the raw request target so that what the client wrote
// (escapes included) is what gets judged.
class CatalogueServer::Handlers {
  public:
    Handlers(Database& database, const std::filesystem::path& library, const std::string& address)
        : database_(database), library_(library), address_(address) {}

    void Dispatch(const httplib::Request& req, httplib::Response& res) {
        const std::string_view target(req.target);
        const size_t question = target.find('?');
        const std::string_view path = target.substr(0, question);
        const std::string_view query =
            question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
        if (path == kSearchPath || path == kSearchPath.substr(0, kSearchPath.size() - 1)) {
            return Search(req, query, res);
        }
        if (path == kCollectionsPath ||
            path == kCollectionsPath.substr(0, kCollectionsPath.size() - 1)) {
            return Collections(res);
        }
        if (path.starts_with(kCollectionsPath)) {
            std::string_view rest = path.substr(kCollectionsPath.size());
            if (rest.ends_with(kSongsSuffix)) {
                rest.remove_suffix(kSongsSuffix.size());
            } else if (rest.ends_with(kSongsSuffix.substr(0, kSongsSuffix.size() - 1))) {
                rest.remove_suffix(kSongsSuffix.size() - 1);
            } else {
                return SendError(res, 404, "no such address");
            }
            return CollectionSongs(req, rest, query, res);
        }
        if (path.starts_with(kMediaPath)) return Media(req, path.substr(kMediaPath.size()), res);
        SendError(res, 404, "no such address");
    }

  private:
    void Search(const httplib::Request& req, std::string_view query, httplib::Response& res) {
        QueryValues values;
        if (auto error = ParseQuery(query, values)) return SendError(res, 400, *error);
        const auto keyword = values.find("q");
        if (keyword == values.end()) return SendError(res, 400, "the keyword q is missing");
        if (!IsValidUtf8(keyword->second)) {
            return SendError(res, 400, "the keyword is not UTF-8 text");
        }
        for (unsigned char c : keyword->second) {
            if (c < 0x20 || c == 0x7F) {
                return SendError(res, 400, "the keyword holds control characters");
            }
        }
        if (CharacterCount(keyword->second) > kMaxKeywordCharacters) {
            return SendError(res, 400,
                             "the keyword is longer than " + std::to_string(kMaxKeywordCharacters) +
                                 " characters");
        }
        const auto type = values.find("type");
        if (type != values.end() && type->second != "video") {
            return SendError(res, 400, "type must be video");
        }
        int count = 0;
        int offset = 0;
        if (auto error = ReadCountAndOffset(values, count, offset)) {
            return SendError(res, 400, *error);
        }
        const std::optional<std::string> host = RequestHost(req, address_);
        if (!host) return SendError(res, 400, "the Host header is not a host name");
        const std::vector<std::u32string> terms = KeywordTerms(keyword->second);
        if (terms.empty()) return SendError(res, 400, "the keyword is empty");
        std::vector<SongRow> songs;
        // One row more than asked tells whether another page follows.
        switch (database_.Search(terms, count + 1, offset, songs)) {
            case SearchOutcome::kAnswered:
                break;
            case SearchOutcome::kTooMuchWork:
                return SendError(res, 503,
                                 "the search needs too much work: add words to the keyword or "
                                 "ask for an earlier page");
            case SearchOutcome::kFailed:
                return SendError(res, 500, "the index cannot be read");
        }
        SendJson(res, 200, SongPage(songs, *host, count, offset));
    }

    void Collections(httplib::Response& res) {
        std::string body = "{\"status_code\":0,\"data\":[";
        bool first = true;
        for (const CollectionRow& collection : database_.Collections()) {
            if (!first) body += ',';
            first = false;
            body += "{\"name\":";
            AppendJsonString(body, collection.name);
            body += ",\"id_str\":\"" + std::to_string(collection.id) + "\"}";
        }
        body += "]}";
        SendJson(res, 200, body);
    }

    void CollectionSongs(const httplib::Request& req, std::string_view idText,
                         std::string_view query, httplib::Response& res) {
        const std::optional<int64_t> id = ParseNumber(idText);
        if (!id) return SendError(res, 400, "a collection id is a number");
        QueryValues values;
        if (auto error = ParseQuery(query, values)) return SendError(res, 400, *error);
        int count = 0;
        int offset = 0;
        if (auto error = ReadCountAndOffset(values, count, offset)) {
            return SendError(res, 400, *error);
        }
        const std::optional<std::string> host = RequestHost(req, address_);
        if (!host) return SendError(res, 400, "the Host header is not a host name");
        std::optional<std::vector<SongRow>> songs =
            database_.CollectionSongs(*id, count + 1, offset);
        if (!songs) return SendError(res, 404, "no such collection");
        SendJson(res, 200, SongPage(*songs, *host, count, offset));
    }

    // Only "<digits>.mp3" names a song: escapes, slashes, dots and absolute paths never reach the
    // file system, whose paths come from the index alone.
    void Media(const httplib::Request& req, std::string_view name, httplib::Response& res) {
        std::optional<int64_t> id;
        if (name.ends_with(kMediaSuffix)) {
            id = ParseNumber(name.substr(0, name.size() - kMediaSuffix.size()));
        }
        if (!id) return SendError(res, 400, "a media address is /media/<song id>.mp3");
        const std::optional<std::string> path = database_.SongPath(*id);
        if (!path) return SendError(res, 404, "no such song");
        const std::filesystem::path file = library_ / *path;
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return SendError(res, 404, "the song's file is gone");
        auto open = std::make_shared<OpenFile>(fd);
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            return SendError(res, 404, "the song's file is gone");
        }
        const int64_t size = info.st_size;
        res.set_header("Accept-Ranges", "bytes");
        ByteRange range{0, size - 1};
        int status = 200;
        if (req.has_header("Range")) {
            switch (ReadRange(req.get_header_value("Range"), size, range)) {
                case RangeAnswer::kWhole:
                    range = {0, size - 1};
                    break;
                case RangeAnswer::kPart:
                    status = 206;
                    res.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                        std::to_string(range.last) + "/" +
                                                        std::to_string(size));
                    break;
                case RangeAnswer::kUnsatisfiable:
                    res.set_header("Content-Range", "bytes */" + std::to_string(size));
                    return SendError(res, 416, "the range lies outside the file");
            }
        }
        res.status = status;
        const int64_t length = range.last - range.first + 1;
        if (length <= 0) return res.set_content("", "audio/mpeg");
        const int64_t start = range.first;
        // The bytes are the connection loop's to write: the library's writes only count them.
        res.set_content_provider(
            static_cast<size_t>(length), "audio/mpeg",
            [open, start](size_t offset, size_t remaining, httplib::DataSink& sink) {
                ConnectionStream* stream = ConnectionStream::Answering();
                if (stream == nullptr ||
                    !stream->HandOff(open->fd(), start + static_cast<int64_t>(offset),
                                     static_cast<int64_t>(remaining))) {
                    return false;
                }
                static const char kUnsent[64 * 1024] = {};
                return sink.write(kUnsent, std::min(remaining, sizeof kUnsent));
            });
    }

    Database& database_;
    const std::filesystem::path& library_;
    const std::string& address_;
};

CatalogueServer::CatalogueServer(Database& database, std::filesystem::path library,
                                 ServerOptions options)
    : database_(database),
      library_(std::move(library)),
      server_(std::make_unique<RequestReader>()),
      handlers_(std::make_unique<Handlers>(database_, library_, address_)),
      connections_(std::make_unique<ConnectionLoop>(
          options, [this](Connection& connection) { return Answer(connection); })) {
    // What the answers' Keep-Alive header announces.
    server_->set_keep_alive_max_count(100000);
    server_->set_keep_alive_timeout(std::max<time_t>(
        1, std::chrono::duration_cast<std::chrono::seconds>(options.idleTime).count()));

    // Every request is answered here, before the library's pattern routing, which would only
    // cost time: the handlers route on the raw target themselves.
    server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (req.method != "GET" && req.method != "HEAD") {
            res.set_header("Allow", "GET, HEAD");
            SendError(res, 405, "only GET and HEAD are served");
            return httplib::Server::HandlerResponse::Handled;
        }
        // The media handler answers Range itself; the library must not cut the answer again.
        // (The request object is the server's own, not const where it lives.)
        const_cast<httplib::Request&>(req).ranges.clear();
        handlers_->Dispatch(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    // Answers that the library makes itself (bad request lines, unknown ranges) get a JSON body.
    server_->set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty() || res.content_length_ > 0) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            SendError(res, res.status, StatusText(res.status));
            return httplib::Server::HandlerResponse::Handled;
        }));
    server_->set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            SendError(res, 500, "internal error");
        });
}

CatalogueServer::~CatalogueServer() {
    Stop();
    if (listening_ >= 0) ::close(listening_);
}

// One request of the connection; true when it stays open for the next. A request with a body
// closes its connection after the answer: no handler reads bodies, so its bytes would be taken
// for the next request.
bool CatalogueServer::Answer(Connection& connection) {
    ConnectionStream stream(connection, kWriteWait);
    bool closed = false;
    bool hasBody = false;
    const bool answered = server_->process_request(
        stream, false, closed, [&hasBody](httplib::Request& req) {
            hasBody = req.has_header("Transfer-Encoding") ||
                      (req.has_header("Content-Length") &&
                       req.get_header_value("Content-Length") != "0");
        });
    const bool keep = answered && !closed && !hasBody;
    if (!stream.HandedOff()) return keep;
    // The loop writes the body, then closes the connection or waits for its next request.
    if (!answered) return false;
    connection.body.closeAfter = !keep;
    return true;
}

int CatalogueServer::Bind(const std::string& host, int port, std::string& error) {
    if (listening_ >= 0) ::close(listening_);
    listening_ = Listen(host, port, error);
    const int bound = listening_ >= 0 ? BoundPort(listening_) : -1;
    if (bound <= 0) return -1;
    const bool bracket = host.find(':') != std::string::npos;
    address_ = (bracket ? "[" + host + "]" : host) + ":" + std::to_string(bound);
    return bound;
}

bool CatalogueServer::Run() {
    if (listening_ < 0) return false;
    server_->SetServing(true);
    const bool served = connections_->Run(listening_);
    server_->SetServing(false);
    return served;
}

void CatalogueServer::Stop() {
    server_->SetServing(false);
    connections_->Stop();
}

bool CatalogueServer::IsRunning() const {
    return connections_->IsRunning();
}

}  // namespace tessel::catalogue
