#include "media_player_host.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "temporary_copies.h"
#include "test_http_server.h"
#include "tone_wav.h"
#include "url_download.h"

namespace tessel::player {
namespace {

using tessel::testing::ReceivedRequest;
using tessel::testing::ServerResponse;
using tessel::testing::TestHttpServer;

constexpr DWORD kEventWaitMs = 15000;

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Temporary copies this process has left in the temporary folder.
int CountTemporaryCopies() {
    return CountCopiesOfProcess(GetCurrentProcessId());
}

struct RecordedEvent {
    int number;
    long value;
};

void RecordEvent(void* context, int eventNumber, long value) {
    static_cast<std::vector<RecordedEvent>*>(context)->push_back({eventNumber, value});
}

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// Runs the message loop until `done` answers true or the time is up.
template <typename Condition>
bool PumpUntil(Condition done, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > milliseconds) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

class MediaPlayerHostTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = TestWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TesselPlayerTestWindow";
        RegisterClassW(&windowClass);
        // The player window: 380 × 71 with the control at 0, 0, 376 × 45. One for all cases:
        // destroying a top-level window costs seconds under Wine without a window manager.
        window_ = CreateWindowExW(0, L"TesselPlayerTestWindow", L"", WS_OVERLAPPEDWINDOW, 50, 50,
                                  380, 71, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ShowWindow(window_, SW_SHOW);
    }

    static void TearDownTestSuite() {
        if (window_ != nullptr) DestroyWindow(window_);
        window_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(window_, nullptr);
        wchar_t folder[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, folder);
        wavPath_ = std::wstring(folder) + L"tessel-player-test-" +
                   std::to_wstring(GetCurrentProcessId()) + L".wav";
        wav_ = tessel::testing::MakeToneWav(3);
        HANDLE file = CreateFileW(wavPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, wav_.data(), static_cast<DWORD>(wav_.size()), &written, nullptr);
        CloseHandle(file);
    }

    void TearDown() override {
        host_.Destroy();
        DeleteFileW(wavPath_.c_str());
    }

    bool CreateHost() {
        const RECT rect = {0, 0, 376, 45};
        return host_.Create(window_, rect, PlayerProperties(), RecordEvent, &events_);
    }

    bool SawEvent(int number, long value) const {
        for (const RecordedEvent& event : events_) {
            if (event.number == number && event.value == value) return true;
        }
        return false;
    }
    bool SawEvent(int number) const {
        for (const RecordedEvent& event : events_) {
            if (event.number == number) return true;
        }
        return false;
    }

