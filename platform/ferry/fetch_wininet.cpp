// GET requests over WinInet, for ferry.fnr. Addresses are converted from GBK with code page 936
// and passed to the wide-character functions.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "tessel/ferry/platform_seams.h"
#include "tessel/win32_shared/gbk_win32.h"

namespace tessel::ferry {

namespace {

// Measured under Wine 8: 1 MiB reads keep up with native curl on loopback, 64 KiB reads reach a
// quarter of that. A blocking read waits until its buffer is full, so on a slow line the reads
// shrink to about a quarter second's worth: the speed shown each second stays current, and an
// abort, which under Wine 8 does not end a read already waiting, is not held up for long.
constexpr DWORD kLargestRead = 1u << 20;
constexpr DWORD kSmallestRead = 16u << 10;

std::int64_t ParseInt64(const std::wstring& text, std::size_t from = 0) {
    std::int64_t value = 0;
    bool digits = false;
    for (std::size_t i = from; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        digits = true;
    }
    return digits ? value : -1;
}

std::wstring QueryText(HINTERNET request, DWORD level) {
    std::wstring text(128, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        DWORD index = 0;
        if (HttpQueryInfoW(request, level, text.data(), &size, &index)) {
            text.resize(size / sizeof(wchar_t));
            return text;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
        text.assign(size / sizeof(wchar_t) + 1, L'\0');
    }
    return {};
}

std::int32_t StatusOf(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    DWORD index = 0;
    return HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                          &index)
               ? static_cast<std::int32_t>(status)
               : 0;
}

ResponseHead ReadHead(HINTERNET request) {
    ResponseHead head;
    head.status = StatusOf(request);
    head.contentLength = ParseInt64(QueryText(request, HTTP_QUERY_CONTENT_LENGTH));
    // "bytes 100-199/200"
    const std::wstring range = QueryText(request, HTTP_QUERY_CONTENT_RANGE);
    if (range.rfind(L"bytes ", 0) == 0) {
        head.rangeStart = ParseInt64(range, 6);
        const std::size_t slash = range.find(L'/');
        if (slash != std::wstring::npos) head.rangeTotal = ParseInt64(range, slash + 1);
    }
    head.etag = platform::GbkFromWide(QueryText(request, HTTP_QUERY_ETAG));
    head.lastModified = platform::GbkFromWide(QueryText(request, HTTP_QUERY_LAST_MODIFIED));
    return head;
}

bool IsRedirect(std::int32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The address a Location value names, relative to the address that answered.
std::wstring Resolved(const std::wstring& base, const std::wstring& location) {
    std::wstring out(base.size() + location.size() + 64, L'\0');
    DWORD size = static_cast<DWORD>(out.size());
    if (!InternetCombineUrlW(base.c_str(), location.c_str(), out.data(), &size, ICU_NO_ENCODE)) {
        return {};
    }
    out.resize(size);
    return out;
}

bool IsTimeout(DWORD error) {
    return error == ERROR_INTERNET_TIMEOUT || error == WSAETIMEDOUT;
}

void Bound(HINTERNET handle, const Bounds& bounds) {
    DWORD connect = bounds.connectMs;
    DWORD stall = bounds.stallMs;
    InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &stall, sizeof stall);
    InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &stall, sizeof stall);
}

class WinInetFetcher final : public Fetcher {
  public:
    explicit WinInetFetcher(const Bounds& bounds) : bounds_(bounds) {}
    ~WinInetFetcher() override {
        if (session_ != nullptr) InternetCloseHandle(session_);
    }

    // Redirects are followed here, not by WinInet, so that their number and their schemes are
    // bounded alike on every system.
    FetchEnd Get(const std::string& url, const Resume& resume, BodyReceiver& receiver) override {
        std::wstring address = platform::WideFromGbk(url);
        for (int redirects = 0;; ++redirects) {
            std::wstring location;
            const FetchEnd end = GetOne(address, resume, receiver, location);
            if (location.empty()) return end;
            if (redirects == kMostRedirects) return FetchEnd::kNoConnection;
            address = Resolved(address, location);
        }
    }

    // Closing the root handle closes its children, which ends a read that waits in another thread.
    void Abort() override {
        std::lock_guard lock(mutex_);
        aborted_ = true;
        if (session_ != nullptr) InternetCloseHandle(session_);
        session_ = nullptr;
    }

