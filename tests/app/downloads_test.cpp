// Downloads, their progress and the save directory, on the window double. Transfers run in the
// native transfer engine (the headless runtime's row 2) against a media server on 127.0.0.1.
#include "tessel/app/downloads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "app_fixture.h"
#include "tessel/app/program.h"
#include "tessel/app/save_directory.h"
#include "tessel/app/window_units.h"
#include "tessel/headless/headless.h"
#include "tessel/posix/standins.h"
#include "tessel/runtime/library_commands.h"

namespace tessel::testing {
namespace {

using namespace tessel::app;
using Clock = std::chrono::steady_clock;

constexpr std::int32_t kStopped = 1000000000;
// The separator of the test's own folders: Windows paths under Wine, Linux paths natively.
#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string Pattern(std::uint64_t count) {
    std::string s(count, '\0');
    for (std::uint64_t i = 0; i < count; ++i)
        s[i] = static_cast<char>(TestHttpServer::PatternByte(i));
    return s;
}

class DownloadsTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        InitializeGlobals(kProgramFacts);
        songs = directory / "songs";
        std::filesystem::create_directories(songs);
        // /media/N.mp3 is N * 1000 + 1 bytes; /missing/... is not there; /slow/... answers
        // after a second.
        media = std::make_unique<TestHttpServer>([](const ReceivedRequest& r) {
            ServerResponse answer;
            const std::string target = r.Target();
            if (target.rfind("/missing/", 0) == 0) {
                answer.status = "404 Not Found";
                return answer;
            }
            if (target.rfind("/slow/", 0) == 0)
                std::this_thread::sleep_for(std::chrono::seconds(1));
            answer.patternBytes = std::stoull(target.substr(target.rfind('/') + 1)) * 1000 + 1;
            return answer;
        });
    }
    void TearDown() override {
        CleanUpGlobals();  // releases what still runs
        media.reset();
        AppTest::TearDown();
    }

    // The save directory as this program stores it: ending with its separator.
    void StoreSaveDirectory() { StoreSaveDirectoryAs(songs.string() + kSeparator); }
    void StoreSaveDirectoryAs(const std::string& stored) {
        WriteSettings({"[保存目录]", "保存=" + stored});
    }
    // Song rows (title, singer, address); `selected` is selected.
    void List(const std::vector<std::array<std::string, 3>>& rows, std::int32_t selected) {
        UnitState& list = windows->Unit(songList);
        list.rows.clear();
        for (const auto& [title, singer, url] : rows)
            list.rows.push_back({"1", Gbk(title), Gbk(singer), "00:01", url});
        list.selectedRow = selected;
    }
    std::int32_t TimerPeriod() {
        return windows->Integer(progressTimer, unit_property::kTimerPeriod);
    }
    // Ticks as the timer would (faster) until it is stopped.
    void TickUntilStopped() {
        const auto until = Clock::now() + std::chrono::seconds(30);
        while (TimerPeriod() != kStopped && Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            OnProgressTick();
        }
        ASSERT_EQ(TimerPeriod(), kStopped);
    }
    std::vector<std::string> SongFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(songs))
            names.push_back(e.path().filename().string());  // UTF-8 on disk
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Content(const std::string& utf8Name) const {
        std::ifstream in(songs / utf8Name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::size_t SoundsPlayed() const { return posix::System().soundsPlayed.size(); }

    std::filesystem::path songs;
    std::unique_ptr<TestHttpServer> media;
};

TEST_F(DownloadsTest, ACompletedDownloadIsNamedSoundedAndStopsTheTimer) {
    StoreSaveDirectory();
    List({{"歌曲 1", "歌手1", media->Url("/media/3")}}, 0);
    OnDownload();
    EXPECT_EQ(TimerPeriod(), 1000);
    TickUntilStopped();
    EXPECT_EQ(Utf8(windows->Pane(kDownloadPane)), "歌曲 1 - 歌手1  下载完成");
    EXPECT_EQ(Utf8(windows->Pane(kSpeedPane)), "下载速度：0 MB");
    EXPECT_EQ(SoundsPlayed(), 1u);
    EXPECT_EQ(SongFiles(), std::vector<std::string>{"歌曲 1_歌手1.mp3"});
    EXPECT_TRUE(Content("歌曲 1_歌手1.mp3") == Pattern(3001));
    const auto& record = *ProgramGlobals().transferSettings;
    EXPECT_EQ(record.field(1), 4096u);
    EXPECT_EQ(record.field(6), 5u);
    EXPECT_STREQ(reinterpret_cast<const char*>(record.field(2)), media->Url("/media/3").c_str());
}

// The program's anonymous login, which the record starts with: an e-mail form of 17 characters.
TEST_F(DownloadsTest, TheRecordStartsWithTheProgramsAnonymousLogin) {
    const auto& record = *ProgramGlobals().transferSettings;
    const auto* password = reinterpret_cast<const char*>(record.field(5));
    ASSERT_NE(password, nullptr);
    EXPECT_EQ(std::strlen(password), 17u);
    EXPECT_NE(std::strchr(password, '@'), nullptr);
}

TEST_F(DownloadsTest, TheCompletionNamesTheSongDownloadedNotTheRowSelectedNow) {
    StoreSaveDirectory();
    List({{"甲", "一", media->Url("/slow/1")}, {"乙", "二", media->Url("/media/2")}}, 0);
    OnDownload();
    windows->Unit(songList).selectedRow = 1;
    TickUntilStopped();
    EXPECT_EQ(Utf8(windows->Pane(kDownloadPane)), "甲 - 一  下载完成");
}

TEST_F(DownloadsTest, ATransferStillConnectingIsNotFinished) {
    StoreSaveDirectory();
    List({{"慢", "歌", media->Url("/slow/1")}}, 0);
    OnDownload();
    OnProgressTick();
    EXPECT_EQ(Utf8(windows->Pane(kSpeedPane)), "下载速度：0 MB");
    EXPECT_EQ(windows->Pane(kDownloadPane), "");
    EXPECT_EQ(TimerPeriod(), 1000);
    EXPECT_EQ(SoundsPlayed(), 0u);
    TickUntilStopped();
    EXPECT_EQ(Utf8(windows->Pane(kDownloadPane)), "慢 - 歌  下载完成");
}

TEST_F(DownloadsTest, AFailedDownloadSaysSoPlaysNothingAndLeavesNoFile) {
    StoreSaveDirectory();
    List({{"没有", "这首", media->Url("/missing/1")}}, 0);
    OnDownload();
    TickUntilStopped();
    EXPECT_EQ(Utf8(windows->Pane(kDownloadPane)), "没有 - 这首  下载失败");
    EXPECT_EQ(SoundsPlayed(), 0u);
    EXPECT_TRUE(SongFiles().empty());
}

TEST_F(DownloadsTest, ASecondDownloadWhileOneRunsIsATransferOfItsOwnAndBothComplete) {
    StoreSaveDirectory();
    List({{"甲", "一", media->Url("/slow/200")}, {"乙", "二", media->Url("/media/300")}}, 0);
    OnDownload();
    windows->Unit(songList).selectedRow = 1;
    OnDownload();
    std::vector<std::string> shown;
    const auto until = Clock::now() + std::chrono::seconds(30);
    while (TimerPeriod() != kStopped && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        OnProgressTick();
        const std::string pane = Utf8(windows->Pane(kDownloadPane));
        if (!pane.empty() && (shown.empty() || shown.back() != pane)) shown.push_back(pane);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"乙 - 二  下载完成", "甲 - 一  下载完成"}));
    EXPECT_EQ(SoundsPlayed(), 2u);
    EXPECT_TRUE(Content("甲_一.mp3") == Pattern(200001));
    EXPECT_TRUE(Content("乙_二.mp3") == Pattern(300001));
}

