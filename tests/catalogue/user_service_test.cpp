// The catalogue as each user's own service: the music folder it serves without --library (read
// from user-dirs.dirs as xdg-user-dir reads it), a folder made after the start, a second
// catalogue on a taken port (another user's, or the same user's twice), and the readiness notice
// to the service manager. Each program runs with a HOME of its own.
#include "user_service.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "catalogue_fixture.h"
#include "child_program.h"

namespace tessel::catalogue::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The program run by `env` with HOME set to `home` and nothing else of the caller's XDG
// settings, so that it finds its folders as a user logged in there would.
std::vector<std::string> AsUserOf(const fs::path& home, std::vector<std::string> more = {}) {
    std::vector<std::string> launcher{
        "/usr/bin/env",    "-u", "XDG_CACHE_HOME", "-u",
        "XDG_CONFIG_HOME", "-u", "NOTIFY_SOCKET",  "HOME=" + home.string()};
    launcher.insert(launcher.end(), more.begin(), more.end());
    return launcher;
}

void WriteFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every file below `folder` with its bytes: what a program wrote there shows as a difference.
std::map<std::string, std::string> Contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        files[it->path().string()] = it->is_regular_file() ? ReadFile(it->path()) : "<folder>";
    }
    return files;
}

const std::regex kServing(R"(serving \d+ songs on http://127\.0\.0\.1:(\d+)/)");

// The titles a search for `keyword` finds, or nothing when the catalogue does not answer.
std::optional<std::vector<std::string>> Search(int port, const std::string& keyword) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(2);
    client.set_read_timeout(5);
    const httplib::Result found = client.Get("/tessel/song/search/?q=" + keyword);
    if (!found || found->status != 200) return std::nullopt;
    const std::optional<JsonValue> answer = ParseJson(found->body);
    if (!answer) return std::nullopt;
    return Titles(*answer);
}

bool Finds(int port, const std::string& keyword, const std::string& title) {
    const std::optional<std::vector<std::string>> titles = Search(port, keyword);
    return titles && std::find(titles->begin(), titles->end(), title) != titles->end();
}

// True once `condition` holds, trying for `seconds`.
bool Within(int seconds, const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

// A port free on 127.0.0.1 a moment ago.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// --- the music folder ----------------------------------------------------------------------

class MusicFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
            if (const char* value = std::getenv(name)) saved_[name] = value;
        }
        home_ = folder_.path() / "home";
        fs::create_directories(home_);
        ::setenv("HOME", home_.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
    }
    void TearDown() override {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
            if (saved_.contains(name)) {
                ::setenv(name, saved_[name].c_str(), 1);
            } else {
                ::unsetenv(name);
            }
        }
    }
    fs::path Found() {
        std::string error;
        return DefaultMusicFolder(error).path;
    }
    // What `xdg-user-dir MUSIC` says with the same settings; nothing where it is not installed.
    std::optional<std::string> XdgUserDir() {
        if (!fs::exists("/usr/bin/xdg-user-dir")) return std::nullopt;
        FILE* pipe = ::popen("/usr/bin/xdg-user-dir MUSIC", "r");
        if (pipe == nullptr) return std::nullopt;
        char line[4096] = {};
        const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
        ::pclose(pipe);
        if (!read) return std::nullopt;
        std::string text = line;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }

    TempFolder folder_;
    fs::path home_;
    std::map<std::string, std::string> saved_;
};

// Where the file names a folder, the catalogue takes the folder xdg-user-dir names.
TEST_F(MusicFolderTest, NamedFoldersAreTheOnesXdgUserDirNames) {
    const fs::path settings = home_ / ".config" / "user-dirs.dirs";
    const struct {
        std::string text;
        fs::path expected;
    } cases[] = {
        {"XDG_MUSIC_DIR=\"$HOME/Musique\"\n", home_ / "Musique"},
        {"# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
         "XDG_MUSIC_DIR=\"/srv/household music\"\nXDG_VIDEOS_DIR=\"$HOME/Videos\"\n",
         "/srv/household music"},
        {"XDG_MUSIC_DIR=\"$HOME/Old\"\n  XDG_MUSIC_DIR=\"$HOME/音乐\"\n", home_ / "音乐"},
        {"XDG_MUSIC_DIR=\"$HOME/The \\\"Best\\\" \\$ongs\"\n", home_ / "The \"Best\" $ongs"},
        {"XDG_MUSIC_DIR=$HOME/Plain\n", home_ / "Plain"},
    };
    for (const auto& [text, expected] : cases) {
        WriteFile(settings, text);
        EXPECT_EQ(Found(), expected) << text;
        if (const std::optional<std::string> named = XdgUserDir()) {
            EXPECT_EQ(*named, expected.string()) << text;
        }
    }
    // XDG_CONFIG_HOME, where set, holds the file instead.
    const fs::path elsewhere = folder_.path() / "config";
    WriteFile(elsewhere / "user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Elsewhere\"\n");
    ::setenv("XDG_CONFIG_HOME", elsewhere.c_str(), 1);
    EXPECT_EQ(Found(), home_ / "Elsewhere");
    if (const std::optional<std::string> named = XdgUserDir()) {
        EXPECT_EQ(*named, (home_ / "Elsewhere").string());
    }
}

