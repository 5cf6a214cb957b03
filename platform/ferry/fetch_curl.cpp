// GET requests over libcurl for the native build. The body is handed on as curl delivers it;
// nothing is kept. Each GET runs in a multi handle of the fetcher's own, so that Abort can wake
// it from another thread at once.
#include <curl/curl.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "tessel/ferry/platform_seams.h"

namespace tessel::ferry {

namespace {

using Clock = std::chrono::steady_clock;

// How often a GET looks at the stall bound while nothing happens.
constexpr int kPollMs = 100;

bool StartsWithIgnoringCase(std::string_view line, std::string_view prefix) {
    if (line.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != prefix[i]) return false;
    }
    return true;
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

// Digits at the start of `s`; -1 when there are none.
std::int64_t Number(std::string_view s) {
    std::int64_t value = 0;
    bool digits = false;
    for (const char c : s) {
        if (c < '0' || c > '9' || value > (INT64_MAX - 9) / 10) break;
        value = value * 10 + (c - '0');
        digits = true;
    }
    return digits ? value : -1;
}

class CurlFetcher final : public Fetcher {
  public:
    explicit CurlFetcher(const Bounds& bounds) : bounds_(bounds) {
        static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        (void)started;
        multi_ = curl_multi_init();
    }
    ~CurlFetcher() override {
        if (multi_ != nullptr) curl_multi_cleanup(multi_);
    }

    FetchEnd Get(const std::string& url, const Resume& resume, BodyReceiver& receiver) override {
        if (aborted_) return FetchEnd::kStopped;
        CURL* c = multi_ != nullptr ? curl_easy_init() : nullptr;
        if (c == nullptr) return FetchEnd::kNoConnection;
        Answer answer{c, &receiver, ResponseHead{}};
        const std::string range = std::to_string(resume.from) + "-";
        const std::string ifRange = "If-Range: " + resume.ifRange;
        curl_slist* headers = nullptr;
        if (resume.from > 0 && !resume.ifRange.empty()) {
            headers = curl_slist_append(headers, ifRange.c_str());
        }
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_PROXY, "");  // direct, whatever the environment says
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(c, CURLOPT_MAXREDIRS, static_cast<long>(kMostRedirects));
        curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 1L << 20);
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(bounds_.connectMs));
        if (resume.from > 0) curl_easy_setopt(c, CURLOPT_RANGE, range.c_str());
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
        curl_easy_setopt(c, CURLOPT_HEADERDATA, &answer);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
        const CURLcode result = Perform(c, answer);
        // An answer without a body never reached OnBody.
        if (result == CURLE_OK && !answer.headGiven) answer.GiveHead();
        curl_easy_cleanup(c);
        curl_slist_free_all(headers);
        if (aborted_ || answer.stopped) return FetchEnd::kStopped;
        if (answer.stalled) return FetchEnd::kStalled;
        switch (result) {
            case CURLE_OK:
                return FetchEnd::kEnded;
            case CURLE_PARTIAL_FILE:
            case CURLE_RECV_ERROR:
            case CURLE_GOT_NOTHING:
                return answer.headGiven ? FetchEnd::kDropped : FetchEnd::kNoConnection;
            default:
                return FetchEnd::kNoConnection;
        }
    }

    void Abort() override {
        aborted_ = true;
        if (multi_ != nullptr) curl_multi_wakeup(multi_);
    }

  private:
    struct Answer {
        CURL* curl;
        BodyReceiver* receiver;
        ResponseHead head;  // of the latest response (redirects)
        bool headGiven = false;
        bool stopped = false;
        bool stalled = false;
        Clock::time_point lastChange = Clock::now();

        void GiveHead() {
            headGiven = true;
            long status = 0;
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
            curl_off_t length = -1;
            curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
            head.status = static_cast<std::int32_t>(status);
            head.contentLength = length;
            stopped = !receiver->OnHead(head);
        }
    };

    // Runs the transfer until it ends, Abort wakes it, or nothing arrived for the stall bound.
    CURLcode Perform(CURL* c, Answer& answer) {
        curl_multi_add_handle(multi_, c);
        CURLcode result = CURLE_ABORTED_BY_CALLBACK;
        for (int active = 1; active > 0;) {
            if (curl_multi_perform(multi_, &active) != CURLM_OK) break;
            int queued = 0;
            while (const CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
                if (message->msg == CURLMSG_DONE) result = message->data.result;
            }
            if (active == 0 || aborted_ || answer.stopped) break;
            if (Clock::now() - answer.lastChange >= std::chrono::milliseconds(bounds_.stallMs)) {
                answer.stalled = true;
                break;
            }
            curl_multi_poll(multi_, nullptr, 0, kPollMs, nullptr);
        }
        curl_multi_remove_handle(multi_, c);
        return result;
    }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
        auto* a = static_cast<Answer*>(user);
        a->lastChange = Clock::now();
        const std::string_view line(data, size * count);
        if (line.substr(0, 5) == "HTTP/") a->head = ResponseHead{};  // a new response
        constexpr std::string_view kRange = "content-range: bytes ";
        constexpr std::string_view kEtag = "etag:";
        constexpr std::string_view kModified = "last-modified:";
        if (StartsWithIgnoringCase(line, kRange)) {
            // "first-last/total"
            const std::string_view value = line.substr(kRange.size());
            a->head.rangeStart = Number(value);
            const std::size_t slash = value.find('/');
            a->head.rangeTotal =
                slash == std::string_view::npos ? -1 : Number(value.substr(slash + 1));
        } else if (StartsWithIgnoringCase(line, kEtag)) {
            a->head.etag = std::string(Trimmed(line.substr(kEtag.size())));
        } else if (StartsWithIgnoringCase(line, kModified)) {
            a->head.lastModified = std::string(Trimmed(line.substr(kModified.size())));
        }
        return size * count;
    }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
        auto* a = static_cast<Answer*>(user);
        a->lastChange = Clock::now();
        if (!a->headGiven) a->GiveHead();
        if (a->stopped || !a->receiver->OnBody(data, size * count)) {
            a->stopped = true;
            return 0;
        }
        return size * count;
    }

    Bounds bounds_;
    CURLM* multi_ = nullptr;
    std::atomic<bool> aborted_{false};
};

}  // namespace

std::unique_ptr<Fetcher> NewFetcher(const Bounds& bounds) {
    return std::make_unique<CurlFetcher>(bounds);
}

}  // namespace tessel::ferry
