// Clients the service does not control: connections beyond its threads that stay silent or send
// their request a byte at a time, threads that cannot be started, a stop while clients still
// send or stall an answer, and a second service on a port in use.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <thread>

#include "catalogue_fixture.h"

namespace tessel::catalogue::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kSearch = "GET /tessel/song/search/?q=vol&count=1 HTTP/1.1\r\nHost: h\r\n\r\n";

ServerOptions ShortLimits(int threads) {
    ServerOptions options;
    options.threads = threads;
    options.requestTime = 400ms;
    options.idleTime = 400ms;
    return options;
}

// 200 connections on a service of two threads: silent, kept alive after an answer, or sending a
// header byte every 100 ms. A fresh search is answered at once; each of them is closed once its
// request (or its wait for the next) has taken the time allowed in total, not per byte.
TEST(CatalogueConnections, SilentSlowAndIdleClientsBeyondTheThreadsAreServedAroundAndClosed) {
    TempFolder folder;
    RunningCatalogue catalogue(GeneratedIndex(folder.path() / "index.db", 100), ShortLimits(2));
    ASSERT_TRUE(catalogue.ok());
    std::vector<std::unique_ptr<RawConnection>> silent, slow, kept;
    for (int i = 0; i < 100; ++i)
        silent.push_back(std::make_unique<RawConnection>(catalogue.port()));
    for (int i = 0; i < 90; ++i) {
        slow.push_back(std::make_unique<RawConnection>(catalogue.port()));
        slow.back()->Send("G");
    }
    for (int i = 0; i < 10; ++i) {
        kept.push_back(std::make_unique<RawConnection>(catalogue.port()));
        kept.back()->Send(kSearch);
    }
    // Answered while the silent and slow ones still hold their connections (they are closed
    // only 400 ms after they came), however long a loaded machine takes to answer.
    bool closed = false;
    for (auto& k : kept) {
        EXPECT_NE(k->ReceiveAnswer(300ms, closed).find("Vol 0"), std::string::npos);
        EXPECT_FALSE(closed);
    }
    RawConnection fresh(catalogue.port());
    fresh.Send(kSearch);
    const std::string answer = fresh.ReceiveAnswer(300ms, closed);
    EXPECT_NE(answer.find("\"title\":\"Vol 0\""), std::string::npos) << answer;

    // The slow ones keep sending, a byte per 100 ms, for more than their request may take.
    const std::string request = "ET /tessel/song/search/?q=vol HTTP/1.1\r\n";
    for (size_t b = 0; b < 12; ++b) {
        for (auto& s : slow) s->Send(request.substr(b, 1));
        std::this_thread::sleep_for(100ms);
    }
    for (auto* group : {&silent, &slow, &kept}) {
        for (auto& c : *group) {
            c->Receive(100ms, closed);
            EXPECT_TRUE(closed);
        }
    }
}

int NeverStarts(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) {
    return EAGAIN;
}

std::atomic<int> threadsAllowed{0};
int StartsOnlyAllowed(pthread_t* thread, const pthread_attr_t* attributes, void* (*body)(void*),
                      void* argument) {
    if (threadsAllowed.fetch_sub(1) <= 0) return EAGAIN;
    return pthread_create(thread, attributes, body, argument);
}

// When the system refuses a thread, the connection that needed it is closed and the service goes
// on; with one thread started, every request is answered by it in turn.
TEST(CatalogueConnections, AThreadThatCannotStartClosesItsConnectionNotTheService) {
    TempFolder folder;
    ServerOptions options = ShortLimits(8);
    options.startThread = NeverStarts;
    RunningCatalogue refused(GeneratedIndex(folder.path() / "a.db", 10), options);
    ASSERT_TRUE(refused.ok());
    for (int i = 0; i < 3; ++i) {
        RawConnection client(refused.port());
        client.Send(kSearch);
        bool closed = false;
        EXPECT_EQ(client.Receive(2s, closed), "");
        EXPECT_TRUE(closed);
    }
    EXPECT_TRUE(refused.server().IsRunning());

    threadsAllowed = 1;
    options.startThread = StartsOnlyAllowed;
    RunningCatalogue one(GeneratedIndex(folder.path() / "b.db", 10), options);
    ASSERT_TRUE(one.ok());
    std::vector<std::unique_ptr<RawConnection>> clients;
    for (int i = 0; i < 6; ++i) {
        clients.push_back(std::make_unique<RawConnection>(one.port()));
        clients.back()->Send(kSearch);
    }
    for (auto& client : clients) {
        bool closed = false;
        EXPECT_NE(client->Receive(300ms, closed).find("Vol 0"), std::string::npos);
    }
}

