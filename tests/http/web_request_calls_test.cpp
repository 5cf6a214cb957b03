// The WinInet calls WebRequest makes, seen through a recording double of the DLL-command service.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "recording_services.h"
#include "tessel/http/web_request.h"
#include "tessel/runtime/dll_commands.h"

namespace tessel {
namespace {

using testing::RecordingServices;

constexpr Word kRoot = 0x1000, kConnection = 0x2000, kRequest = 0x3000;
constexpr const char kAgent[] = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

std::string Str(Word w) {
    return w == 0 ? "<null>" : reinterpret_cast<const char*>(w);
}

struct DllCall {
    std::uint32_t index;
    std::vector<Word> args;
    std::vector<std::string> texts;  // the text arguments, read during the call
};

// Which arguments of each function are texts.
std::vector<int> TextPositions(std::uint32_t index) {
    switch (index) {
        case dll::kInternetOpenA:
            return {0, 2, 3};
        case dll::kInternetConnectA:
            return {1, 3, 4};
        case dll::kHttpOpenRequestA:
            return {1, 2, 3, 4};
        case dll::kHttpSendRequestA:
        case dll::kHttpSendRequestWithBytes:
            return {1};
        default:
            return {};
    }
}

// A WinInet that answers with handles, a body given in chunks and a header block.
class FakeWinInet {
  public:
    explicit FakeWinInet(RecordingServices& r) {
        r.onDll = [this](std::uint32_t index, const std::vector<Word>& a) {
            return Answer(index, a);
        };
    }
    Word openResult = kRoot, connectResult = kConnection, requestResult = kRequest;
    std::vector<std::string> chunks;
    std::string headers = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    std::vector<std::uint32_t> querySizes;  // the buffer size each header query was given
    std::vector<DllCall> calls;
    std::string sentBody;

    std::vector<std::uint32_t> Indexes() const {
        std::vector<std::uint32_t> out;
        for (const auto& c : calls) out.push_back(c.index);
        return out;
    }
    const DllCall& First(std::uint32_t index) const {
        for (const auto& c : calls) {
            if (c.index == index) return c;
        }
        static const DllCall none{99, std::vector<Word>(8, 0), std::vector<std::string>(8)};
        return none;
    }

