// Throughput of WebRequest for a 200 MB body on loopback, beside curl's for the same URL.
// Not a test: run it by hand.
//   http_bench            serves 200 MB itself and times WebRequest (natively also libcurl and
//                         the curl command) against that server
//   http_bench --serve    serves 200 MB on 127.0.0.1 for 10 minutes and prints the URL
//   http_bench URL        times WebRequest against URL (e.g. the win32 build under Wine)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "tessel/headless/headless.h"
#include "tessel/http/web_request.h"
#include "test_http_server.h"

#ifndef _WIN32
#include <curl/curl.h>
#endif

namespace {

using namespace tessel;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kBodySize = 200ull << 20;

void Report(const char* who, std::uint64_t bytes, double seconds) {
    std::printf("%-28s %9.1f MB in %6.2f s = %7.1f MB/s\n", who, bytes / 1048576.0, seconds,
                bytes / 1048576.0 / seconds);
    std::fflush(stdout);
}

void TimeWebRequest(const std::string& url) {
    const auto start = Clock::now();
    const ByteArray body = WebRequest(url.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Report("WebRequest", body.size(), seconds);
}

#ifndef _WIN32
std::size_t CountBytes(char*, std::size_t size, std::size_t count, void* total) {
    *static_cast<std::uint64_t*>(total) += size * count;
    return size * count;
}

void TimeLibcurl(const std::string& url) {
    CURL* c = curl_easy_init();
    std::uint64_t total = 0;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CountBytes);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &total);
    const auto start = Clock::now();
    curl_easy_perform(c);
    Report("libcurl (easy, discarding)", total,
           std::chrono::duration<double>(Clock::now() - start).count());
    curl_easy_cleanup(c);
}

void TimeCurlCommand(const std::string& url) {
    const std::string command =
        "curl -s --noproxy '*' -o /dev/null -w '%{size_download} %{time_total}' '" + url + "'";
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return;
    double bytes = 0, seconds = 0;
    if (std::fscanf(p, "%lf %lf", &bytes, &seconds) == 2 && seconds > 0) {
        Report("curl command", static_cast<std::uint64_t>(bytes), seconds);
    }
    pclose(p);
}
#endif

testing::ServerResponse BigBody(const testing::ReceivedRequest&) {
    testing::ServerResponse r;
    r.patternBytes = kBodySize;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    headless::Install();
    if (argc > 1 && std::strcmp(argv[1], "--serve") != 0) {
        TimeWebRequest(argv[1]);
        return 0;
    }
    testing::TestHttpServer server(&BigBody);
    if (!server.ok()) return 1;
    const std::string url = server.Url("/bench");
    if (argc > 1) {
        std::printf("%s\n", url.c_str());
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::minutes(10));
        return 0;
    }
    TimeWebRequest(url);
#ifndef _WIN32
    TimeLibcurl(url);
    TimeCurlCommand(url);
#endif
    return 0;
}
