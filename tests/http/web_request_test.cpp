// Web requests against a test server on 127.0.0.1: natively through the stand-ins, under Wine
// through the real WinInet.
#include "tessel/http/web_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "tessel/headless/headless.h"
#include "tessel/runtime/dll_commands.h"
#include "test_http_server.h"

namespace tessel {
namespace {

using testing::ReceivedRequest;
using testing::ServerResponse;
using testing::TestHttpServer;

// How long a page over its bound may take to fail and let go of an endless answer: generous,
// since a slow machine must not fail it, yet far below reading on for ever.
constexpr int kPromptCloseBoundSeconds = 10;

constexpr const char kAgent[] = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

ServerResponse Answer(std::string body, std::vector<std::string> headers = {}) {
    ServerResponse r;
    r.body = std::move(body);
    r.headers = std::move(headers);
    return r;
}

class WebRequestLive : public ::testing::Test {
  protected:
    void SetUp() override {
        headless::Install();
        headless::SetNetworkTimeouts(15000, 30000);
    }
    void TearDown() override { headless::SetNetworkTimeouts(15000, 30000); }

    // Sends one request with `o` to `path` of a server that answers "ok" and returns what it got.
    ReceivedRequest Sent(const char* path, WebRequestOptions o = {}) {
        TestHttpServer server([](const ReceivedRequest&) { return Answer("ok"); });
        const ByteArray body = WebRequest(server.Url(path).c_str(), o);
        EXPECT_EQ(body.view(), "ok");
        return server.LastRequest();
    }
};

TEST_F(WebRequestLive, ABareGetSendsTheDefaultHeaderBlock) {
    TestHttpServer server([](const ReceivedRequest&) { return Answer("hello", {"X-Answer: 1"}); });
    const std::string url = server.Url("/bare/Path?x=1");
    Text headers, response;
    WebRequestOptions o;
    o.requestHeaders = &headers;
    o.responseHeaders = &response;
    const ByteArray body = WebRequest(url.c_str(), o);
    EXPECT_EQ(body.view(), "hello");
    const std::string block = "Accept: */*\r\nReferer: " + url + "\r\nAccept-Language: zh-cn";
    EXPECT_EQ(headers.view(), block);

    const ReceivedRequest got = server.LastRequest();
    EXPECT_EQ(got.requestLine, "GET /bare/Path?x=1 HTTP/1.1");
    // The platform adds lines of its own (Host, User-Agent, ...); ours arrive together, in order.
    EXPECT_NE(got.headerBlock.find(block), std::string::npos) << got.headerBlock;
    EXPECT_EQ(got.HeaderValues("Accept").size(), 1u);
    EXPECT_EQ(got.Header("User-Agent"), kAgent);
    EXPECT_EQ(got.Header("Host"), server.HostPort());
    EXPECT_EQ(got.Header("Cookie"), "");
    EXPECT_EQ(got.body, "");

    // The final response's raw block: status line, every header line, each ended by CR LF.
    EXPECT_EQ(response.view().substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_NE(response.view().find("\r\nX-Answer: 1\r\n"), std::string::npos);
    EXPECT_EQ(response.view().substr(response.size() - 4), "\r\n\r\n") << response.c_str();
}

TEST_F(WebRequestLive, UserAgents) {
    Text given = Text::Copy("User-Agent: Tessel/1.0");
    WebRequestOptions o;
    o.requestHeaders = &given;
    ReceivedRequest got = Sent("/ua/1", o);
    EXPECT_EQ(got.HeaderValues("User-Agent"), std::vector<std::string>{"Tessel/1.0"});

    Text lower = Text::Copy("user-agent: Foo");
    o.requestHeaders = &lower;
    got = Sent("/ua/2", o);
    const auto agents = got.HeaderValues("User-Agent");
    ASSERT_FALSE(agents.empty());
    EXPECT_TRUE(
        std::all_of(agents.begin(), agents.end(), [](const std::string& a) { return a == "Foo"; }));
}

TEST_F(WebRequestLive, ContentTypeAndBodiesByMethod) {
    WebRequestOptions post;
    post.method = 1;
    post.postText = "a=1&b=2";
    ReceivedRequest got = Sent("/post", post);
    EXPECT_EQ(got.Method(), "POST");
    EXPECT_EQ(got.body, "a=1&b=2");
    EXPECT_EQ(got.HeaderValues("Content-Type"),
              std::vector<std::string>{"application/x-www-form-urlencoded"});

    Text own = Text::Copy("Content-Type: application/json");
    post.requestHeaders = &own;
    post.postText = "{}";
    got = Sent("/post", post);
    EXPECT_EQ(got.HeaderValues("Content-Type"), std::vector<std::string>{"application/json"});
    EXPECT_EQ(got.body, "{}");

    WebRequestOptions put;
    put.method = 3;
    put.postText = "data";
    got = Sent("/put", put);
    EXPECT_EQ(got.Method(), "PUT");
    EXPECT_EQ(got.body, "data");
    EXPECT_TRUE(got.HeaderValues("Content-Type").empty());

    WebRequestOptions get;
    get.postText = "not sent";
    got = Sent("/get", get);
    EXPECT_EQ(got.body, "");
    EXPECT_TRUE(got.Header("Content-Length").empty() || got.Header("Content-Length") == "0");
}

TEST_F(WebRequestLive, HeadSendsItsText) {
    TestHttpServer server([](const ReceivedRequest&) { return Answer("not for HEAD"); });
    Text response;
    WebRequestOptions head;
    head.method = 2;
    head.postText = "probe";
    head.responseHeaders = &response;
    const ByteArray body = WebRequest(server.Url("/head").c_str(), head);
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(server.LastRequest().Method(), "HEAD");
    EXPECT_EQ(server.LastRequest().body, "probe");
    EXPECT_EQ(response.view().substr(0, 12), "HTTP/1.1 200");
}

TEST_F(WebRequestLive, CookieLines) {
    Text cookies = Text::Copy("a=1");
    WebRequestOptions o;
    o.sendCookies = &cookies;
    EXPECT_EQ(Sent("/k/1", o).HeaderValues("Cookie"), std::vector<std::string>{"a=1"});
    Text whole = Text::Copy("Cookie: b=2; c=3");
    o.sendCookies = &whole;
    EXPECT_EQ(Sent("/k/2", o).HeaderValues("Cookie"), std::vector<std::string>{"b=2; c=3"});
    Text empty = Text::Copy("");
    o.sendCookies = &empty;
    EXPECT_TRUE(Sent("/k/3", o).HeaderValues("Cookie").empty());
}

TEST_F(WebRequestLive, ReturnedCookiesComeFromSetCookieLines) {
    TestHttpServer server([](const ReceivedRequest&) {
        return Answer("c", {"Set-Cookie: sid=42; path=/c/", "set-cookie: low=1; path=/c/",
                            "Set-Cookie: lang=zh"});
    });
    Text returned = Text::Copy("stale");
    WebRequestOptions o;
    o.returnedCookies = &returned;
    WebRequest(server.Url("/c/set").c_str(), o);
    EXPECT_STREQ(returned.c_str(), "sid=42; lang=zh");

    TestHttpServer bare([](const ReceivedRequest&) { return Answer("none"); });
    Text none = Text::Copy("stale");
    o.returnedCookies = &none;
    WebRequest(bare.Url("/c/none").c_str(), o);
    EXPECT_STREQ(none.c_str(), "");
}

TEST_F(WebRequestLive, CookiesMergeFromCallToCall) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.Target() == "/m/1")
            return Answer("1", {"Set-Cookie: a=1; path=/", "Set-Cookie: b=2"});
        if (r.Target() == "/m/2")
            return Answer("2", {"Set-Cookie: a=deleted; path=/", "Set-Cookie: c=3"});
        return Answer("3");
    });
    Text jar = Text::Copy("x=9");
    Text returned;
    WebRequestOptions o;
    o.sendCookies = &jar;
    o.returnedCookies = &returned;
    WebRequest(server.Url("/m/1").c_str(), o);
    EXPECT_STREQ(jar.c_str(), "a=1; b=2;x=9");
    EXPECT_STREQ(returned.c_str(), "a=1; b=2;x=9");
    WebRequest(server.Url("/m/2").c_str(), o);
    EXPECT_EQ(server.LastRequest().Header("Cookie"), "a=1; b=2;x=9");
    EXPECT_STREQ(jar.c_str(), " c=3; b=2;x=9");
    WebRequest(server.Url("/m/3").c_str(), o);
    EXPECT_EQ(server.LastRequest().Header("Cookie"), "c=3; b=2;x=9");

    // Without merging the list stays as it was.
    Text kept = Text::Copy("k=1");
    WebRequestOptions noMerge;
    noMerge.sendCookies = &kept;
    noMerge.returnedCookies = &returned;
    noMerge.mergeCookies = false;
    WebRequest(server.Url("/m/1").c_str(), noMerge);
    EXPECT_STREQ(kept.c_str(), "k=1");
    EXPECT_STREQ(returned.c_str(), "a=1; b=2");
}

