#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "ferry_fixture.h"

namespace tessel::ferry_test {
namespace {

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

TEST(SpeedMeterTest, TheSpeedIsTheBytesOfTheLastSecondToTheMillisecond) {
    ferry::SpeedMeter meter;
    // 1,000 bytes every 10 ms from 10.01 s to 12.00 s.
    for (std::int64_t ms = 10010; ms <= 12000; ms += 10) meter.Add(1000, ms);
    EXPECT_EQ(meter.LastSecond(12000), 100'000u) << "11.01 s to 12.00 s";
    EXPECT_EQ(meter.LastSecond(12005), 100'000u) << "the same hundred additions";
    EXPECT_EQ(meter.LastSecond(12010), 99'000u) << "11.01 s has left the second";
    EXPECT_EQ(meter.LastSecond(12500), 50'000u);
    EXPECT_EQ(meter.LastSecond(12999), 1'000u);
    EXPECT_EQ(meter.LastSecond(13000), 0u);
    meter.Add(5, 20000);
    meter.Add(7, 20000);
    EXPECT_EQ(meter.LastSecond(20999), 12u);
    EXPECT_EQ(meter.LastSecond(25000), 0u) << "after a long quiet spell";
}

TEST_F(FerryTest, AnEndedTransfersBytesDoNotCountWhileAnotherRuns) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.Target() == "/fast.mp3") return PatternAnswer(r, 8 * kMiB);
        ServerResponse answer = PatternAnswer(r, 2 * kMiB);
        answer.pauseMs = 200;  // 64 KiB five times a second
        return answer;
    });
    const std::int32_t slow = Start(server.Url("/slow.mp3"), PathOf("slow.mp3"));
    const std::int32_t fast = Start(server.Url("/fast.mp3"), PathOf("fast.mp3"));
    EXPECT_EQ(WaitForEnd(fast), TransferOutcome::kCompleted);
    const std::int32_t speed = CurrentTransferSpeed();
    EXPECT_EQ(OutcomeOfTransfer(slow), TransferOutcome::kRunning);
    EXPECT_LT(speed, static_cast<std::int32_t>(kMiB)) << "the slow one alone gets 320 KiB/s";
    ReleaseTransfers(&holder_);  // before the server, which would send the slow one to its end
}

TEST_F(FerryTest, TenDownloadsAtOnceRunFourAtATimeAndAllArriveWhole) {
    TestHttpServer server([](const ReceivedRequest& r) {
        ServerResponse answer = PatternAnswer(r, kMiB + std::stoul(r.Target().substr(1)));
        answer.pauseMs = 30;  // sixteen pieces: about half a second each
        return answer;
    });
    std::vector<std::int32_t> numbers;
    for (int i = 0; i < 10; ++i) {
        numbers.push_back(Start(server.Url("/" + std::to_string(i)), PathOf(std::to_string(i))));
    }
    EXPECT_EQ(RunningTransferCount(), 10) << "the waiting ones count as not ended";
    std::map<std::int32_t, int> reports;
    const auto until = Clock::now() + std::chrono::seconds(60);
    while (RunningTransferCount() > 0 && Clock::now() < until) {
        while (const std::int32_t n = NextFinishedTransfer()) ++reports[n];
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    while (const std::int32_t n = NextFinishedTransfer()) ++reports[n];
    EXPECT_LE(server.PeakConnections(), 4);
    EXPECT_GE(server.PeakConnections(), 2) << "they do run side by side";
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(reports[numbers[i]], 1) << "reported once";
        EXPECT_EQ(OutcomeOfTransfer(numbers[i]), TransferOutcome::kCompleted);
        EXPECT_TRUE(Content(std::to_string(i)) == Pattern(0, kMiB + i));
    }
    EXPECT_EQ(FilesInFolder().size(), 10u);
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

TEST_F(FerryTest, ReleaseWithAStalledTransferAndWaitingOnesReturnsPromptlyAndLeavesNoFile) {
    SetTransferBounds(2000, 20000);  // a release that waited for the stall would take 20 s
    TestHttpServer server([](const ReceivedRequest& r) {
        ServerResponse answer = PatternAnswer(r, 8 * kMiB);
        answer.stallAfter = 300000;
        return answer;
    });
    for (int i = 0; i < 6; ++i) {
        Start(server.Url("/long.mp3"), PathOf("long" + std::to_string(i) + ".mp3"));
    }
    // Every running transfer has its first bytes in its part file and waits for more.
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (server.Requests().size() < 4 && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(FilesInFolder().size(), 4u) << "four part files while they run";
    EXPECT_EQ(RunningTransferCount(), 6);
    const auto start = Clock::now();
    ReleaseTransfers(&holder_);
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    std::printf("release with four stalled transfers and two waiting: %lld ms\n",
                static_cast<long long>(took));
    EXPECT_LT(took, 1000);
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
}  // namespace tessel::ferry_test
