// WinInet over libcurl: the handles, flags and answers of the real functions, as far as the
// program uses them. A request runs on a curl multi handle, so the body streams to
// InternetReadFile chunk by chunk instead of being fetched whole by HttpSendRequestA.
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "standin_functions.h"
#include "tessel/posix/standins.h"

namespace tessel::posix {

namespace {

constexpr std::uint32_t kOpenTypeProxy = 3;
constexpr std::uint32_t kFlagNoCookies = 0x00080000;
constexpr std::uint32_t kFlagNoAutoRedirect = 0x00200000;
constexpr std::uint32_t kFlagSecure = 0x00800000;
constexpr std::uint32_t kQueryRawHeadersCrLf = 22;
constexpr std::uint32_t kQueryLevelMask = 0xFFFF;

std::uint32_t g_connectTimeoutMs = 15000;
std::uint32_t g_receiveTimeoutMs = 30000;

std::string TextArg(Word w) {
    const char* p = reinterpret_cast<const char*>(w);
    return p != nullptr ? p : "";
}
std::uint32_t U32(Word w) {
    return static_cast<std::uint32_t>(w);
}

struct Handle {
    virtual ~Handle() = default;
};

struct Session : Handle {
    std::string agent;
    std::string httpProxy;  // empty: direct
    std::string httpsProxy;
};

struct Connection : Handle {
    Session session;  // a copy: a child may outlive its parent handle
    std::string host;
    std::uint16_t port = 0;
};

struct Request : Handle {
    Connection connection;
    std::string verb;
    std::string object;
    std::uint32_t flags = 0;

    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* headerList = nullptr;
    std::string body;
    std::string rawHeaders;  // of the latest response: status line and header lines
    bool inHeaders = false;
    bool headOnly = false;  // HEAD: the answer ends with its header block
    bool stoppedAtHead = false;
    std::string pending;  // body bytes received but not yet read
    std::size_t pendingRead = 0;
    bool bodyStarted = false;
    bool done = false;
    CURLcode outcome = CURLE_OK;