TEST_F(WebRequestLive, ThePlatformsOwnCookiesOnlyWithoutSendCookies) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.Target() == "/s/set") return Answer("set", {"Set-Cookie: platform=1; path=/s/"});
        return Answer("next");
    });
    WebRequest(server.Url("/s/set").c_str());
    WebRequest(server.Url("/s/next").c_str());
    EXPECT_EQ(server.LastRequest().Header("Cookie"), "platform=1");  // the platform's store
    Text mine = Text::Copy("");
    WebRequestOptions o;
    o.sendCookies = &mine;
    WebRequest(server.Url("/s/next").c_str(), o);
    EXPECT_EQ(server.LastRequest().Header("Cookie"), "");  // switched off, even for an empty list
}

TEST_F(WebRequestLive, RedirectsFollowedUnlessSwitchedOff) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.Target() == "/r/from") {
            ServerResponse moved = Answer("moved", {"Location: /r/to"});
            moved.status = "302 Found";
            return moved;
        }
        return Answer("arrived");
    });
    Text response;
    WebRequestOptions o;
    o.responseHeaders = &response;
    EXPECT_EQ(WebRequest(server.Url("/r/from").c_str(), o).view(), "arrived");
    EXPECT_EQ(response.view().substr(0, 12), "HTTP/1.1 200");
    EXPECT_EQ(server.LastRequest().Target(), "/r/to");

    o.noRedirect = true;
    EXPECT_EQ(WebRequest(server.Url("/r/from").c_str(), o).view(), "moved");
    EXPECT_EQ(response.view().substr(0, 12), "HTTP/1.1 302");
    EXPECT_EQ(server.LastRequest().Target(), "/r/from");
}