  private:
    HINTERNET Session() {
        std::lock_guard lock(mutex_);
        if (aborted_) return nullptr;
        if (session_ == nullptr) {
            session_ = InternetOpenW(L"ferry", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
            if (session_ != nullptr) Bound(session_, bounds_);
        }
        return session_;
    }

    // After an abort the children went with the root handle.
    void Close(HINTERNET handle) {
        std::lock_guard lock(mutex_);
        if (handle != nullptr && !aborted_) InternetCloseHandle(handle);
    }

    // One request; a redirect answer leaves its Location in `location` and is not read.
    FetchEnd GetOne(const std::wstring& address, const Resume& resume, BodyReceiver& receiver,
                    std::wstring& location) {
        HINTERNET session = Session();
        if (session == nullptr) return aborted_ ? FetchEnd::kStopped : FetchEnd::kNoConnection;
        URL_COMPONENTSW parts{};
        parts.dwStructSize = sizeof parts;
        wchar_t host[256] = {};
        std::vector<wchar_t> path(address.size() + 1);
        std::vector<wchar_t> extra(address.size() + 1);
        parts.lpszHostName = host;
        parts.dwHostNameLength = 256;
        parts.lpszUrlPath = path.data();
        parts.dwUrlPathLength = static_cast<DWORD>(path.size());
        parts.lpszExtraInfo = extra.data();
        parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
        if (address.empty() ||
            !InternetCrackUrlW(address.c_str(), static_cast<DWORD>(address.size()), 0, &parts) ||
            (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
            return FetchEnd::kNoConnection;
        }
        const std::wstring object = std::wstring(path.data()) + extra.data();
        HINTERNET connection = InternetConnectW(session, host, parts.nPort, nullptr, nullptr,
                                                INTERNET_SERVICE_HTTP, 0, 0);
        if (connection == nullptr) return aborted_ ? FetchEnd::kStopped : FetchEnd::kNoConnection;
        Bound(connection, bounds_);
        DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                      INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                      INTERNET_FLAG_NO_AUTO_REDIRECT;
        if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
        HINTERNET request =
            HttpOpenRequestW(connection, L"GET", object.empty() ? L"/" : object.c_str(), nullptr,
                             nullptr, nullptr, flags, 0);
        FetchEnd end = FetchEnd::kNoConnection;
        if (request != nullptr) {
            Bound(request, bounds_);
            end = Exchange(request, resume, receiver, location);
        }
        Close(request);
        Close(connection);
        return end;
    }

    FetchEnd Exchange(HINTERNET request, const Resume& resume, BodyReceiver& receiver,
                      std::wstring& location) {
        std::wstring headers;
        if (resume.from > 0) {
            headers = L"Range: bytes=" + std::to_wstring(resume.from) + L"-\r\n";
            if (!resume.ifRange.empty()) {
                headers += L"If-Range: " + platform::WideFromGbk(resume.ifRange) + L"\r\n";
            }
        }
        if (!HttpSendRequestW(request, headers.empty() ? nullptr : headers.c_str(),
                              static_cast<DWORD>(headers.size()), nullptr, 0)) {
            return aborted_ ? FetchEnd::kStopped : FetchEnd::kNoConnection;
        }
        if (IsRedirect(StatusOf(request))) {
            location = QueryText(request, HTTP_QUERY_LOCATION);
            if (!location.empty()) return FetchEnd::kEnded;
        }
        if (!receiver.OnHead(ReadHead(request))) return FetchEnd::kStopped;
        if (buffer_.empty()) buffer_.resize(kLargestRead);
        DWORD want = 4 * kSmallestRead;
        for (;;) {
            using Clock = std::chrono::steady_clock;
            const auto started = Clock::now();
            DWORD got = 0;
            const bool read = InternetReadFile(request, buffer_.data(), want, &got) != FALSE;
            const DWORD error = read ? ERROR_SUCCESS : GetLastError();
            if (aborted_) return FetchEnd::kStopped;
            // Wine 8 fails a read that timed out with WSAETIMEDOUT and still hands over what
            // came before the stall.
            if (got > 0 && !receiver.OnBody(buffer_.data(), got)) return FetchEnd::kStopped;
            if (!read) return IsTimeout(error) ? FetchEnd::kStalled : FetchEnd::kDropped;
            if (got == 0) return FetchEnd::kEnded;
            // A read served from what had already arrived says little about the line: grow
            // by doubling at most.
            const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
            const double quarterSecond = seconds > 0 ? got / seconds / 4 : kLargestRead;
            want = static_cast<DWORD>(std::clamp<double>(
                std::min<double>(quarterSecond, 2.0 * want), kSmallestRead, kLargestRead));
        }
    }

    Bounds bounds_;
    std::mutex mutex_;
    HINTERNET session_ = nullptr;
    std::atomic<bool> aborted_{false};  // set under mutex_, which guards the handles
    std::vector<char> buffer_;
};

}  // namespace

std::unique_ptr<Fetcher> NewFetcher(const Bounds& bounds) {
    return std::make_unique<WinInetFetcher>(bounds);
}

}  // namespace tessel::ferry