    static inline HWND window_ = nullptr;
    std::wstring wavPath_;
    std::string wav_;
    std::vector<RecordedEvent> events_;
    MediaPlayerHost host_;
};

TEST_F(MediaPlayerHostTest, CreatesInPlaceActiveWithTheStoredProperties) {
    const PlayerProperties defaults;
    EXPECT_TRUE(defaults.url.empty());
    EXPECT_EQ(defaults.volume, 100);
    EXPECT_EQ(defaults.uiMode, L"full");
    EXPECT_TRUE(defaults.autoStart);
    EXPECT_FALSE(defaults.enableErrorDialogs);
    EXPECT_EQ(defaults.extentWidth, 9948);
    EXPECT_EQ(defaults.extentHeight, 847);

    ASSERT_TRUE(CreateHost());
    EXPECT_TRUE(host_.IsCreated());
    EXPECT_TRUE(host_.IsInPlaceActive());
    EXPECT_EQ(host_.FailureTextWindow(), nullptr);

    const HWND container = host_.ContainerWindow();
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(GetParent(container), window_);
    RECT rect = {};
    GetWindowRect(container, &rect);
    EXPECT_EQ(rect.right - rect.left, 376);
    EXPECT_EQ(rect.bottom - rect.top, 45);
    const HWND control = host_.ControlWindow();
    if (control != nullptr) {
        EXPECT_TRUE(IsChild(container, control));
        GetWindowRect(control, &rect);
        EXPECT_EQ(rect.right - rect.left, 376);
        EXPECT_EQ(rect.bottom - rect.top, 45);
    }

    EXPECT_GT(host_.PropertiesApplied(), 0);
    const PlayerReadback readBack = host_.ReadBack();
    if (readBack.volume) {
        EXPECT_EQ(*readBack.volume, 100);
    }
    if (readBack.uiMode) {
        EXPECT_EQ(*readBack.uiMode, L"full");
    }
    if (readBack.autoStart) {
        EXPECT_TRUE(*readBack.autoStart);
    }
    if (readBack.enableErrorDialogs) {
        EXPECT_FALSE(*readBack.enableErrorDialogs);
    }
    EXPECT_TRUE(readBack.volume || readBack.uiMode || readBack.autoStart ||
                readBack.enableErrorDialogs)
        << "the control answered none of the settings";

    host_.Destroy();
    EXPECT_FALSE(host_.IsCreated());
    EXPECT_FALSE(IsWindow(container));
    host_.Destroy();  // a second teardown does nothing
}

TEST_F(MediaPlayerHostTest, LocalFilePlaysAndStops) {
    ASSERT_TRUE(CreateHost());
    host_.SetUrl(wavPath_.c_str());
    EXPECT_EQ(host_.ControlUrl(), wavPath_);
    EXPECT_TRUE(host_.TemporaryFile().empty());

    ASSERT_TRUE(PumpUntil([&] { return host_.LastPlayState() == kPlayStatePlaying; }, kEventWaitMs))
        << "last play state " << host_.LastPlayState();
    EXPECT_TRUE(SawEvent(kOpenStateChangeEvent, kOpenStateMediaOpen));
    EXPECT_TRUE(SawEvent(kPlayStateChangeEvent, kPlayStatePlaying));

    host_.Stop();
    EXPECT_TRUE(PumpUntil([&] { return host_.LastPlayState() == kPlayStateStopped; }, kEventWaitMs))
        << "last play state " << host_.LastPlayState();
}

TEST_F(MediaPlayerHostTest, HttpAddressPlaysFromATemporaryCopy) {
    TestHttpServer server([this](const ReceivedRequest&) {
        ServerResponse response;
        response.headers = {"Content-Type: audio/wav"};
        response.body = wav_;
        return response;
    });
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(CreateHost());
    const std::wstring url = Widen(server.Url("/x.wav"));
    host_.SetUrl(url.c_str());
    EXPECT_EQ(host_.RequestedUrl(), url);

    ASSERT_TRUE(PumpUntil([&] { return !host_.ControlUrl().empty(); }, kEventWaitMs));
    EXPECT_EQ(server.LastRequest().Target(), "/x.wav");
    const std::wstring copy = host_.ControlUrl();
    if (MediaPlayerHost::RunningUnderWine()) {
        EXPECT_EQ(copy, host_.TemporaryFile());
        EXPECT_EQ(copy.substr(copy.size() - 4), L".wav");
        ASSERT_TRUE(FileExists(copy));
        EXPECT_TRUE(
            PumpUntil([&] { return host_.LastPlayState() == kPlayStatePlaying; }, kEventWaitMs))
            << "last play state " << host_.LastPlayState();
        EXPECT_TRUE(SawEvent(kOpenStateChangeEvent));

        // The next address retires the copy; Destroy removes what is left.
        host_.SetUrl(wavPath_.c_str());
        EXPECT_EQ(host_.ControlUrl(), wavPath_);
        EXPECT_TRUE(host_.TemporaryFile().empty());
        host_.Destroy();
        EXPECT_FALSE(FileExists(copy));
    } else {
        EXPECT_EQ(copy, url);
    }
}

TEST_F(MediaPlayerHostTest, AFailedDownloadLeavesTheAddressToTheControl) {
    if (!MediaPlayerHost::RunningUnderWine()) GTEST_SKIP() << "addresses pass through";
    TestHttpServer server([](const ReceivedRequest&) {
        ServerResponse response;
        response.status = "404 Not Found";
        response.body = "no such song";
        return response;
    });
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(CreateHost());
    const std::wstring url = Widen(server.Url("/missing.wav"));
    host_.SetUrl(url.c_str());
    ASSERT_TRUE(PumpUntil([&] { return !host_.ControlUrl().empty(); }, kEventWaitMs));
    // The control reports the failure its own way; no error page is played as a song.
    EXPECT_EQ(host_.ControlUrl(), url);
    EXPECT_TRUE(host_.TemporaryFile().empty());
    EXPECT_EQ(CountTemporaryCopies(), 0);
}

TEST_F(MediaPlayerHostTest, ALaterAddressOrDestroyDropsAPendingDownload) {
    if (!MediaPlayerHost::RunningUnderWine()) GTEST_SKIP() << "addresses pass through";
    TestHttpServer server([this](const ReceivedRequest& request) {
        ServerResponse response;
        response.neverAnswer = request.Target() == "/slow.wav";
        response.body = wav_;
        return response;
    });
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(CreateHost());

    const std::wstring slow = Widen(server.Url("/slow.wav"));
    host_.SetUrl(slow.c_str());
    EXPECT_TRUE(host_.IsDownloading());
    EXPECT_TRUE(host_.ControlUrl().empty());
    host_.SetUrl(wavPath_.c_str());
    EXPECT_FALSE(host_.IsDownloading());
    EXPECT_EQ(host_.ControlUrl(), wavPath_);

    // A stopped player does not start later when a copy arrives.
    const std::wstring fast = Widen(server.Url("/fast.wav"));
    host_.SetUrl(fast.c_str());
    host_.Stop();
    EXPECT_FALSE(host_.IsDownloading());
    PumpUntil([] { return false; }, 500);
    EXPECT_EQ(host_.ControlUrl(), wavPath_);

    host_.SetUrl(slow.c_str());
    host_.Destroy();
    EXPECT_FALSE(host_.IsDownloading());
    // The abandoned workers remove what they wrote.
    EXPECT_TRUE(PumpUntil([] { return CountTemporaryCopies() == 0; }, 5000));
}

// The end of the program while a copy is still being fetched: the child process (this test
// program, running only the case below) ends the way the runtime library ends the program
// (players released, copies deleted, ExitProcess) while the server withholds the copy's tail.
constexpr wchar_t kChildUrlVariable[] = L"TESSEL_PLAYER_TEST_CHILD_URL";

TEST_F(MediaPlayerHostTest, ACopyStillBeingFetchedGoesWhenTheProgramEnds) {
    if (!MediaPlayerHost::RunningUnderWine()) GTEST_SKIP() << "addresses pass through";
    TestHttpServer server([this](const ReceivedRequest&) {
        ServerResponse response;
        response.headers = {"Content-Type: audio/wav"};
        response.body = wav_.substr(0, 4096);
        response.withheldBytes = wav_.size() - 4096;
        return response;
    });
    ASSERT_TRUE(server.ok());
    SetEnvironmentVariableW(kChildUrlVariable, Widen(server.Url("/stalled.wav")).c_str());
    wchar_t program[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring commandLine =
        std::wstring(L"\"") + program + L"\" --gtest_filter=MediaPlayerHostChild.EndsWhileFetching";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    const BOOL started = CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &child);
    SetEnvironmentVariableW(kChildUrlVariable, nullptr);
    ASSERT_TRUE(started);
    const DWORD waited = WaitForSingleObject(child.hProcess, 60000);
    DWORD exitCode = 0;
    GetExitCodeProcess(child.hProcess, &exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    ASSERT_EQ(waited, WAIT_OBJECT_0);
    EXPECT_EQ(exitCode, 0u) << "1: no copy was being fetched";
    EXPECT_EQ(CountCopiesOfProcess(child.dwProcessId), 0);
}

// Run by the case above only.
TEST(MediaPlayerHostChild, EndsWhileFetching) {
    wchar_t url[1024] = {};
    if (GetEnvironmentVariableW(kChildUrlVariable, url, 1024) == 0)
        GTEST_SKIP() << "run by ACopyStillBeingFetchedGoesWhenTheProgramEnds";
    HWND window = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPEDWINDOW, 0, 0, 380, 71, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    auto host = std::make_unique<MediaPlayerHost>();
    const RECT rect = {0, 0, 376, 45};
    host->Create(window, rect, PlayerProperties(), nullptr, nullptr);
    host->SetUrl(url);
    const bool fetching = PumpUntil([] { return CountTemporaryCopies() == 1; }, kEventWaitMs) &&
                          host->IsDownloading();
    host.reset();
    DeleteAllCopies();
    ExitProcess(fetching ? 0 : 1);
}

TEST(DownloadExtension, ComesFromTheContentTypeThenThePath) {
    EXPECT_EQ(ExtensionFor(L"http://h/a/song.WAV?x=1.mp4#f", L"text/plain"), L".wav");
    EXPECT_EQ(ExtensionFor(L"http://h/play.php?id=3", L"audio/mpeg; charset=x"), L".mp3");
    EXPECT_EQ(ExtensionFor(L"http://h/stream", L"audio/x-wav"), L".wav");
    EXPECT_EQ(ExtensionFor(L"http://h.example.org", L""), L".mp3");
    EXPECT_EQ(ExtensionFor(L"http://h/a.b/..\\x", L""),
              L".mp3");  // nothing odd reaches a file name
    EXPECT_EQ(ExtensionFor(L"http://h/x.toolongext", L"audio/ogg"), L".ogg");
    EXPECT_TRUE(IsHttpAddress(L"HTTPS://h/x"));
    EXPECT_FALSE(IsHttpAddress(L"C:\\music\\x.mp3"));
    EXPECT_FALSE(IsHttpAddress(nullptr));
}

TEST_F(MediaPlayerHostTest, AControlThatCannotStartIsReportedInItsPlace) {
    // A class that is not registered.
    const CLSID missing = {
        0x1d3c8a2e, 0x5b7f, 0x4c61, {0x9a, 0x20, 0x7e, 0x44, 0x13, 0x8b, 0x02, 0xd5}};
    host_.UseClassIdForTesting(missing);
    EXPECT_FALSE(CreateHost());
    EXPECT_FALSE(host_.IsCreated());
    const HWND text = host_.FailureTextWindow();
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(IsWindowVisible(text));
    wchar_t caption[128] = {};
    GetWindowTextW(text, caption, 128);
    EXPECT_NE(std::wstring(caption).find(L"未注册"), std::wstring::npos);
    host_.SetUrl(wavPath_.c_str());  // harmless without a control
    host_.Stop();
    EXPECT_TRUE(host_.ControlUrl().empty());
}

}  // namespace
}  // namespace tessel::player