    ~Request() override {
        if (multi != nullptr) {
            if (easy != nullptr) curl_multi_remove_handle(multi, easy);
            curl_multi_cleanup(multi);
        }
        if (easy != nullptr) curl_easy_cleanup(easy);
        curl_slist_free_all(headerList);
    }
};

std::mutex g_mutex;
std::set<Handle*> g_handles;

Word Register(Handle* h) {
    std::lock_guard lock(g_mutex);
    g_handles.insert(h);
    return reinterpret_cast<Word>(h);
}

template <typename T>
T* Find(Word w) {
    std::lock_guard lock(g_mutex);
    auto* h = reinterpret_cast<Handle*>(w);
    return g_handles.count(h) != 0 ? dynamic_cast<T*>(h) : nullptr;
}

// WinInet's cookie store, kept for the process: requests without INTERNET_FLAG_NO_COOKIES share it.
CURLSH* CookieStore() {
    static CURLSH* share = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        CURLSH* s = curl_share_init();
        curl_share_setopt(s, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        return s;
    }();
    return share;
}

// A proxy list: entries "scheme=host:port" or a plain "host:port" for every scheme, separated
// by blanks or ';'.
void ParseProxyList(std::string_view list, Session& s) {
    std::size_t i = 0;
    while (i < list.size()) {
        const std::size_t end = std::min(list.find_first_of(" ;", i), list.size());
        const std::string_view entry = list.substr(i, end - i);
        i = end + 1;
        if (entry.empty()) continue;
        const std::size_t eq = entry.find('=');
        if (eq == std::string_view::npos) {
            s.httpProxy = s.httpsProxy = std::string(entry);
        } else if (entry.substr(0, eq) == "http") {
            s.httpProxy = std::string(entry.substr(eq + 1));
        } else if (entry.substr(0, eq) == "https") {
            s.httpsProxy = std::string(entry.substr(eq + 1));
        }
    }
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* r = static_cast<Request*>(user);
    r->pending.append(data, size * count);
    r->bodyStarted = true;
    return size * count;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* r = static_cast<Request*>(user);
    const std::string_view line(data, size * count);
    // Each response of a redirect chain (and an interim 100) starts a new block: only the final
    // response's block is kept.
    if (line.substr(0, 5) == "HTTP/") {
        r->rawHeaders.clear();
        r->inHeaders = true;
    }
    if (r->inHeaders) r->rawHeaders.append(line);
    if (line == "\r\n" || line == "\n") {
        r->inHeaders = false;
        // A HEAD sent with a body goes out as a custom request, so curl would wait for the body
        // the answer announces; WinInet reads none. Stop at the first final answer's block.
        if (r->headOnly && r->rawHeaders.compare(0, 10, "HTTP/1.1 1") != 0) {
            r->stoppedAtHead = true;
            return 0;
        }
    }
    return size * count;
}

bool HasHeader(std::string_view block, std::string_view name) {
    std::size_t i = 0;
    while (i <= block.size()) {
        std::size_t end = block.find("\r\n", i);
        if (end == std::string_view::npos) end = block.size();
        const std::string_view line = block.substr(i, end - i);
        if (line.size() > name.size() && line[name.size()] == ':' &&
            std::equal(name.begin(), name.end(), line.begin(), [](char x, char y) {
                return std::tolower(static_cast<unsigned char>(x)) ==
                       std::tolower(static_cast<unsigned char>(y));
            })) {
            return true;
        }
        i = end + 2;
    }
    return false;
}

// Runs the transfer until `ready` holds or it ends.
template <typename Ready>
void Pump(Request& r, Ready ready) {
    while (!r.done && !ready()) {
        int running = 0;
        curl_multi_perform(r.multi, &running);
        int left = 0;
        while (CURLMsg* m = curl_multi_info_read(r.multi, &left)) {
            if (m->msg == CURLMSG_DONE) {
                r.done = true;
                r.outcome = r.stoppedAtHead ? CURLE_OK : m->data.result;
            }
        }
        if (r.done || ready()) break;
        curl_multi_poll(r.multi, nullptr, 0, 1000, nullptr);
    }
}

void Configure(Request& r, std::string_view headers) {
    CURL* c = r.easy;
    const Connection& conn = r.connection;
    const bool secure = (r.flags & kFlagSecure) != 0;
    const std::string url = std::string(secure ? "https://" : "http://") + conn.host + ":" +
                            std::to_string(conn.port) + (r.object.empty() ? "/" : r.object);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_USERAGENT, conn.session.agent.c_str());
    const std::string& proxy = secure ? conn.session.httpsProxy : conn.session.httpProxy;
    curl_easy_setopt(c, CURLOPT_PROXY,
                     proxy.c_str());  // "" means direct, whatever the environment says
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, (r.flags & kFlagNoAutoRedirect) != 0 ? 0L : 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 30L);
    if ((r.flags & kFlagNoCookies) == 0) {
        curl_easy_setopt(c, CURLOPT_SHARE, CookieStore());
        curl_easy_setopt(c, CURLOPT_COOKIEFILE, "");
    }
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(g_connectTimeoutMs));
    // "Nothing received for this long" ends the transfer.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>((g_receiveTimeoutMs + 999) / 1000));

    // The caller's lines go out as given; curl's own additions that WinInet does not make are
    // switched off.
    std::size_t i = 0;
    while (i < headers.size()) {
        std::size_t end = headers.find("\r\n", i);
        if (end == std::string_view::npos) end = headers.size();
        if (end > i)
            r.headerList =
                curl_slist_append(r.headerList, std::string(headers.substr(i, end - i)).c_str());
        i = end + 2;
    }
    r.headerList = curl_slist_append(r.headerList, "Expect:");
    if (!HasHeader(headers, "Content-Type"))
        r.headerList = curl_slist_append(r.headerList, "Content-Type:");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, r.headerList);

    if (r.verb == "GET" && r.body.empty()) {
        curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    } else {
        r.headOnly = r.verb == "HEAD";
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, r.body.data());
        // POST keeps curl's own handling, which turns into GET on a 301-303 as WinInet does.
        if (r.verb != "POST") curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, r.verb.c_str());
    }
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &r);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &r);
}

}  // namespace

// (agent, accessType, proxyName, proxyBypass, flags) -> root handle
Word InternetOpenA(const Word* a) {
    auto* s = new Session;
    s->agent = TextArg(a[0]);
    if (U32(a[1]) == kOpenTypeProxy) ParseProxyList(TextArg(a[2]), *s);
    CookieStore();
    return Register(s);
}

