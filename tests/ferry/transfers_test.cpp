#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tessel/ferry/commands.h"
#include "tessel/platform/headless.h"
#include "tessel/runtime/library_commands.h"
#include "test_http_server.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using testing::ReceivedRequest;
using testing::ServerResponse;
using testing::TestHttpServer;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMiB = 1u << 20;

std::string Pattern(std::uint64_t from, std::uint64_t count) {
    std::string s(count, '\0');
    for (std::uint64_t i = 0; i < count; ++i)
        s[i] = static_cast<char>(TestHttpServer::PatternByte(from + i));
    return s;
}

// A body of `size` pattern bytes; a "Range: bytes=N-" request gets the rest from N.
ServerResponse PatternAnswer(const ReceivedRequest& request, std::uint64_t size) {
    ServerResponse r;
    const std::string range = request.Header("Range");
    if (range.rfind("bytes=", 0) == 0) {
        const std::uint64_t from = std::stoull(range.substr(6));
        r.status = "206 Partial Content";
        r.headers.push_back("Content-Range: bytes " + std::to_string(from) + "-" +
                            std::to_string(size - 1) + "/" + std::to_string(size));
        r.patternOffset = from;
        r.patternBytes = size - from;
    } else {
        r.patternBytes = size;
    }
    return r;
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
        std::ifstream in(folder_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    Word holder_ = 0;
    fs::path folder_;
    std::map<std::int32_t, TransferOutcome> ended_;
};

TEST_F(FerryTest, ABodyArrivesByteIdenticalUnderItsNameAndNothingElseStays) {
    const std::uint64_t size = 3 * kMiB + 7;
    TestHttpServer server([&](const ReceivedRequest& r) { return PatternAnswer(r, size); });
    const std::int32_t number = Start(server.Url("/media/1.mp3"), PathOf("song.mp3"));
    EXPECT_GT(number, 0);
    EXPECT_NE(holder_, 0u);
    EXPECT_EQ(WaitForEnd(number), TransferOutcome::kCompleted);
    EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"song.mp3"});
    EXPECT_TRUE(Content("song.mp3") == Pattern(0, size));
    EXPECT_EQ(server.LastRequest().Header("Range"), "");
    EXPECT_EQ(NextFinishedTransfer(), 0) << "each transfer is reported once";
    EXPECT_EQ(OutcomeOfTransfer(number), TransferOutcome::kCompleted);
    EXPECT_EQ(OutcomeOfTransfer(number + 100), TransferOutcome::kUnknown);
}

TEST_F(FerryTest, ACompletedTransferReplacesAnOlderFileAndAFailedOneLeavesItAlone) {
    { std::ofstream(folder_ / "song.mp3") << "older"; }
    TestHttpServer missing([](const ReceivedRequest&) {
        ServerResponse r;
        r.status = "404 Not Found";
        r.body = "no such song";
        return r;
    });
    EXPECT_EQ(WaitForEnd(Start(missing.Url("/media/9.mp3"), PathOf("song.mp3"))),
              TransferOutcome::kFailed);
    EXPECT_EQ(Content("song.mp3"), "older");
    EXPECT_EQ(FilesInFolder().size(), 1u);

    TestHttpServer server([](const ReceivedRequest& r) { return PatternAnswer(r, 1000); });
    EXPECT_EQ(WaitForEnd(Start(server.Url("/media/1.mp3"), PathOf("song.mp3"))),
              TransferOutcome::kCompleted);
    EXPECT_TRUE(Content("song.mp3") == Pattern(0, 1000));
    EXPECT_EQ(FilesInFolder().size(), 1u);
}