TEST_F(WebRequestLive, AProxyGetsTheWholeUrl) {
    TestHttpServer proxy([](const ReceivedRequest&) { return Answer("via proxy"); });
    // Nothing listens on port 1: only the proxy can answer.
    const std::string proxyAddress = proxy.HostPort();
    WebRequestOptions o;
    o.proxy = proxyAddress.c_str();
    EXPECT_EQ(WebRequest("http://127.0.0.1:1/through?x=1", o).view(), "via proxy");
    EXPECT_EQ(proxy.LastRequest().requestLine, "GET http://127.0.0.1:1/through?x=1 HTTP/1.1");
}

// The plain proxy form serves every scheme, also plain http (WebRequest uses it for https only).
TEST_F(WebRequestLive, ThePlainProxyFormServesHttpToo) {
    TestHttpServer proxy([](const ReceivedRequest&) { return Answer("plain proxy"); });
    const std::string address = proxy.HostPort();
    auto call = [](std::uint32_t index, std::initializer_list<Word> args) {
        return CallDll(index, std::span<const Word>(args.begin(), args.size()));
    };
    auto w = [](const void* p) { return reinterpret_cast<Word>(p); };
    const Word root = call(dll::kInternetOpenA, {w("t"), 3, w(address.c_str()), 0, 0});
    ASSERT_NE(root, 0u);
    const Word connection =
        call(dll::kInternetConnectA, {root, w("127.0.0.1"), 1, w(""), w(""), 3, 0, 0});
    const Word request = call(dll::kHttpOpenRequestA, {connection, w("GET"), w("/plain"),
                                                       w("HTTP/1.1"), w(""), 0, 0x80084010u, 0});
    ASSERT_NE(request, 0u);
    call(dll::kHttpSendRequestA, {request, w(""), 0, 0, 0});
    char buffer[64] = {};
    std::uint32_t got = 0;
    call(dll::kInternetReadFile, {request, w(buffer), sizeof buffer - 1, w(&got)});
    EXPECT_STREQ(buffer, "plain proxy");
    for (Word h : {request, connection, root}) call(dll::kInternetCloseHandle, {h});
    EXPECT_EQ(proxy.LastRequest().requestLine, "GET http://127.0.0.1:1/plain HTTP/1.1");
}