// (handle) -> BOOL
Word InternetCloseHandle(const Word* a) {
    auto* h = reinterpret_cast<Handle*>(a[0]);
    {
        std::lock_guard lock(g_mutex);
        if (g_handles.erase(h) == 0) return 0;
    }
    delete h;
    return 1;
}

// (root, server, port, user, password, service, flags, context) -> connection handle
Word InternetConnectA(const Word* a) {
    const Session* s = Find<Session>(a[0]);
    const std::string server = TextArg(a[1]);
    if (s == nullptr || server.empty()) return 0;
    auto* c = new Connection;
    c->session = *s;
    c->host = server;
    const std::uint32_t port = U32(a[2]);
    c->port = static_cast<std::uint16_t>(port != 0 ? port : 80);
    return Register(c);
}

// (connection, verb, object, version, referrer, acceptTypes, flags, context) -> request handle
Word HttpOpenRequestA(const Word* a) {
    const Connection* c = Find<Connection>(a[0]);
    if (c == nullptr) return 0;
    auto* r = new Request;
    r->connection = *c;
    r->verb = a[1] != 0 ? TextArg(a[1]) : "GET";
    r->object = TextArg(a[2]);
    r->flags = U32(a[6]);
    return Register(r);
}

// (request, headers, headersLength, optional, optionalLength) -> BOOL: a response came
Word HttpSendRequestA(const Word* a) {
    Request* r = Find<Request>(a[0]);
    if (r == nullptr || r->easy != nullptr) return 0;
    const char* headers = reinterpret_cast<const char*>(a[1]);
    const std::uint32_t headersLength = U32(a[2]);
    std::string_view block;
    if (headers != nullptr) {
        block = headersLength == 0xFFFFFFFFu ? std::string_view(headers)
                                             : std::string_view(headers, headersLength);
    }
    if (a[3] != 0 && U32(a[4]) != 0) r->body.assign(reinterpret_cast<const char*>(a[3]), U32(a[4]));
    r->easy = curl_easy_init();
    r->multi = curl_multi_init();
    Configure(*r, block);
    curl_multi_add_handle(r->multi, r->easy);
    Pump(*r, [r] { return r->bodyStarted; });
    return r->done && r->outcome != CURLE_OK ? 0 : (r->rawHeaders.empty() ? 0 : 1);
}

// (request, buffer, toRead, &read) -> BOOL; 0 bytes read at the end
Word InternetReadFile(const Word* a) {
    auto* read = reinterpret_cast<std::uint32_t*>(a[3]);
    if (read != nullptr) *read = 0;
    Request* r = Find<Request>(a[0]);
    if (r == nullptr || r->easy == nullptr || read == nullptr) return 0;
    Pump(*r, [r] { return r->pending.size() > r->pendingRead; });
    const std::size_t available = r->pending.size() - r->pendingRead;
    if (available == 0) return r->outcome == CURLE_OK ? 1 : 0;
    const std::size_t n = std::min<std::size_t>(available, U32(a[2]));
    std::memcpy(reinterpret_cast<void*>(a[1]), r->pending.data() + r->pendingRead, n);
    r->pendingRead += n;
    if (r->pendingRead == r->pending.size()) {
        r->pending.clear();
        r->pendingRead = 0;
    }
    *read = static_cast<std::uint32_t>(n);
    return 1;
}

// (request, infoLevel, buffer, &bufferLength, index) -> BOOL. Too small a buffer fails and
// answers the size needed, terminator included; success answers the length without it.
Word HttpQueryInfoA(const Word* a) {
    Request* r = Find<Request>(a[0]);
    auto* length = reinterpret_cast<std::uint32_t*>(a[3]);
    if (r == nullptr || length == nullptr ||
        (U32(a[1]) & kQueryLevelMask) != kQueryRawHeadersCrLf || r->rawHeaders.empty()) {
        return 0;
    }
    const auto needed = static_cast<std::uint32_t>(r->rawHeaders.size() + 1);
    if (a[2] == 0 || *length < needed) {
        *length = needed;
        return 0;
    }
    std::memcpy(reinterpret_cast<void*>(a[2]), r->rawHeaders.c_str(), needed);
    *length = needed - 1;
    return 1;
}

void SetNetworkTimeouts(std::uint32_t connectMs, std::uint32_t receiveMs) {
    g_connectTimeoutMs = connectMs;
    g_receiveTimeoutMs = receiveMs;
}

}  // namespace tessel::posix