TEST_F(DownloadsTest, NamesFromTheServiceAreMadeSafeAndStayInTheSaveDirectory) {
    StoreSaveDirectory();
    List({{"..\\..\\evil", "a/b:c*?", media->Url("/media/1")}}, 0);
    OnDownload();
    TickUntilStopped();
    EXPECT_EQ(SongFiles(), std::vector<std::string>{".._.._evil_a_b_c__.mp3"});
}

// The target is the directory and the name with one separator between them, however the
// directory was stored: as this program stores it, by hand without its separator, and (read
// natively as a Linux directory) with the "\" that earlier native builds put at its end.
TEST_F(DownloadsTest, TheTargetHasOneSeparatorBeforeTheName) {
    const std::string directory = songs.string();
    for (const std::string& stored : {directory + kSeparator, directory, directory + "\\"}) {
        StoreSaveDirectoryAs(stored);
        List({{"歌曲 1", "歌手1", media->Url("/media/1")}}, 0);
        OnDownload();
        const auto* target =
            reinterpret_cast<const char*>(ProgramGlobals().transferSettings->field(3));
        EXPECT_EQ(Utf8(target), directory + kSeparator + "歌曲 1_歌手1.mp3") << stored;
        TickUntilStopped();
        EXPECT_EQ(SongFiles(), std::vector<std::string>{"歌曲 1_歌手1.mp3"}) << stored;
        std::filesystem::remove(songs / "歌曲 1_歌手1.mp3");
    }
}