  private:
    Word Answer(std::uint32_t index, const std::vector<Word>& a) {
        std::vector<std::string> texts(a.size());
        for (int i : TextPositions(index)) texts[i] = Str(a[i]);
        calls.push_back({index, a, texts});
        switch (index) {
            case dll::kInternetOpenA:
                return openResult;
            case dll::kInternetConnectA:
                return connectResult;
            case dll::kHttpOpenRequestA:
                return requestResult;
            case dll::kHttpSendRequestWithBytes:
                sentBody.assign(reinterpret_cast<const char*>(a[3]), a[4]);
                return 1;
            case dll::kInternetReadFile: {
                std::uint32_t n = 0;
                if (next_ < chunks.size()) {
                    n = static_cast<std::uint32_t>(chunks[next_].size());
                    std::memcpy(reinterpret_cast<void*>(a[1]), chunks[next_++].data(), n);
                }
                *reinterpret_cast<std::uint32_t*>(a[3]) = n;
                return 1;
            }
            case dll::kHttpQueryInfoA: {
                auto* size = reinterpret_cast<std::uint32_t*>(a[3]);
                querySizes.push_back(*size);
                if (*size < headers.size() + 1) {
                    *size = static_cast<std::uint32_t>(headers.size() + 1);
                    return 0;
                }
                std::memcpy(reinterpret_cast<void*>(a[2]), headers.c_str(), headers.size() + 1);
                *size = static_cast<std::uint32_t>(headers.size());
                return 1;
            }
            default:
                return 1;
        }
    }
    std::size_t next_ = 0;
};

TEST(WebRequestCalls, ABareHttpGet) {
    RecordingServices r;
    FakeWinInet inet(r);
    inet.chunks = {"hel", "lo"};
    const ByteArray body = WebRequest("http://Example.com:8080/A?b=1");
    EXPECT_EQ(body.view(), "hello");
    using V = std::vector<std::uint32_t>;
    EXPECT_EQ(inet.Indexes(),
              (V{dll::kInternetOpenA, dll::kInternetConnectA, dll::kHttpOpenRequestA,
                 dll::kHttpSendRequestA, dll::kInternetReadFile, dll::kInternetReadFile,
                 dll::kInternetReadFile, dll::kHttpQueryInfoA, dll::kInternetCloseHandle,
                 dll::kInternetCloseHandle, dll::kInternetCloseHandle}));
    const auto& open = inet.calls[0].args;
    const auto& openT = inet.calls[0].texts;
    EXPECT_EQ(openT[0], kAgent);
    EXPECT_EQ(open[1], 1u);  // direct
    EXPECT_EQ(openT[2], "");
    EXPECT_EQ(openT[3], "");
    EXPECT_EQ(open[4], 0u);
    const auto& connect = inet.calls[1].args;
    const auto& connectT = inet.calls[1].texts;
    EXPECT_EQ(connect[0], kRoot);
    EXPECT_EQ(connectT[1], "example.com");
    EXPECT_EQ(connect[2], 8080u);
    EXPECT_EQ(connectT[3], "");
    EXPECT_EQ(connectT[4], "");
    EXPECT_EQ(connect[5], 3u);
    const auto& request = inet.calls[2].args;
    const auto& requestT = inet.calls[2].texts;
    EXPECT_EQ(request[0], kConnection);
    EXPECT_EQ(requestT[1], "GET");
    EXPECT_EQ(requestT[2], "/A?b=1");
    EXPECT_EQ(requestT[3], "HTTP/1.1");
    EXPECT_EQ(requestT[4], "");
    EXPECT_EQ(request[5], 0u);
    EXPECT_EQ(request[6], 0x80004010u);
    const auto& send = inet.calls[3].args;
    const auto& sendT = inet.calls[3].texts;
    const std::string block =
        "Accept: */*\r\nReferer: http://Example.com:8080/A?b=1\r\nAccept-Language: zh-cn";
    EXPECT_EQ(send[0], kRequest);
    EXPECT_EQ(sendT[1], block);
    EXPECT_EQ(send[2], block.size());
    EXPECT_EQ(send[3], 0u);
    EXPECT_EQ(send[4], 0u);
    EXPECT_EQ(inet.First(dll::kHttpQueryInfoA).args[1], 22u);
    EXPECT_EQ(inet.calls[8].args[0], kRequest);  // closed innermost first
    EXPECT_EQ(inet.calls[9].args[0], kConnection);
    EXPECT_EQ(inet.calls[10].args[0], kRoot);
}

TEST(WebRequestCalls, OpenFlags) {
    RecordingServices r;
    FakeWinInet inet(r);
    auto flags = [&](const char* url, const WebRequestOptions& o) {
        inet.calls.clear();
        WebRequest(url, o);
        return inet.First(dll::kHttpOpenRequestA).args[6];
    };
    EXPECT_EQ(flags("https://example.com/", {}), 0x80800010u);
    EXPECT_EQ(flags("HTTPS://example.com/", {}), 0x80800010u);
    EXPECT_EQ(flags("https:example.com/", {}), 0x80004010u);
    Text empty = Text::Copy("");
    WebRequestOptions cookies;
    cookies.sendCookies = &empty;
    EXPECT_EQ(flags("http://example.com/", cookies), 0x80084010u);  // given, even empty
    WebRequestOptions noRedirect;
    noRedirect.noRedirect = true;
    EXPECT_EQ(flags("https://example.com/", noRedirect), 0x80A00010u);
    EXPECT_EQ(inet.First(dll::kInternetConnectA).args[2], 443u);
}

TEST(WebRequestCalls, MethodsOutsideTheTableAreGet) {
    RecordingServices r;
    FakeWinInet inet(r);
    for (int method : {9, -1, 7, 2}) {
        inet.calls.clear();
        WebRequestOptions o;
        o.method = method;
        WebRequest("http://h/", o);
        EXPECT_EQ(inet.First(dll::kHttpOpenRequestA).texts[1], method == 7   ? "CONNECT"
                                                               : method == 2 ? "HEAD"
                                                                             : "GET");
    }
}

TEST(WebRequestCalls, ProxyForms) {
    RecordingServices r;
    FakeWinInet inet(r);
    WebRequestOptions o;
    o.proxy = "127.0.0.1:8080";
    WebRequest("http://h/", o);
    EXPECT_EQ(inet.calls[0].args[1], 3u);
    EXPECT_EQ(inet.calls[0].texts[2], "http=127.0.0.1:8080");
    EXPECT_EQ(inet.calls[0].args[3], 0u);
    inet.calls.clear();
    WebRequest("https://h/", o);
    EXPECT_EQ(inet.calls[0].texts[2], "127.0.0.1:8080");
    EXPECT_EQ(inet.calls[0].args[3], 0u);
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
        return inet.calls[0].texts[0];
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

TEST(WebRequestCalls, BodiesByMethod) {
    RecordingServices r;
    FakeWinInet inet(r);
    WebRequestOptions post;
    post.method = 1;
    post.postText = "q=1";
    ByteArray bytes;
    post.postBytes = &bytes;
    WebRequest("http://h/", post);
    EXPECT_EQ(inet.sentBody, "q=1");
    EXPECT_EQ(bytes.view(), "q=1");  // filled from the text and written back
    const std::string sent = inet.First(dll::kHttpSendRequestWithBytes).texts[1];
    EXPECT_NE(sent.find("\r\nContent-Type: application/x-www-form-urlencoded"), std::string::npos);

    inet.calls.clear();
    WebRequestOptions get;
    get.postText = "ignored";
    WebRequest("http://h/", get);
    EXPECT_EQ(inet.First(dll::kHttpSendRequestA).args[3], 0u);
    EXPECT_EQ(inet.First(dll::kHttpSendRequestWithBytes).index, 99u);

    inet.calls.clear();
    ByteArray given = ByteArray::Copy("raw", 3);
    WebRequestOptions put;
    put.method = 3;
    put.postText = "text";
    put.postBytes = &given;
    WebRequest("http://h/", put);
    EXPECT_EQ(inet.sentBody, "raw");  // bytes win over text
    EXPECT_EQ(inet.First(dll::kHttpSendRequestWithBytes).texts[1].find("Content-Type"),
              std::string::npos);
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
            EXPECT_EQ(inet.calls[3].args[0], kConnection);
            EXPECT_EQ(inet.calls[4].args[0], kRoot);
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
    EXPECT_EQ(inet.querySizes,
              (std::vector<std::uint32_t>{5000u, static_cast<std::uint32_t>(inet.headers.size() + 1)}));
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
