#include "tessel/http/web_request.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "tessel/http/cookies.h"
#include "tessel/http/url.h"
#include "tessel/runtime/dll_commands.h"
#include "tessel/runtime/kernel.h"
#include "tessel/runtime/text_cutting.h"

namespace tessel {

namespace {

constexpr const char kDefaultAgent[] = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
constexpr const char kCrLf[] = "\r\n";

// WinInet's numbers.
constexpr std::uint32_t kOpenTypeDirect = 1;
constexpr std::uint32_t kOpenTypeProxy = 3;
constexpr std::uint32_t kServiceHttp = 3;
constexpr std::uint32_t kQueryRawHeadersCrLf = 22;
constexpr std::uint32_t kFlagReload = 0x80000000;
constexpr std::uint32_t kFlagNeedFile = 0x00000010;
constexpr std::uint32_t kFlagNoCookies = 0x00080000;
constexpr std::uint32_t kFlagNoAutoRedirect = 0x00200000;
constexpr std::uint32_t kFlagSecure = 0x00800000;
constexpr std::uint32_t kFlagIgnoreRedirectToHttps = 0x00004000;

// Each read lands straight in the body. Reads of 64 KiB rather than 1 KiB: every read is a call
// into WinInet, and small ones made a large body ten times slower.
constexpr std::uint32_t kReadSize = 64 * 1024;
constexpr std::uint32_t kHeaderBufferSize = 5000;
constexpr std::int32_t kMethodGet = 0;
constexpr std::int32_t kMethodPost = 1;

Word Ptr(const void* p) {
    return reinterpret_cast<Word>(p);
}
Word Dll(std::uint32_t index, std::initializer_list<Word> args) {
    return CallDll(index, std::span<const Word>(args.begin(), args.size()));
}

void CloseHandles(std::initializer_list<Word> handles) {
    for (Word h : handles) {
        if (h != 0) Dll(dll::kInternetCloseHandle, {h});
    }
}

bool Contains(const char* text, const char* sought) {
    return FindText(text, sought) != -1;
}

void Append(Text& text, std::initializer_list<const char*> pieces) {
    for (const char* p : pieces) text = Text(JoinTexts({text.get(), p}));
}

// The agent named in the caller's header block, or the default when it names none. The value is
// cut from the User-Agent line itself, never from other lines of the block.
Text UserAgent(const char* headers) {
    if (FindText(headers, "User-Agent:", 0, true) == -1) return Text::Copy(kDefaultAgent);
    const Text block(JoinTexts({headers, kCrLf}));
    Text agent = TrimText(TextBetween(block.get(), "User-Agent:", kCrLf).get());
    if (agent.empty())
        agent = TrimText(TextBetween(block.get(), "User-Agent:", kCrLf, 0, true).get());
    return agent;
}

std::uint32_t OpenFlags(bool secure, bool cookiesGiven, bool noRedirect) {
    std::uint32_t flags = kFlagReload | kFlagNeedFile;
    if (cookiesGiven) flags |= kFlagNoCookies;
    if (noRedirect) flags |= kFlagNoAutoRedirect;
    flags |= secure ? kFlagSecure : kFlagIgnoreRedirectToHttps;
    return flags;
}

Text CompleteHeaders(const char* url, const char* given, std::int32_t method,
                     const char* sendCookies) {
    Text block(CopyText(given));
    if (block.empty()) {
        block = Text::Copy("Accept: */*");
    } else if (!Contains(block.get(), "Accept:")) {
        Append(block, {kCrLf, "Accept: */*"});
    }
    if (!Contains(block.get(), "Referer:")) Append(block, {kCrLf, "Referer: ", url});
    if (!Contains(block.get(), "Accept-Language:"))
        Append(block, {kCrLf, "Accept-Language: zh-cn"});
    if (method == kMethodPost && !Contains(block.get(), "Content-Type:")) {
        Append(block, {kCrLf, "Content-Type: application/x-www-form-urlencoded"});
    }
    if (TextLength(sendCookies) != 0) {
        // A caller may give a whole header line instead of the bare list.
        if (Contains(sendCookies, "Cookie:"))
            Append(block, {kCrLf, sendCookies});
        else
            Append(block, {kCrLf, "Cookie: ", sendCookies});
    }
    return block;
}

// The body grows geometrically and each read lands in place: no copy per chunk. A body longer
// than `limit` (when not 0) is dropped as soon as it passes it, so an endless answer costs no more
// than the limit.
ByteArray ReadBody(Word request, std::uint32_t limit) {
    std::uint32_t capacity = 0;
    std::uint32_t length = 0;
    std::uint8_t* block = nullptr;
    for (;;) {
        if (capacity - length < kReadSize) {
            // A body a byte array cannot hold is the out-of-memory error, never a short body.
            capacity = capacity == 0 ? kReadSize : BlockSize(std::uint64_t{capacity} * 2 + 8) - 8;
            block = static_cast<std::uint8_t*>(Resize(block, capacity + 8));
        }
        std::uint32_t got = 0;  // a DWORD
        Dll(dll::kInternetReadFile, {request, Ptr(block + 8 + length), kReadSize, Ptr(&got)});
        if (got == 0 || got > kReadSize) break;
        length += got;
        if (limit != 0 && length > limit) {
            length = 0;
            break;
        }
    }
    if (length == 0) {
        Free(block);
        return ByteArray::Copy(nullptr, 0);
    }
    const std::uint32_t header[2] = {1, length};
    std::memcpy(block, header, sizeof header);
    return ByteArray(Resize(block, length + 8));
}

// The raw header block of the final response. A block larger than the first buffer is asked for
// again with the size the query says it needs; a failed query gives the empty text.
Text QueryResponseHeaders(Word request) {
    std::uint32_t size = kHeaderBufferSize;  // a DWORD
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::uint32_t bufferSize = size;
        Text buffer = Blanks(static_cast<std::int32_t>(bufferSize));
        const Word ok = Dll(dll::kHttpQueryInfoA,
                            {request, kQueryRawHeadersCrLf, Ptr(buffer.get()), Ptr(&size), 0});
        if (ok != 0) return buffer;
        if (size <= bufferSize) break;  // failed for another reason than room
    }
    return Text::Copy("");
}

// The lines of a response header block. The block is split on CR LF byte by byte: a search that
// steps over double-byte characters takes a CR behind a high byte for the second half of a
// character and runs that line and the next into one.
std::vector<std::string_view> HeaderLines(std::string_view block) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < block.size(); ++i) {
        if (block[i] == '\r' && block[i + 1] == '\n') {
            lines.push_back(block.substr(start, i - start));
            start = i + 2;
            ++i;
        }
    }
    if (start < block.size()) lines.push_back(block.substr(start));
    return lines;
}