TEST_F(DownloadsTest, WithoutAStoredDirectoryNothingStarts) {
    List({{"歌", "手", media->Url("/media/1")}}, 0);
    // No bc.ini; then one without the entry.
    OnDownload();
    WriteSettings({"[服务]", "主机=127.0.0.1:1"});
    OnDownload();
    EXPECT_EQ(posix::System().messages,
              (std::vector<std::string>{Gbk("请先设置保存目录"), Gbk("请先设置保存目录")}));
    EXPECT_EQ(RunningTransferCount(), 0);
    EXPECT_EQ(NextFinishedTransfer(), 0);
    EXPECT_EQ(TimerPeriod(), 0);
}

TEST_F(DownloadsTest, NothingSelectedDownloadsNothing) {
    StoreSaveDirectory();
    List({{"歌", "手", media->Url("/media/1")}}, -1);
    OnDownload();
    EXPECT_TRUE(posix::System().messages.empty());
    EXPECT_EQ(NextFinishedTransfer(), 0);
    EXPECT_EQ(TimerPeriod(), 0);
}

// The speed shown for a speed the transfer library answers.
std::int32_t g_speed = 0;
void SpeedOnlyFerry(std::uint32_t command, std::uint32_t, const Value*, Value* result) {
    *result = IntegerValue(command == ferry::kCurrentSpeed       ? g_speed
                           : command == ferry::kRunningTransfers ? 1
                                                                 : 0);
}

TEST_F(DownloadsTest, TheSpeedIsShownInUnitsOf1024000BytesWithTwoDecimals) {
    headless::RegisterLibrary(row::kFerry, &SpeedOnlyFerry);
    const std::pair<std::int32_t, const char*> cases[] = {
        {512000, "下载速度：0.5 MB"}, {1536000, "下载速度：1.5 MB"},
        {2048000, "下载速度：2 MB"},  {5119, "下载速度：0 MB"},
        {0, "下载速度：0 MB"},        {1048576, "下载速度：1.02 MB"}};
    for (const auto& [speed, text] : cases) {
        g_speed = speed;
        OnProgressTick();
        EXPECT_EQ(Utf8(windows->Pane(kSpeedPane)), text) << speed;
    }
    // A zero speed while a transfer runs ends nothing, and the other panes keep their texts.
    EXPECT_EQ(windows->Pane(kDownloadPane), "");
    EXPECT_EQ(Utf8(windows->Pane(kStatePane)), "状态：");
    EXPECT_EQ(Utf8(windows->Pane(kCreditPane)), "By：Quenby");
    headless::RegisterLibrary(row::kFerry, nullptr);
}

// A transfer library with one scripted transfer (number 1) that ends, completed, right after
// the library's `endAfter`-th answer since it started.
struct ScriptedTransfer {
    int endAfter = 0;
    int answers = 0;
    bool ended = false;
    bool reported = false;
};
ScriptedTransfer g_script;

void ScriptedFerry(std::uint32_t command, std::uint32_t, const Value*, Value* result) {
    ScriptedTransfer& t = g_script;
    switch (command) {
        case ferry::kStartDownload:
            t = {t.endAfter, 0, false, false};
            *result = IntegerValue(1);
            return;
        case ferry::kRunningTransfers:
            *result = IntegerValue(t.ended ? 0 : 1);
            break;
        case ferry::kNextFinishedTransfer:
            *result = IntegerValue(t.ended && !t.reported ? 1 : 0);
            if (t.ended) t.reported = true;
            break;
        case ferry::kTransferOutcome:
            *result = IntegerValue(static_cast<std::int32_t>(t.ended ? TransferOutcome::kCompleted
                                                                     : TransferOutcome::kRunning));
            break;
        default:
            *result = IntegerValue(0);
            break;
    }
    if (++t.answers == t.endAfter) t.ended = true;
}

