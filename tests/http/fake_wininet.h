#pragma once
// A WinInet double for WebRequest's tests: the DLL-command service answers with handles, a body
// given in chunks and a header block, and records every call; SeenRequest reads the calls by
// meaning.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "recording_services.h"
#include "tessel/runtime/dll_commands.h"

namespace tessel {

using testing::RecordingServices;

constexpr Word kRoot = 0x1000, kConnection = 0x2000, kRequest = 0x3000;
constexpr const char kAgent[] = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

inline std::string Str(Word w) {
    return w == 0 ? "<null>" : reinterpret_cast<const char*>(w);
}

struct DllCall {
    std::uint32_t index;
    std::vector<Word> args;
    std::vector<std::string> texts;  // the text arguments, read during the call
};

// Which arguments of each function are texts.
inline std::vector<int> TextPositions(std::uint32_t index) {
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

// What WebRequest asked of WinInet, by meaning: WinInet's argument positions are read here once.
struct SeenRequest {
    std::vector<std::uint32_t> order;  // the functions called, in order
    // InternetOpenA
    std::string agent, proxy, proxyBypass;
    Word accessType = 0, openFlags = 0;
    // InternetConnectA
    Word connectedFrom = 0, port = 0, service = 0;
    std::string host, user, password;
    // HttpOpenRequestA
    Word requestedFrom = 0, acceptTypes = 0, flags = 0;
    std::string verb, object, version, referer;
    // The send: which function, on which handle, the header block and its stated length
    std::uint32_t send = 0;
    Word sentOn = 0, headersLength = 0, bodyAt = 0, bodyLength = 0;
    int sends = 0;
    std::string headers;
    Word headerQueryLevel = 0;  // HttpQueryInfoA's info level
    std::vector<Word> closed;   // InternetCloseHandle's handles, in order
};

inline SeenRequest Seen(const FakeWinInet& inet) {
    SeenRequest s;
    s.order = inet.Indexes();
    const auto& open = inet.First(dll::kInternetOpenA);
    s.agent = open.texts[0];
    s.accessType = open.args[1];
    s.proxy = open.texts[2];
    s.proxyBypass = open.texts[3];
    s.openFlags = open.args[4];
    const auto& connect = inet.First(dll::kInternetConnectA);
    s.connectedFrom = connect.args[0];
    s.host = connect.texts[1];
    s.port = connect.args[2];
    s.user = connect.texts[3];
    s.password = connect.texts[4];
    s.service = connect.args[5];
    const auto& request = inet.First(dll::kHttpOpenRequestA);
    s.requestedFrom = request.args[0];
    s.verb = request.texts[1];
    s.object = request.texts[2];
    s.version = request.texts[3];
    s.referer = request.texts[4];
    s.acceptTypes = request.args[5];
    s.flags = request.args[6];
    for (const auto& c : inet.calls) {
        if (c.index == dll::kHttpSendRequestA || c.index == dll::kHttpSendRequestWithBytes) {
            s.send = c.index;
            ++s.sends;
            s.sentOn = c.args[0];
            s.headers = c.texts[1];
            s.headersLength = c.args[2];
            s.bodyAt = c.args[3];
            s.bodyLength = c.args[4];
        }
        if (c.index == dll::kInternetCloseHandle) s.closed.push_back(c.args[0]);
    }
    s.headerQueryLevel = inet.First(dll::kHttpQueryInfoA).args[1];
    return s;
}

}  // namespace tessel