// Stop ends the service within two seconds while clients send a byte now and then and another
// has asked for a large file and reads none of it.
TEST(CatalogueConnections, StopEndsPromptlyWhateverTheClientsDo) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    ASSERT_TRUE(AddSong(library / "big.mp3", {"Big", "", ""}));
    ServerOptions options;  // the service's own time limits, which a stop must not wait for
    RunningCatalogue catalogue(library, folder.path() / "index.db", {}, options);
    ASSERT_TRUE(catalogue.ok());
    {
        // Larger than what the sockets between the two can hold.
        std::ofstream grow(library / "big.mp3", std::ios::binary | std::ios::app);
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 64; ++i) grow << block;
    }
    RawConnection stalled(catalogue.port());
    stalled.Send("GET /media/1.mp3 HTTP/1.1\r\nHost: h\r\n\r\n");
    std::vector<std::unique_ptr<RawConnection>> sending;
    for (int i = 0; i < 5; ++i) {
        sending.push_back(std::make_unique<RawConnection>(catalogue.port()));
        sending.back()->Send("GET /tessel/song/search/?q=");
    }
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        while (!done) {
            for (auto& s : sending) s->Send("a");
            std::this_thread::sleep_for(50ms);
        }
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(catalogue.StopWithin(2s));
    done = true;
    trickle.join();
}

// Clients that ask for audio and stop reading hold no answering thread: with two threads and 40
// such downloads open, a search is answered at once. A download that starts reading late gets
// every byte in order and its connection kept for the next request; one that never reads is
// closed once it has made no progress for the time allowed.
TEST(CatalogueConnections, StalledAudioDownloadsHoldNoThread) {
    TempFolder folder;
    const fs::path library = folder.path() / "library";
    ASSERT_TRUE(AddSong(library / "big.mp3", {"Big", "", ""}));
    std::string audio;
    {
        std::ifstream tagged(library / "big.mp3", std::ios::binary);
        audio.assign(std::istreambuf_iterator<char>(tagged), {});
        for (int i = 0; audio.size() < (8u << 20); ++i) audio += static_cast<char>(i % 251);
        std::ofstream out(library / "big.mp3", std::ios::binary | std::ios::trunc);
        out << audio;
    }
    ServerOptions options = ShortLimits(2);
    options.idleTime = 5s;
    options.bodyStallTime = 1s;
    RunningCatalogue catalogue(library, folder.path() / "index.db", {}, options);
    ASSERT_TRUE(catalogue.ok());
    const std::string download = "GET /media/1.mp3 HTTP/1.1\r\nHost: h\r\n\r\n";
    std::vector<std::unique_ptr<RawConnection>> stalled;
    for (int i = 0; i < 40; ++i) {
        stalled.push_back(std::make_unique<RawConnection>(catalogue.port(), 4096));
        stalled.back()->Send(download);
    }
    RawConnection late(catalogue.port(), 4096);
    late.Send(download);
    std::this_thread::sleep_for(300ms);

    bool closed = false;
    RawConnection fresh(catalogue.port());
    fresh.Send("GET /tessel/song/search/?q=big HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
    EXPECT_NE(fresh.Receive(2s, closed).find("\"title\":\"Big\""), std::string::npos);

    const std::string answer = late.Receive(600ms, closed);
    const size_t head = answer.find("\r\n\r\n");
    ASSERT_NE(head, std::string::npos);
    EXPECT_NE(answer.find("Content-Length: " + std::to_string(audio.size())), std::string::npos);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(answer.compare(head + 4, std::string::npos, audio) == 0)
        << answer.size() - head - 4 << " of " << audio.size() << " bytes";
    late.Send("GET /tessel/song/search/?q=big HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
    EXPECT_NE(late.Receive(1s, closed).find("\"title\":\"Big\""), std::string::npos);

    std::this_thread::sleep_for(1200ms);
    for (auto& s : stalled) {
        s->Receive(100ms, closed);
        EXPECT_TRUE(closed);
    }
}

// A second service on a port in use fails at once, saying why, instead of sharing the port.
TEST(CatalogueConnections, ASecondServiceOnAPortInUseCannotBind) {
    TempFolder folder;
    RunningCatalogue first(GeneratedIndex(folder.path() / "index.db", 10));
    ASSERT_TRUE(first.ok());
    CatalogueServer second(first.database(), folder.path());
    std::string error;
    EXPECT_EQ(second.Bind("127.0.0.1", first.port(), error), -1);
    EXPECT_EQ(error, "address already in use");
}

}  // namespace
}  // namespace tessel::catalogue::testing