TEST_F(DownloadsTest, ATransferEndingAtAnyPointOfATickIsReportedBeforeTheTimerStops) {
    StoreSaveDirectory();
    List({{"甲", "一", "http://127.0.0.1:1/a.mp3"}}, 0);
    headless::RegisterLibrary(row::kFerry, &ScriptedFerry);
    for (int endAfter = 1; endAfter <= 8; ++endAfter) {
        g_script.endAfter = endAfter;
        windows->Unit(statusBar).panes[kDownloadPane].clear();
        posix::System().soundsPlayed.clear();
        OnDownload();
        for (int tick = 0; tick < 5 && TimerPeriod() != kStopped; ++tick) OnProgressTick();
        EXPECT_EQ(TimerPeriod(), kStopped) << endAfter;
        EXPECT_EQ(Utf8(windows->Pane(kDownloadPane)), "甲 - 一  下载完成") << endAfter;
        EXPECT_EQ(SoundsPlayed(), 1u) << endAfter;
    }
    headless::RegisterLibrary(row::kFerry, nullptr);
}

using SaveDirectoryTest = AppTest;

// A Windows folder ends with "\\", a Linux one (the native program's dialog) with "/".
TEST_F(SaveDirectoryTest, AChosenFolderIsStoredAndShownEndingWithOneSeparator) {
    const std::pair<const char*, const char*> cases[] = {
        {"D:\\Music", "D:\\Music\\"},
        {"D:\\", "D:\\"},
        {"D:\\音乐", "D:\\音乐\\"},
        {"D:\\癨", "D:\\癨\\"},  // its second byte is 0x5C, not a backslash
        {"\\\\server\\share", "\\\\server\\share\\"},
        {"/home/user/Music", "/home/user/Music/"},
        {"/home/user/音乐", "/home/user/音乐/"},
        {"/home/user/癨", "/home/user/癨/"},
        {"/", "/"},
    };
    for (const auto& [chosen, stored] : cases) {
        windows->folderChoice = Gbk(chosen);
        OnChooseSaveDirectory();
        EXPECT_EQ(Utf8(windows->Unit(saveDirectoryLabel).text), stored) << chosen;
        EXPECT_EQ(Utf8(ReadSettings()), std::string("[保存目录]\r\n保存=") + stored + "\r\n");
        EXPECT_EQ(Utf8(StoredSaveDirectory().c_str()), stored);
    }
    EXPECT_EQ(Utf8(windows->folderDialogTitles.at(0)), "选择保存目录");
}

TEST_F(SaveDirectoryTest, ACancelledDialogChangesNothing) {
    WriteSettings({"[保存目录]", "保存=D:\\Old\\"});
    windows->Unit(saveDirectoryLabel).text = Gbk("D:\\Old\\");
    windows->folderChoice = "";
    OnChooseSaveDirectory();
    EXPECT_EQ(Utf8(windows->Unit(saveDirectoryLabel).text), "D:\\Old\\");
    EXPECT_EQ(Utf8(ReadSettings()), "[保存目录]\r\n保存=D:\\Old\\\r\n");
}

TEST_F(SaveDirectoryTest, ASettingsFileThatCannotBeWrittenIsReportedAndNotShownAsSaved) {
    // A program directory that is not there: nothing can be written into it.
    posix::System().programDirectory = (directory / "gone").string();
    windows->Unit(saveDirectoryLabel).text = Gbk("D:\\Old\\");
    windows->folderChoice = Gbk("D:\\New");
    OnChooseSaveDirectory();
    EXPECT_EQ(Utf8(windows->Unit(saveDirectoryLabel).text), "D:\\Old\\");
    ASSERT_EQ(posix::System().messages.size(), 1u);
    EXPECT_EQ(Utf8(posix::System().messages[0]), "无法写入设置文件 bc.ini，保存目录没有改变");
}

TEST_F(SaveDirectoryTest, ASettingsFileWithoutTheEntryCountsAsNoDirectory) {
    EXPECT_EQ(StoredSaveDirectory().view(), "");
    WriteSettings({"[服务]", "主机=127.0.0.1:1"});
    EXPECT_EQ(StoredSaveDirectory().view(), "");
    WriteSettings({"[保存目录]", "保存=D:\\Music\\"});
    EXPECT_EQ(StoredSaveDirectory().view(), "D:\\Music\\");
}

}  // namespace
}  // namespace tessel::testing
