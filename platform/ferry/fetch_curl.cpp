// GET requests over libcurl for the native build. The body is handed on as curl delivers it;
// nothing is kept.
#include <curl/curl.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <string_view>

#include "tessel/ferry/platform_seams.h"

namespace tessel::ferry {

namespace {

bool StartsWithIgnoringCase(std::string_view line, std::string_view prefix) {
    if (line.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != prefix[i]) return false;
    }
    return true;
}

class CurlFetcher final : public Fetcher {
  public:
    explicit CurlFetcher(const Bounds& bounds) : bounds_(bounds) {
        static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        (void)started;
    }

    FetchEnd Get(const std::string& url, std::int64_t from, BodyReceiver& receiver) override {
        if (aborted_) return FetchEnd::kStopped;
        CURL* c = curl_easy_init();
        if (c == nullptr) return FetchEnd::kNoConnection;
        Answer answer{this, c, &receiver};
        const std::string range = std::to_string(from) + "-";
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_PROXY, "");  // direct, whatever the environment says
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 1L << 20);
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(bounds_.connectMs));
        if (from > 0) curl_easy_setopt(c, CURLOPT_RANGE, range.c_str());
        curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
        curl_easy_setopt(c, CURLOPT_HEADERDATA, &answer);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
        // Called at least once a second, also while nothing arrives: the place to notice Abort
        // and a stall. (curl's own low-speed limit averages over several seconds.)
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &OnProgress);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, &answer);
        const CURLcode result = curl_easy_perform(c);
        // An answer without a body never reached OnBody.
        if (result == CURLE_OK && !answer.headGiven && !answer.GiveHead()) {
            curl_easy_cleanup(c);
            return FetchEnd::kStopped;
        }
        curl_easy_cleanup(c);
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

    void Abort() override { aborted_ = true; }

  private:
    struct Answer {
        CurlFetcher* fetcher;
        CURL* curl;
        BodyReceiver* receiver;
        std::int64_t rangeStart = -1;  // of the latest response
        bool headGiven = false;
        bool stopped = false;
        bool stalled = false;
        curl_off_t lastReceived = 0;
        std::chrono::steady_clock::time_point lastChange = std::chrono::steady_clock::now();

        bool GiveHead() {
            headGiven = true;
            ResponseHead head;
            long status = 0;
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
            curl_off_t length = -1;
            curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
            head.status = static_cast<std::int32_t>(status);
            head.contentLength = length;
            head.rangeStart = rangeStart;
            stopped = !receiver->OnHead(head);
            return !stopped;
        }
    };

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
        auto* a = static_cast<Answer*>(user);
        const std::string_view line(data, size * count);
        if (line.substr(0, 5) == "HTTP/") a->rangeStart = -1;  // a new response (redirects)
        constexpr std::string_view kRange = "content-range: bytes ";
        if (StartsWithIgnoringCase(line, kRange)) {
            std::int64_t start = 0;
            bool digits = false;
            for (std::size_t i = kRange.size();
                 i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i) {
                start = start * 10 + (line[i] - '0');
                digits = true;
            }
            a->rangeStart = digits ? start : -1;
        }
        return size * count;
    }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
        auto* a = static_cast<Answer*>(user);
        if (!a->headGiven && !a->GiveHead()) return 0;
        if (!a->receiver->OnBody(data, size * count)) {
            a->stopped = true;
            return 0;
        }
        return size * count;
    }

    static int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
        auto* a = static_cast<Answer*>(user);
        const auto now = std::chrono::steady_clock::now();
        if (received != a->lastReceived) {
            a->lastReceived = received;
            a->lastChange = now;
        } else if (now - a->lastChange >= std::chrono::milliseconds(a->fetcher->bounds_.stallMs)) {
            a->stalled = true;
        }
        return a->fetcher->aborted_ || a->stalled ? 1 : 0;
    }

    Bounds bounds_;
    std::atomic<bool> aborted_{false};
};

}  // namespace

std::unique_ptr<Fetcher> NewFetcher(const Bounds& bounds) {
    return std::make_unique<CurlFetcher>(bounds);
}

}  // namespace tessel::ferry
