// The WinInet calls WebRequest makes, seen through a recording double of the DLL-command service.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fake_wininet.h"
#include "tessel/http/web_request.h"
#include "tessel/runtime/dll_commands.h"

namespace tessel {
namespace {

constexpr Word kDirect = 1, kNamedProxy = 3;  // InternetOpenA's access types
constexpr Word kHttpService = 3;              // INTERNET_SERVICE_HTTP
constexpr Word kRawHeadersCrLf = 22;          // HTTP_QUERY_RAW_HEADERS_CRLF

constexpr const char* kNoText = "<null>";  // a null text argument, as Str shows it

// A kind of request: what the caller gives, and the properties of the calls that it decides.
// A property left empty is not looked at, or for the proxy's, is that of a direct connection.
struct RequestKind {
    const char* what;
    const char* url;
    std::int32_t method = 0;
    const char* postText = nullptr;
    const char* postBytes = nullptr;
    bool cookiesGiven = false;
    bool noRedirect = false;
    const char* proxy = nullptr;

    std::optional<std::string> verb = {};
    std::optional<Word> flags = {};
    std::optional<Word> port = {};
    std::optional<Word> accessType = {};
    std::optional<std::string> proxyText = {};
    std::optional<std::string> proxyBypass = {};
    std::optional<std::uint32_t> send = {};
    std::optional<std::string> body = {};       // what went out as the body
    std::optional<bool> contentTypeAdded = {};  // the form content type joined the header block
};

const RequestKind kRequestKinds[] = {
    {.what = "bare GET",
     .url = "http://Example.com:8080/A?b=1",
     .verb = "GET",
     .flags = 0x80004010u,
     .port = 8080u,
     .send = dll::kHttpSendRequestA,
     .body = ""},
    {.what = "https", .url = "https://example.com/", .flags = 0x80800010u, .port = 443u},
    {.what = "https in capitals", .url = "HTTPS://example.com/", .flags = 0x80800010u},
    {.what = "https without slashes", .url = "https:example.com/", .flags = 0x80004010u},
    {.what = "cookies given, even empty",
     .url = "http://example.com/",
     .cookiesGiven = true,
     .flags = 0x80084010u},
    {.what = "no redirect",
     .url = "https://example.com/",
     .noRedirect = true,
     .flags = 0x80A00010u},
    {.what = "method 9", .url = "http://h/", .method = 9, .verb = "GET"},
    {.what = "method -1", .url = "http://h/", .method = -1, .verb = "GET"},
    {.what = "method 7", .url = "http://h/", .method = 7, .verb = "CONNECT"},
    {.what = "method 2", .url = "http://h/", .method = 2, .verb = "HEAD"},
    {.what = "proxy for http",
     .url = "http://h/",
     .proxy = "127.0.0.1:8080",
     .accessType = kNamedProxy,
     .proxyText = "http=127.0.0.1:8080",
     .proxyBypass = kNoText},
    {.what = "proxy for https",
     .url = "https://h/",
     .proxy = "127.0.0.1:8080",
     .accessType = kNamedProxy,
     .proxyText = "127.0.0.1:8080",
     .proxyBypass = kNoText},
    {.what = "GET leaves its text out",
     .url = "http://h/",
     .postText = "ignored",
     .send = dll::kHttpSendRequestA,
     .body = ""},
    {.what = "POST sends its text",
     .url = "http://h/",
     .method = 1,
     .postText = "q=1",
     .verb = "POST",
     .send = dll::kHttpSendRequestWithBytes,
     .body = "q=1",
     .contentTypeAdded = true},
    {.what = "PUT sends its bytes over its text",
     .url = "http://h/",
     .method = 3,
     .postText = "text",
     .postBytes = "raw",
     .verb = "PUT",
     .send = dll::kHttpSendRequestWithBytes,
     .body = "raw",
     .contentTypeAdded = false},
};

// A property the kind decides is checked; one it leaves empty is not.
template <class T, class Seen>
void ExpectWhereGiven(const std::optional<T>& expected, const Seen& seen, const char* property) {
    if (expected) {
        EXPECT_EQ(seen, *expected) << property;
    }
}

TEST(WebRequestCalls, EachKindOfRequestDecidesItsOwnProperties) {
    for (const auto& kind : kRequestKinds) {
        SCOPED_TRACE(kind.what);
        RecordingServices r;
        FakeWinInet inet(r);
        Text cookies = Text::Copy("");
        ByteArray bytes = kind.postBytes != nullptr
                              ? ByteArray::Copy(kind.postBytes, std::strlen(kind.postBytes))
                              : ByteArray();
        WebRequestOptions o;
        o.method = kind.method;
        o.postText = kind.postText;
        o.postBytes = &bytes;
        if (kind.cookiesGiven) o.sendCookies = &cookies;
        o.noRedirect = kind.noRedirect;
        o.proxy = kind.proxy;
        WebRequest(kind.url, o);
        const SeenRequest s = Seen(inet);
        ExpectWhereGiven(kind.verb, s.verb, "verb");
        ExpectWhereGiven(kind.flags, s.flags, "flags");
        ExpectWhereGiven(kind.port, s.port, "port");
        EXPECT_EQ(s.accessType, kind.accessType.value_or(kDirect));
        EXPECT_EQ(s.proxy, kind.proxyText.value_or(""));
        EXPECT_EQ(s.proxyBypass, kind.proxyBypass.value_or(""));
        ExpectWhereGiven(kind.send, s.send, "send function");
        if (kind.body) {
            EXPECT_EQ(inet.sentBody, *kind.body);
            EXPECT_EQ(s.bodyLength, kind.body->size());
            EXPECT_EQ(s.bodyAt == 0, kind.body->empty());
            // A text body is written back to the caller's bytes.
            if (!kind.body->empty()) {
                EXPECT_EQ(bytes.view(), *kind.body);
            }
        }
        if (kind.contentTypeAdded) {
            EXPECT_EQ(s.headers.find("\r\nContent-Type: application/x-www-form-urlencoded") !=
                          std::string::npos,
                      *kind.contentTypeAdded);
        }
        // What no kind changes.
        EXPECT_EQ(s.sends, 1);
        EXPECT_EQ(s.openFlags, 0u);
        EXPECT_EQ(s.user, "");
        EXPECT_EQ(s.password, "");
        EXPECT_EQ(s.service, kHttpService);
        EXPECT_EQ(s.version, "HTTP/1.1");
        EXPECT_EQ(s.referer, "");
        EXPECT_EQ(s.acceptTypes, 0u);
        EXPECT_EQ(s.headersLength, s.headers.size());
    }
}

// The whole exchange of a GET with nothing else given: the calls in order, each handle opened
// from the one before, the default header block, the body read in chunks, the headers asked for,
// and the handles closed innermost first.
TEST(WebRequestCalls, ABareHttpGet) {
    RecordingServices r;
    FakeWinInet inet(r);
    inet.chunks = {"hel", "lo"};
    const ByteArray body = WebRequest("http://Example.com:8080/A?b=1");
    EXPECT_EQ(body.view(), "hello");
    const SeenRequest s = Seen(inet);
    using V = std::vector<std::uint32_t>;
    EXPECT_EQ(s.order, (V{dll::kInternetOpenA, dll::kInternetConnectA, dll::kHttpOpenRequestA,
                          dll::kHttpSendRequestA, dll::kInternetReadFile, dll::kInternetReadFile,
                          dll::kInternetReadFile, dll::kHttpQueryInfoA, dll::kInternetCloseHandle,
                          dll::kInternetCloseHandle, dll::kInternetCloseHandle}));
    EXPECT_EQ(s.agent, kAgent);
    EXPECT_EQ(s.connectedFrom, kRoot);
    EXPECT_EQ(s.host, "example.com");
    EXPECT_EQ(s.requestedFrom, kConnection);
    EXPECT_EQ(s.object, "/A?b=1");
    EXPECT_EQ(s.sentOn, kRequest);
    EXPECT_EQ(s.headers,
              "Accept: */*\r\nReferer: http://Example.com:8080/A?b=1\r\nAccept-Language: zh-cn");
    EXPECT_EQ(s.headerQueryLevel, kRawHeadersCrLf);
    EXPECT_EQ(s.closed, (std::vector<Word>{kRequest, kConnection, kRoot}));
}

TEST(WebRequestCalls, UserAgentComesFromTheHeaderBlock) {
    RecordingServices r;
    FakeWinInet inet(r);
    auto agent = [&](const char* headers) {
        inet.calls.clear();
        Text h = Text::Copy(headers);
        WebRequestOptions o;
        o.requestHeaders = &h;
        WebRequest("http://h/", o);
        return Seen(inet).agent;
    };
    EXPECT_EQ(agent("User-Agent:  Tessel/1.0 \r\nX-A: 1"), "Tessel/1.0");
    EXPECT_EQ(agent("user-agent: Foo"), "Foo");
    EXPECT_EQ(agent("X-A: 1\r\nuSER-aGENT: Bar\r\nX-B: 2"), "Bar");  // only its own line counts
    EXPECT_EQ(agent("X-Agent: 1"), kAgent);
}

TEST(WebRequestCalls, HeaderCompletionIsCaseSensitive) {
    RecordingServices r;
    FakeWinInet inet(r);
    auto sent = [&](const char* given, const char* cookies) {
        Text headers = Text::Copy(given);
        Text jar = Text::Copy(cookies != nullptr ? cookies : "");
        WebRequestOptions o;
        o.requestHeaders = &headers;
        if (cookies != nullptr) o.sendCookies = &jar;
        WebRequest("http://h/p", o);
        return std::string(headers.c_str());
    };
    EXPECT_EQ(sent("Accept: text/html", nullptr),
              "Accept: text/html\r\nReferer: http://h/p\r\nAccept-Language: zh-cn");
    EXPECT_EQ(sent("accept: text/html", nullptr),
              "accept: text/html\r\nAccept: */*\r\nReferer: http://h/p\r\nAccept-Language: zh-cn");
    EXPECT_EQ(sent("Referer: r\r\nAccept-Language: en", "a=1"),
              "Referer: r\r\nAccept-Language: en\r\nAccept: */*\r\nCookie: a=1");
    EXPECT_EQ(sent("", "Cookie: a=1"),
              "Accept: */*\r\nReferer: http://h/p\r\nAccept-Language: zh-cn\r\nCookie: a=1");
    // The block is not searched for a Cookie line of its own.
    EXPECT_EQ(sent("Cookie: z=0", "a=1"),
              "Cookie: z=0\r\nAccept: */*\r\nReferer: http://h/p\r\nAccept-Language: zh-cn\r\n"
              "Cookie: a=1");
}

TEST(WebRequestCalls, AFailedHandleClosesWhatWasOpenedAndWritesNothing) {
    for (int failing = 0; failing < 3; ++failing) {
        RecordingServices r;
        FakeWinInet inet(r);
        if (failing == 0) inet.openResult = 0;
        if (failing == 1) inet.connectResult = 0;
        if (failing == 2) inet.requestResult = 0;
        Text headers = Text::Copy("X-A: 1");
        Text send = Text::Copy("a=1");
        Text returned = Text::Copy("old");
        Text response = Text::Copy("old");
        ByteArray bytes;
        WebRequestOptions o;
        o.method = 1;
        o.postText = "p";
        o.requestHeaders = &headers;
        o.sendCookies = &send;
        o.returnedCookies = &returned;
        o.responseHeaders = &response;
        o.postBytes = &bytes;
        const ByteArray body = WebRequest("http://h/", o);
        EXPECT_TRUE(body.empty());
        using V = std::vector<std::uint32_t>;
        const V expected[] = {
            {dll::kInternetOpenA},
            {dll::kInternetOpenA, dll::kInternetConnectA, dll::kInternetCloseHandle},
            {dll::kInternetOpenA, dll::kInternetConnectA, dll::kHttpOpenRequestA,
             dll::kInternetCloseHandle, dll::kInternetCloseHandle}};
        EXPECT_EQ(inet.Indexes(), expected[failing]) << failing;
        if (failing == 2) {
            EXPECT_EQ(Seen(inet).closed, (std::vector<Word>{kConnection, kRoot}));
        }
        EXPECT_STREQ(headers.c_str(), "X-A: 1");
        EXPECT_STREQ(send.c_str(), "a=1");
        EXPECT_STREQ(returned.c_str(), "old");
        EXPECT_STREQ(response.c_str(), "old");
        EXPECT_TRUE(bytes.get() == nullptr);
    }
}

TEST(WebRequestCalls, AHeaderBlockOfAnySizeIsReadWhole) {
    RecordingServices r;
    FakeWinInet inet(r);
    inet.headers = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 100; ++i) inet.headers += "X-Filler: " + std::string(90, 'x') + "\r\n";
    inet.headers += "Set-Cookie: late=1; path=/\r\n\r\n";
    Text response, returned;
    WebRequestOptions o;
    o.responseHeaders = &response;
    o.returnedCookies = &returned;
    WebRequest("http://h/", o);
    EXPECT_EQ(response.view(), inet.headers);
    EXPECT_STREQ(returned.c_str(), "late=1");
    // Asked once with 5000 bytes, then again with the size the answer said it needs.
    EXPECT_EQ(inet.querySizes, (std::vector<std::uint32_t>{
                                   5000u, static_cast<std::uint32_t>(inet.headers.size() + 1)}));
}

TEST(WebRequestCalls, TheBodyGrowsWithoutACopyPerChunk) {
    RecordingServices r;
    FakeWinInet inet(r);
    std::string expected;
    for (int i = 0; i < 4000; ++i) {
        inet.chunks.push_back(std::string(1024, static_cast<char>('a' + i % 26)));
        expected += inet.chunks.back();
    }
    const ByteArray body = WebRequest("http://h/");
    EXPECT_EQ(body.view(), expected);
    int resizes = 0;
    for (const auto& c : r.calls) resizes += c.slot == slot::kResize;
    EXPECT_LT(resizes, 20);  // 4000 chunks, a handful of doublings
}

}  // namespace
}  // namespace tessel
