// What a transfer leaves on the disk: part files of killed runs, the finished file's mode, a
// disk that refuses the bytes, a target that cannot be replaced, a folder deep enough that the
// part file's name matters.
#include <string>
#include <vector>

#include "ferry_fixture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tessel::ferry_test {
namespace {

#ifdef _WIN32
constexpr char kPartPrefix[] = "~ferry";
unsigned long OwnProcess() {
    return GetCurrentProcessId();
}
#else
constexpr char kPartPrefix[] = ".~ferry-";
unsigned long OwnProcess() {
    return static_cast<unsigned long>(getpid());
}
#endif
// No system hands out a process id this high.
constexpr char kGoneProcess[] = "99999996";

TEST_F(FerryTest, PartFilesOfProcessesNoLongerRunningGoWhenTheFolderIsFirstUsed) {
    const std::string own = std::to_string(OwnProcess());
    const std::vector<std::string> kept = {
        kPartPrefix + own + "-7.part",            // this process's own
        kPartPrefix + std::string("notes.part"),  // not one of ours
        std::string(kPartPrefix) + kGoneProcess,  // no ".part"
        "song.mp3",
    };
    const std::string gone = kPartPrefix + std::string(kGoneProcess) + "-1.part";
    for (const std::string& name : kept) std::ofstream(folder_ / name) << "keep";
    std::ofstream(folder_ / gone) << std::string(4096, 'x');

    TestHttpServer server([](const ReceivedRequest& r) {
        ServerResponse answer = PatternAnswer(r, kMiB);
        answer.pauseMs = 40;
        return answer;
    });
    const std::int32_t number = Start(server.Url("/new.mp3"), PathOf("new.mp3"));
    // While it runs, its own part file carries this process's id, as the sweep expects.
    const auto until = Clock::now() + std::chrono::seconds(10);
    std::vector<std::string> names;
    while (names.size() != kept.size() + 1 && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        names = FilesInFolder();
        std::erase(names, gone);
    }
    std::erase_if(names, [&](const std::string& n) {
        return std::find(kept.begin(), kept.end(), n) != kept.end();
    });
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind(kPartPrefix + own + "-", 0), 0u) << names[0];
    EXPECT_EQ(WaitForEnd(number), TransferOutcome::kCompleted);
    for (const std::string& name : kept) EXPECT_EQ(Content(name), "keep") << name;
    EXPECT_FALSE(fs::exists(folder_ / gone));
}

TEST_F(FerryTest, ATargetThatCannotBeReplacedFailsTheTransferAndLeavesNoPartFile) {
    TestHttpServer server([](const ReceivedRequest& r) { return PatternAnswer(r, 300000); });
    // A folder of that name.
    fs::create_directories(folder_ / "taken.mp3" / "inside");
    EXPECT_EQ(WaitForEnd(Start(server.Url("/a.mp3"), PathOf("taken.mp3"))),
              TransferOutcome::kFailed);
    EXPECT_TRUE(fs::is_directory(folder_ / "taken.mp3" / "inside"));
    EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"taken.mp3"});
#ifdef _WIN32
    // A file that another program holds open without sharing it.
    { std::ofstream(folder_ / "open.mp3") << "older"; }
    HANDLE held = CreateFileW((folder_ / "open.mp3").wstring().c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(WaitForEnd(Start(server.Url("/b.mp3"), PathOf("open.mp3"))),
              TransferOutcome::kFailed);
    CloseHandle(held);
    EXPECT_EQ(Content("open.mp3"), "older");
    EXPECT_EQ(FilesInFolder().size(), 2u);
    // The next try finds nothing in its way.
    EXPECT_EQ(WaitForEnd(Start(server.Url("/b.mp3"), PathOf("open.mp3"))),
              TransferOutcome::kCompleted);
    EXPECT_TRUE(Content("open.mp3") == Pattern(0, 300000));
#endif
}

#ifdef _WIN32
TEST_F(FerryTest, AFolderDeepEnoughForTheTargetButNotForThePartFileStillWorks) {
    // folder + "\\a.mp3" is 259 characters, within the limit; the part file's longer name
    // beside it is over.
    constexpr std::size_t kFolderLength = 259 - 6;
    fs::path deep = folder_;
    while (deep.wstring().size() + 41 < kFolderLength - 2) deep /= std::wstring(40, L'd');
    deep /= std::wstring(kFolderLength - deep.wstring().size() - 1, L'e');
    ASSERT_EQ(deep.wstring().size(), kFolderLength);
    fs::create_directories(deep);
    TestHttpServer server([](const ReceivedRequest& r) { return PatternAnswer(r, 200000); });
    const std::string target = (deep / "a.mp3").string();
    EXPECT_EQ(WaitForEnd(Start(server.Url("/a.mp3"), target)), TransferOutcome::kCompleted);
    std::ifstream in(deep / "a.mp3", std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == Pattern(0, 200000));
    in.close();
    EXPECT_EQ(std::distance(fs::directory_iterator(deep), fs::directory_iterator()), 1);
}
#else
TEST_F(FerryTest, TheFinishedFileHasTheModeOfANewFile) {
    TestHttpServer server([](const ReceivedRequest& r) { return PatternAnswer(r, 1000); });
    const struct {
        mode_t umask;
        mode_t expected;
    } cases[] = {{022, 0644}, {027, 0640}, {077, 0600}};
    { std::ofstream(folder_ / "song.mp3") << "older"; }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.umask);
        const mode_t before = ::umask(c.umask);
        ::chmod((folder_ / "song.mp3").c_str(), 0604);
        EXPECT_EQ(WaitForEnd(Start(server.Url("/song.mp3"), PathOf("song.mp3"))),
                  TransferOutcome::kCompleted);
        ::umask(before);
        struct stat st {};
        ASSERT_EQ(::stat((folder_ / "song.mp3").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.expected);
    }
}

TEST_F(FerryTest, ADiskThatRefusesTheBytesFailsTheTransferAndLeavesNoFile) {
    // Files of this process may not grow past 1 MiB for the while.
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = kMiB;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    TestHttpServer server([](const ReceivedRequest& r) { return PatternAnswer(r, 3 * kMiB); });
    const TransferOutcome outcome = WaitForEnd(Start(server.Url("/big.mp3"), PathOf("big.mp3")));
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(outcome, TransferOutcome::kFailed);
    EXPECT_TRUE(FilesInFolder().empty());
    EXPECT_EQ(server.Requests().size(), 1u) << "a write error is not a reason to ask again";
}
#endif

}  // namespace
}  // namespace tessel::ferry_test