// No file, no setting, a relative path, or the home folder itself ("no music folder"): ~/Music.
TEST_F(MusicFolderTest, OtherwiseTheMusicFolderIsMusicInHome) {
    EXPECT_EQ(Found(), home_ / "Music");
    const fs::path settings = home_ / ".config" / "user-dirs.dirs";
    for (const char* text : {"XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n", "XDG_MUSIC_DIR=\"$HOME\"\n",
                             "XDG_MUSIC_DIR=\"$HOME/\"\n", "XDG_MUSIC_DIR=\"Music2\"\n",
                             "#XDG_MUSIC_DIR=\"$HOME/Commented\"\n"}) {
        WriteFile(settings, text);
        EXPECT_EQ(Found(), home_ / "Music") << text;
    }
    ::unsetenv("HOME");
    std::string error;
    EXPECT_TRUE(DefaultMusicFolder(error).path.empty());
    EXPECT_NE(error.find("--library"), std::string::npos) << error;
}

// --- the program without --library ----------------------------------------------------------

TEST(UserCatalogue, ServesTheFolderUserDirsNames) {
    TempFolder folder;
    const fs::path home = folder.path() / "home";
    WriteFile(home / ".config" / "user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Mes morceaux\"\n");
    ASSERT_TRUE(AddSong(home / "Mes morceaux" / "Jazz" / "one.mp3", {"Blue Hour", "Ana", "Jazz"}));
    ASSERT_TRUE(AddSong(home / "Music" / "other.mp3", {"Not This One", "", ""}));
    ChildProgram server({"--listen", "127.0.0.1:0"}, AsUserOf(home));
    const std::optional<std::smatch> serving = server.WaitForOutput(kServing, 30);
    ASSERT_TRUE(serving) << server.text();
    EXPECT_NE(server.text().find("serving the music folder " + (home / "Mes morceaux").string()),
              std::string::npos)
        << server.text();
    const int port = std::stoi((*serving)[1].str());
    EXPECT_TRUE(Finds(port, "blue", "Blue Hour"));
    EXPECT_FALSE(Finds(port, "this", "Not This One"));
    EXPECT_EQ(server.Finish(10, SIGTERM), 0);
    // The index went to the user's own cache folder.
    EXPECT_FALSE(Contents(home / ".cache" / "tessel").empty());
}

// A music folder that is not there yet (nor the folder above it) is served, empty, at once, and
// its songs once it is made: the same process, never ending or starting again.
TEST(UserCatalogue, AFolderMadeAfterTheStartIsServed) {
    TempFolder folder;
    const fs::path home = folder.path() / "home";
    WriteFile(home / ".config" / "user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Media/Music\"\n");
    ChildProgram server({"--listen", "127.0.0.1:0"}, AsUserOf(home));
    const std::optional<std::smatch> serving = server.WaitForOutput(kServing, 30);
    ASSERT_TRUE(serving) << server.text();
    const int port = std::stoi((*serving)[1].str());
    const std::optional<std::vector<std::string>> before = Search(port, "arrival");
    ASSERT_TRUE(before) << "an empty catalogue answers while the folder is waited for";
    EXPECT_TRUE(before->empty());

    // Made one level at a time, the song written into the folder once it is there.
    fs::create_directories(home / "Media");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(AddSong(home / "Media" / "Music" / "Album" / "late.mp3", {"Late Arrival", "", ""}));
    EXPECT_TRUE(Within(20, [&] { return Finds(port, "arrival", "Late Arrival"); }))
        << server.text();
    // Then followed as any library.
    ASSERT_TRUE(AddSong(home / "Media" / "Music" / "later.mp3", {"Later Still", "", ""}));
    EXPECT_TRUE(Within(20, [&] { return Finds(port, "still", "Later Still"); })) << server.text();

    const std::string log = server.text();
    const std::string waiting =
        "the music folder " + (home / "Media" / "Music").string() + " (XDG_MUSIC_DIR in " +
        (home / ".config" / "user-dirs.dirs").string() + ") does not exist yet";
    EXPECT_NE(log.find(waiting), std::string::npos) << log;
    EXPECT_EQ(log.find(waiting), log.rfind(waiting)) << "said once: " << log;
    EXPECT_EQ(server.Finish(10, SIGTERM), 0);
}