TEST_F(WebRequestLive, AFiftyMegabyteBodyArrivesIntact) {
    constexpr std::uint64_t kSize = 50u << 20;
    TestHttpServer server([](const ReceivedRequest&) {
        ServerResponse r;
        r.patternBytes = kSize;
        return r;
    });
    const ByteArray body = WebRequest(server.Url("/big").c_str());
    ASSERT_EQ(body.size(), kSize);
    const std::uint8_t* data = body.data();
    std::uint64_t wrong = 0;
    for (std::uint64_t i = 0; i < kSize; ++i) wrong += data[i] != TestHttpServer::PatternByte(i);
    EXPECT_EQ(wrong, 0u);
}

TEST_F(WebRequestLive, ABodyPastTheCallersBoundComesBackEmpty) {
    // 2 MB fits a bound of 2 MB; one byte more does not, nor do 6 MB.
    TestHttpServer server([](const ReceivedRequest& r) {
        ServerResponse answer;
        answer.patternBytes = r.Target() == "/fits"   ? 2u << 20
                              : r.Target() == "/over" ? (2u << 20) + 1
                                                      : 6u << 20;
        return answer;
    });
    WebRequestOptions bounded;
    bounded.bodyLimit = 2u << 20;
    EXPECT_EQ(WebRequest(server.Url("/fits").c_str(), bounded).size(), 2u << 20);
    EXPECT_TRUE(WebRequest(server.Url("/over").c_str(), bounded).empty());
    EXPECT_TRUE(WebRequest(server.Url("/long").c_str(), bounded).empty());
}

// A body that never ends, told by its length or in chunks, and one with no line break that goes
// quiet past the bound: the page fails and its handles close while the server is still sending
// or waiting (the client neither reads on to the end nor waits out the 30 s receive time-out).
TEST_F(WebRequestLive, AnEndlessBodyPastTheBoundIsLeftPromptly) {
    using Framing = ServerResponse::Framing;
    struct Case {
        Framing framing;
        bool goesQuiet;
    };
    for (const Case c : {Case{Framing::kContentLength, false}, Case{Framing::kChunked, false},
                         Case{Framing::kContentLength, true}}) {
        TestHttpServer server([c](const ReceivedRequest&) {
            ServerResponse answer;
            answer.framing = c.framing;
            if (c.goesQuiet) {
                answer.body = std::string(5u << 20, 'x');
                answer.withheldBytes = 1u << 30;
            } else {
                answer.patternBytes = std::uint64_t{1} << 40;
            }
            return answer;
        });
        WebRequestOptions bounded;
        bounded.bodyLimit = 4u << 20;
        auto page = std::async(std::launch::async, [&] {
            return WebRequest(server.Url("/endless").c_str(), bounded).size();
        });
        if (page.wait_for(std::chrono::seconds(kPromptCloseBoundSeconds)) !=
            std::future_status::ready) {
            // The request would go on reading for ever; a hung test helps nobody.
            std::fprintf(stderr, "the endless body was still being read after %d s\n",
                         kPromptCloseBoundSeconds);
            std::_Exit(1);
        }
        EXPECT_EQ(page.get(), 0u);
    }
}

