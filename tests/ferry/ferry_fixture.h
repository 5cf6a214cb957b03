#pragma once
// The transfer library's commands against the loopback test server: a fixture with a folder of
// its own, and the files the server can play (the test pattern, whole or from a Range's offset,
// in versions that a changed file on the server stands for).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tessel/ferry/commands.h"
#include "tessel/ferry/transfers.h"
#include "tessel/headless/headless.h"
#include "tessel/runtime/library_commands.h"
#include "test_http_server.h"

namespace tessel::ferry_test {

namespace fs = std::filesystem;
using namespace tessel;
using testing::ReceivedRequest;
using testing::ServerResponse;
using testing::TestHttpServer;
using Clock = std::chrono::steady_clock;

inline constexpr std::uint64_t kMiB = 1u << 20;

// `count` bytes of the test pattern from `from` on, one period of it at a time (quick enough
// for many megabytes in a debugging build with sanitizers).
inline std::string Pattern(std::uint64_t from, std::uint64_t count) {
    constexpr std::uint64_t kPeriod = 251;
    static const std::string period = [] {
        std::string p(kPeriod, '\0');
        for (std::uint64_t i = 0; i < kPeriod; ++i)
            p[i] = static_cast<char>(TestHttpServer::PatternByte(i));
        return p;
    }();
    std::string s;
    s.reserve(count);
    for (std::uint64_t at = from % kPeriod; s.size() < count; at = 0) {
        s.append(period, at, std::min<std::uint64_t>(kPeriod - at, count - s.size()));
    }
    return s;
}

// One version of a file on the server: `size` bytes of the test pattern from `shift` on.
struct FileVersion {
    std::uint64_t size = 0;
    std::uint64_t shift = 0;
    std::string etag;          // sent when not empty
    std::string lastModified;  // sent when not empty
    std::string Content() const { return Pattern(shift, size); }
};

// The 206 answer with the bytes of `v` from `from` on, its Content-Range as given.
inline ServerResponse RangeAnswer(const FileVersion& v, std::uint64_t from,
                                  const std::string& contentRange) {
    ServerResponse r;
    r.status = "206 Partial Content";
    r.headers.push_back("Content-Range: " + contentRange);
    r.patternOffset = v.shift + from;
    r.patternBytes = v.size - from;
    return r;
}

inline std::string RangeOf(std::uint64_t from, std::uint64_t size) {
    return "bytes " + std::to_string(from) + "-" + std::to_string(size - 1) + "/" +
           std::to_string(size);
}

// A careful server: a "Range: bytes=N-" request gets the rest from N (206) unless its If-Range
// names another version, which gets the whole file (200); so does a request without a Range.
inline ServerResponse FileAnswer(const ReceivedRequest& request, const FileVersion& v) {
    ServerResponse r;
    const std::string range = request.Header("Range");
    const std::string ifRange = request.Header("If-Range");
    const bool sameVersion =
        ifRange.empty() || ifRange == v.etag || (v.etag.empty() && ifRange == v.lastModified);
    if (range.rfind("bytes=", 0) == 0 && sameVersion) {
        const std::uint64_t from = std::stoull(range.substr(6));
        r = RangeAnswer(v, from, RangeOf(from, v.size));
    } else {
        r.patternOffset = v.shift;
        r.patternBytes = v.size;
    }
    if (!v.etag.empty()) r.headers.push_back("ETag: " + v.etag);
    if (!v.lastModified.empty()) r.headers.push_back("Last-Modified: " + v.lastModified);
    return r;
}

// A body of `size` pattern bytes; a "Range: bytes=N-" request gets the rest from N.
inline ServerResponse PatternAnswer(const ReceivedRequest& request, std::uint64_t size) {
    FileVersion v;
    v.size = size;
    return FileAnswer(request, v);
}

class FerryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        headless::Install();
#ifdef _WIN32
        // Under Wine the engine runs in this process over the real WinInet.
        headless::RegisterLibrary(row::kFerry, &ferry::RunCommand);
#endif
        folder_ = fs::temp_directory_path() /
                  ("ferry-test-" + std::to_string(Clock::now().time_since_epoch().count()));
        fs::create_directories(folder_);
    }
    void TearDown() override {
        ReleaseTransfers(&holder_);
        SetTransferBounds(0, 0);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::string PathOf(const std::string& name) const {
        return (folder_ / name).string();
    }

    std::int32_t Start(const std::string& url, const std::string& path) {
        TransferSettings record{};
        record.field(2) = reinterpret_cast<Word>(url.c_str());
        record.field(3) = reinterpret_cast<Word>(path.c_str());
        return StartTransfer(&holder_, &record);
    }

    // Waits for transfer `number` to be reported as ended and answers its outcome.
    TransferOutcome WaitForEnd(std::int32_t number) {
        const auto until = Clock::now() + std::chrono::seconds(60);
        while (Clock::now() < until) {
            if (const auto it = ended_.find(number); it != ended_.end()) return it->second;
            while (const std::int32_t n = NextFinishedTransfer()) ended_[n] = OutcomeOfTransfer(n);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return TransferOutcome::kRunning;
    }

    std::vector<std::string> FilesInFolder() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder_))
            names.push_back(e.path().filename().string());
        return names;
    }

    std::string Content(const std::string& name) const {
        std::ifstream in(folder_ / name, std::ios::binary | std::ios::ate);
        std::string content(in ? static_cast<std::size_t>(in.tellg()) : 0, '\0');
        in.seekg(0);
        in.read(content.data(), static_cast<std::streamsize>(content.size()));
        return content;
    }

    Word holder_ = 0;
    fs::path folder_;
    std::map<std::int32_t, TransferOutcome> ended_;
};

}  // namespace tessel::ferry_test