// Two users logged in at once: the second one's catalogue finds the port taken, says so plainly,
// ends with the status the user unit does not restart, and has written nothing, neither in its
// own cache nor (the same user twice) in the first one's index, which goes on serving.
TEST(UserCatalogue, ASecondCatalogueOnATakenPortEndsWritingNothing) {
    TempFolder folder;
    const fs::path first = folder.path() / "first";
    ASSERT_TRUE(AddSong(first / "Music" / "one.mp3", {"First Song", "", ""}));
    ChildProgram server({"--listen", "127.0.0.1:0"}, AsUserOf(first));
    const std::optional<std::smatch> serving = server.WaitForOutput(kServing, 30);
    ASSERT_TRUE(serving) << server.text();
    const int port = std::stoi((*serving)[1].str());
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    const fs::path firstIndex = first / ".cache" / "tessel";

    // The first one held still, with a change in its library it has not seen: a second one that
    // read the library into the shared index would show.
    server.Signal(SIGSTOP);
    ASSERT_TRUE(AddSong(first / "Music" / "two.mp3", {"Second Song", "", ""}));
    const std::map<std::string, std::string> before = Contents(firstIndex);
    ASSERT_FALSE(before.empty());

    const fs::path other = folder.path() / "other";
    ASSERT_TRUE(AddSong(other / "Music" / "mine.mp3", {"Other User's Song", "", ""}));
    for (const fs::path& home : {other, first}) {
        ChildProgram second({"--listen", listen}, AsUserOf(home));
        EXPECT_EQ(second.Finish(10), kExitPortTaken) << second.text();
        EXPECT_TRUE(second.WaitForOutput(
            std::regex("tessel-catalogue: cannot listen on " + listen +
                       ": address already in use. The port is taken, most likely by the "
                       "catalogue of another user logged in on this computer"),
            1))
            << second.text();
        EXPECT_EQ(second.text().find("serving"), std::string::npos) << second.text();
    }
    EXPECT_FALSE(fs::exists(other / ".cache")) << "the other user's catalogue made its index";
    EXPECT_TRUE(Contents(firstIndex) == before) << "the first user's index was written";

    server.Signal(SIGCONT);
    EXPECT_TRUE(Finds(port, "first", "First Song"));
    EXPECT_TRUE(Within(20, [&] { return Finds(port, "second", "Second Song"); })) << server.text();
    EXPECT_EQ(server.Finish(10, SIGTERM), 0);
}

// --- the service manager's notice ------------------------------------------------------------

// A datagram socket where the catalogue's notices arrive, as systemd makes one for a
// Type=notify unit: at a path, or at an abstract name ("@name" in NOTIFY_SOCKET).
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& name) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string path = name;
        if (path[0] == '@') path[0] = '\0';
        std::memcpy(address.sun_path, path.data(), path.size());
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address),
                        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size())) == 0;
    }
    ~NotifySocket() { ::close(fd_); }
    bool bound() const { return bound_; }
    // The next notice, or nothing within `seconds`.
    std::optional<std::string> Next(int seconds) {
        pollfd wait{fd_, POLLIN, 0};
        if (::poll(&wait, 1, seconds * 1000) <= 0) return std::nullopt;
        char text[4096];
        const ssize_t got = ::recv(fd_, text, sizeof text, 0);
        if (got < 0) return std::nullopt;
        return std::string(text, static_cast<size_t>(got));
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

// READY=1 comes once the server has its port: a request sent while the catalogue is stopped the
// moment the notice arrives is answered, on that connection, once it goes on. In both ways the
// catalogue starts: a music folder there (indexed first), and one waited for.
TEST(UserCatalogue, ReadyIsSaidOnceThePortAnswers) {
    TempFolder folder;
    const fs::path home = folder.path() / "home";
    ASSERT_TRUE(AddSong(home / "Music" / "one.mp3", {"Ready Song", "", ""}));
    const fs::path waiting = folder.path() / "waiting";
    fs::create_directories(waiting);
    const std::string abstract = "@tessel-notify-test-" + std::to_string(::getpid());
    const std::string path = (folder.path() / "notify").string();
    for (const auto& [name, user] : {std::pair{path, home}, std::pair{abstract, waiting}}) {
        NotifySocket notices(name);
        ASSERT_TRUE(notices.bound()) << name;
        const int port = FreePort();
        ChildProgram server({"--listen", "127.0.0.1:" + std::to_string(port)},
                            AsUserOf(user, {"NOTIFY_SOCKET=" + name}));
        const std::optional<std::string> notice = notices.Next(30);
        ASSERT_TRUE(notice) << name << ": " << server.text();
        server.Signal(SIGSTOP);
        RawConnection early(port);
        EXPECT_TRUE(early.connected()) << name << ": READY=1 before the port answers";
        early.Send("GET /tessel/music/collections/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        server.Signal(SIGCONT);
        bool closed = false;
        const std::string answer = early.ReceiveAnswer(std::chrono::seconds(10), closed);
        EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << name << ": " << answer;
        EXPECT_NE(("\n" + *notice + "\n").find("\nREADY=1\n"), std::string::npos) << *notice;
        EXPECT_EQ(server.Finish(10, SIGTERM), 0);
    }
}

}  // namespace
}  // namespace tessel::catalogue::testing