// The name=value part of a Set-Cookie line's value: up to the first ';', and never past a bare
// CR or LF, which would otherwise be sent on as a line of the next request's headers.
std::string_view CookiePart(std::string_view value) {
    return value.substr(0, value.find_first_of(";\r\n"));
}

Text ExtractCookies(const char* responseHeaders) {
    constexpr std::string_view kSetCookie = "Set-Cookie: ";
    Text cookies = Text::Copy("");
    for (std::string_view line : HeaderLines(responseHeaders != nullptr ? responseHeaders : "")) {
        if (line.substr(0, kSetCookie.size()) != kSetCookie) continue;
        const Text cookie = TrimText(Text::Copy(CookiePart(line.substr(kSetCookie.size()))).get());
        Append(cookies, {cookie.get(), "; "});
    }
    if (!cookies.empty())
        cookies = LeftText(cookies.get(), static_cast<std::int32_t>(cookies.size()) - 2);
    return cookies;
}

}  // namespace

ByteArray WebRequest(const char* url, const WebRequestOptions& options) {
    const std::int32_t method =
        options.method < 0 || options.method > 7 ? kMethodGet : options.method;
    const bool secure = CompareTexts(LowerText(LeftText(url, 8).get()).get(), "https://") == 0;
    const char* givenHeaders =
        options.requestHeaders != nullptr ? options.requestHeaders->get() : nullptr;
    const Text agent = UserAgent(givenHeaders);

    Word root = 0;
    if (TextLength(options.proxy) == 0) {
        root = Dll(dll::kInternetOpenA, {Ptr(agent.get()), kOpenTypeDirect, Ptr(""), Ptr(""), 0});
    } else {
        const Text proxyName(secure ? CopyText(options.proxy)
                                    : JoinTexts({"http=", options.proxy}));
        root = Dll(dll::kInternetOpenA,
                   {Ptr(agent.get()), kOpenTypeProxy, Ptr(proxyName.get()), 0, 0});
    }
    if (root == 0) return ByteArray::Copy(nullptr, 0);

    const Text host = UrlHost(url);
    const Word port = static_cast<std::uint32_t>(UrlPort(url));
    const Word connection = Dll(dll::kInternetConnectA, {root, Ptr(host.get()), port, Ptr(""),
                                                         Ptr(""), kServiceHttp, 0, 0});
    if (connection == 0) {
        CloseHandles({root});
        return ByteArray::Copy(nullptr, 0);
    }

    const bool cookiesGiven = options.sendCookies != nullptr;
    const Text path = UrlPath(url);
    const Word request = Dll(dll::kHttpOpenRequestA,
                             {connection, Ptr(kHttpVerbs[method]), Ptr(path.get()), Ptr("HTTP/1.1"),
                              Ptr(""), 0, OpenFlags(secure, cookiesGiven, options.noRedirect), 0});
    if (request == 0) {
        CloseHandles({connection, root});
        return ByteArray::Copy(nullptr, 0);
    }

    const char* sendCookies = cookiesGiven ? options.sendCookies->get() : nullptr;
    Text headers = CompleteHeaders(url, givenHeaders, method, sendCookies);
    if (options.requestHeaders != nullptr) *options.requestHeaders = Text(CopyText(headers.get()));

    if (method == kMethodGet) {
        Dll(dll::kHttpSendRequestA, {request, Ptr(headers.get()), headers.size(), 0, 0});
    } else {
        ByteArray filled;
        const ByteArray* body = options.postBytes;
        if (body == nullptr || body->empty()) {
            filled = TextToBytes(options.postText);
            if (options.postBytes != nullptr)
                *options.postBytes = ByteArray::Copy(filled.data(), filled.size());
            body = &filled;
        }
        const std::uint32_t length = body->size();
        Dll(dll::kHttpSendRequestWithBytes, {request, Ptr(headers.get()), headers.size(),
                                             length != 0 ? Ptr(body->data()) : 0, length});
    }

    ByteArray result = ReadBody(request, options.bodyLimit);
    Text responseHeaders = QueryResponseHeaders(request);
    CloseHandles({request, connection, root});

    Text cookies = ExtractCookies(responseHeaders.get());
    if (options.mergeCookies && cookiesGiven) cookies = MergeCookies(*options.sendCookies, cookies);
    if (options.returnedCookies != nullptr) *options.returnedCookies = std::move(cookies);
    if (options.responseHeaders != nullptr) *options.responseHeaders = std::move(responseHeaders);
    return result;
}

}  // namespace tessel