TEST_F(WebRequestLive, AHeaderBlockOverFiveThousandBytesKeepsItsCookies) {
    TestHttpServer server([](const ReceivedRequest&) {
        std::vector<std::string> headers{"Set-Cookie: first=1; path=/h/"};
        for (int i = 0; i < 80; ++i)
            headers.push_back("X-Filler-" + std::to_string(i) + ": " + std::string(80, 'f'));
        headers.push_back("Set-Cookie: last=2; path=/h/");
        return Answer("h", headers);
    });
    Text response, returned;
    WebRequestOptions o;
    o.responseHeaders = &response;
    o.returnedCookies = &returned;
    EXPECT_EQ(WebRequest(server.Url("/h/big").c_str(), o).view(), "h");
    EXPECT_GT(response.size(), 5000u);
    EXPECT_NE(response.view().find("X-Filler-79: "), std::string::npos);
    EXPECT_STREQ(returned.c_str(), "first=1; last=2");
}

// Header lines are split on CR LF byte by byte: a line ending in a GBK lead byte does not take
// the CR for its second half and run into the next line, and a cookie never carries a CR or LF
// on into the headers of the next request.
TEST_F(WebRequestLive, AHeaderLineEndingInHighBytesKeepsTheNextLine) {
    TestHttpServer server([](const ReceivedRequest&) {
        return Answer("h", {"X-Name: \xD6\xD0\xB0", "Set-Cookie: sid=7; path=/",
                            "Set-Cookie: a=\xD6", "Set-Cookie: b=2", "Set-Cookie: c=3\rX-Evil: 1"});
    });
    Text returned;
    WebRequestOptions o;
    o.returnedCookies = &returned;
    EXPECT_EQ(WebRequest(server.Url("/h/high").c_str(), o).view(), "h");
    const std::string cookies = returned.c_str();
    EXPECT_EQ(cookies.rfind("sid=7; a=\xD6; b=2", 0), 0u) << cookies;
    EXPECT_EQ(cookies.find_first_of("\r\n"), std::string::npos) << cookies;
}

TEST_F(WebRequestLive, AServerThatNeverAnswersEndsWithinTheTimeOut) {
    headless::SetNetworkTimeouts(2000, 2000);
    TestHttpServer server([](const ReceivedRequest&) {
        ServerResponse r;
        r.neverAnswer = true;
        return r;
    });
    Text headers, response = Text::Copy("old"), returned = Text::Copy("old");
    WebRequestOptions o;
    o.requestHeaders = &headers;
    o.responseHeaders = &response;
    o.returnedCookies = &returned;
    const auto start = std::chrono::steady_clock::now();
    const ByteArray body = WebRequest(server.Url("/silent").c_str(), o);
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(body.empty());
    EXPECT_LT(seconds, 12.0);       // the server would hold on for 20 s
    EXPECT_FALSE(headers.empty());  // the block was completed before the send
    EXPECT_STREQ(returned.c_str(), "");
    EXPECT_EQ(response.view().find("HTTP/"), std::string_view::npos);  // no answer, no status line
}

TEST_F(WebRequestLive, AnUnreachableServerReturnsNormally) {
    std::uint16_t port = 0;
    {
        TestHttpServer gone([](const ReceivedRequest&) { return Answer(""); });
        port = gone.port();
    }
    Text returned = Text::Copy("old");
    WebRequestOptions o;
    o.returnedCookies = &returned;
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    EXPECT_TRUE(WebRequest(url.c_str(), o).empty());
    EXPECT_STREQ(returned.c_str(), "");
}

}  // namespace
}  // namespace tessel