TEST_F(FerryTest, SpeedReadsNonZeroWhileBytesFlowAndZeroAfter) {
    EXPECT_EQ(CurrentTransferSpeed(), 0) << "before any transfer";
    const std::uint64_t size = 2 * kMiB;
    TestHttpServer server([&](const ReceivedRequest& r) {
        ServerResponse answer = PatternAnswer(r, size);
        answer.pauseMs = 60;  // 32 pieces of 64 KiB: about two seconds
        return answer;
    });
    const std::int32_t number = Start(server.Url("/slow.mp3"), PathOf("slow.mp3"));
    EXPECT_EQ(RunningTransferCount(), 1);
    EXPECT_EQ(OutcomeOfTransfer(number), TransferOutcome::kRunning);
    std::int32_t highest = 0;
    while (RunningTransferCount() > 0) {
        highest = std::max(highest, CurrentTransferSpeed());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GT(highest, 0);
    EXPECT_EQ(CurrentTransferSpeed(), 0);
    EXPECT_EQ(WaitForEnd(number), TransferOutcome::kCompleted);
}

TEST_F(FerryTest, AStalledServerFailsAfterTheBoundAndLeavesNoFile) {
    SetTransferBounds(2000, 1000);
    TestHttpServer stalls([](const ReceivedRequest& r) {
        ServerResponse answer = PatternAnswer(r, 4 * kMiB);
        answer.stallAfter = 100000;
        return answer;
    });
    TestHttpServer silent([](const ReceivedRequest&) {
        ServerResponse answer;
        answer.neverAnswer = true;
        return answer;
    });
    const std::int32_t a = Start(stalls.Url("/a.mp3"), PathOf("a.mp3"));
    const std::int32_t b = Start(silent.Url("/b.mp3"), PathOf("b.mp3"));
    EXPECT_EQ(WaitForEnd(a), TransferOutcome::kFailed);
    EXPECT_EQ(WaitForEnd(b), TransferOutcome::kFailed);
    EXPECT_TRUE(FilesInFolder().empty());
    EXPECT_EQ(stalls.Requests().size(), 1u) << "a stall is not retried";
}

TEST_F(FerryTest, ADroppedConnectionIsResumedByRangeAndTheFileIsWhole) {
    const std::uint64_t size = 3 * kMiB;
    const std::uint64_t cut = 3 * kMiB / 2 + 123;
    TestHttpServer server([&](const ReceivedRequest& r) {
        ServerResponse answer = PatternAnswer(r, size);
        if (r.Header("Range").empty()) answer.dropAfter = cut;
        return answer;
    });
    EXPECT_EQ(WaitForEnd(Start(server.Url("/media/2.mp3"), PathOf("two.mp3"))),
              TransferOutcome::kCompleted);
    EXPECT_TRUE(Content("two.mp3") == Pattern(0, size));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=" + std::to_string(cut) + "-");
    EXPECT_EQ(FilesInFolder().size(), 1u);
}

TEST_F(FerryTest, AServerThatIgnoresRangesIsFetchedFromTheStartAgain) {
    const std::uint64_t size = 2 * kMiB;
    int answers = 0;
    TestHttpServer server([&](const ReceivedRequest&) {
        ServerResponse answer;
        answer.patternBytes = size;
        if (answers++ == 0) answer.dropAfter = kMiB;
        return answer;
    });
    EXPECT_EQ(WaitForEnd(Start(server.Url("/media/3.mp3"), PathOf("three.mp3"))),
              TransferOutcome::kCompleted);
    EXPECT_TRUE(Content("three.mp3") == Pattern(0, size));
}

TEST_F(FerryTest, ResumingGivesUpAfterThreeTriesAndLeavesNoFile) {
    TestHttpServer server([](const ReceivedRequest& r) {
        ServerResponse answer = PatternAnswer(r, 4 * kMiB);
        answer.dropAfter = 1000;
        return answer;
    });
    EXPECT_EQ(WaitForEnd(Start(server.Url("/media/4.mp3"), PathOf("four.mp3"))),
              TransferOutcome::kFailed);
    EXPECT_EQ(server.Requests().size(), 4u) << "the first request and three resumes";
    EXPECT_TRUE(FilesInFolder().empty());
}

TEST_F(FerryTest, ARefusedConnectionOrAnImpossibleTargetFailsWithNoFile) {
    std::string refusedUrl;
    {
        TestHttpServer gone([](const ReceivedRequest&) { return ServerResponse{}; });
        refusedUrl = gone.Url("/x.mp3");
    }
    TestHttpServer server([](const ReceivedRequest& r) { return PatternAnswer(r, 100); });
    const std::int32_t refused = Start(refusedUrl, PathOf("x.mp3"));
    const std::int32_t noFolder = Start(server.Url("/y.mp3"), PathOf("missing") + "/y.mp3");
    const std::int32_t noAddress = Start("", PathOf("z.mp3"));
    const std::int32_t notHttp = Start("ftp://127.0.0.1/z.mp3", PathOf("z.mp3"));
    EXPECT_EQ(WaitForEnd(refused), TransferOutcome::kFailed);
    EXPECT_EQ(WaitForEnd(noFolder), TransferOutcome::kFailed);
    EXPECT_EQ(WaitForEnd(noAddress), TransferOutcome::kFailed);
    EXPECT_EQ(WaitForEnd(notHttp), TransferOutcome::kFailed);
    EXPECT_TRUE(FilesInFolder().empty());
}

TEST_F(FerryTest, TwoTransfersAtOnceBothCompleteEachIntoItsOwnFile) {
    TestHttpServer server([](const ReceivedRequest& r) {
        ServerResponse answer = PatternAnswer(r, r.Target() == "/one.mp3" ? kMiB : kMiB + 5000);
        answer.pauseMs = 20;
        return answer;
    });
    const std::int32_t one = Start(server.Url("/one.mp3"), PathOf("one.mp3"));
    const std::int32_t two = Start(server.Url("/two.mp3"), PathOf("two.mp3"));
    EXPECT_NE(one, two);
    EXPECT_EQ(WaitForEnd(one), TransferOutcome::kCompleted);
    EXPECT_EQ(WaitForEnd(two), TransferOutcome::kCompleted);
    EXPECT_TRUE(Content("one.mp3") == Pattern(0, kMiB));
    EXPECT_TRUE(Content("two.mp3") == Pattern(0, kMiB + 5000));
    EXPECT_EQ(RunningTransferCount(), 0);
}

TEST_F(FerryTest, ReleaseDuringATransferCancelsItAndLeavesNoFile) {
    TestHttpServer server([](const ReceivedRequest& r) {
        ServerResponse answer = PatternAnswer(r, 8 * kMiB);
        answer.pauseMs = 100;
        return answer;
    });
    Start(server.Url("/long.mp3"), PathOf("long.mp3"));
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (CurrentTransferSpeed() == 0 && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(FilesInFolder().size(), 1u) << "the part file while it runs";
    ReleaseTransfers(&holder_);
    EXPECT_EQ(holder_, 0u);
    EXPECT_TRUE(FilesInFolder().empty());
    EXPECT_EQ(CurrentTransferSpeed(), 0);
    EXPECT_EQ(RunningTransferCount(), 0);
}

TEST_F(FerryTest, TheStartCommandWantsAHolderAndARecord) {
    const Value noArguments[1] = {IntegerValue(5)};
    EXPECT_EQ(AsInteger(CallLibrary(row::kFerry, ferry::kStartDownload, noArguments)), 0);
    EXPECT_EQ(RunningTransferCount(), 0);
}

}  // namespace
}  // namespace tessel
