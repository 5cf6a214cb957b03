#include "user_service.h"

#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

namespace tessel::catalogue {
namespace {

namespace fs = std::filesystem;

// How often a waited-for folder is looked for whatever inotify says.
constexpr int kLookAgainMilliseconds = 5000;

// The value of XDG_MUSIC_DIR on one line of user-dirs.dirs, as the shell that `xdg-user-dir`
// sources the file with reads it: double quotes, backslash escapes, "$HOME" at the start.
// Nothing for other lines, and for a relative path (which the file's readers ignore).
std::optional<fs::path> MusicDirOnLine(std::string_view line, const fs::path& home) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) return std::nullopt;
    line.remove_prefix(start);
    constexpr std::string_view kName = "XDG_MUSIC_DIR=";
    if (!line.starts_with(kName)) return std::nullopt;
    line.remove_prefix(kName.size());
    std::string value;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            // Inside double quotes only these lose their backslash.
            if (quoted && std::string_view("\"\\$`").find(next) == std::string_view::npos) {
                value += c;
            }
            value += next;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '#')) {
            break;
        } else {
            value += c;
        }
    }
    for (const std::string_view variable : {"$HOME", "${HOME}"}) {
        if (value.starts_with(variable) &&
            (value.size() == variable.size() || value[variable.size()] == '/')) {
            return home / value.substr(std::min(value.size(), variable.size() + 1));
        }
    }
    if (value.starts_with('/')) return fs::path(value);
    return std::nullopt;
}

// "/home/u/" and "/home/u" are the same folder.
fs::path Normal(const fs::path& path) {
    fs::path normal = path.lexically_normal();
    if (!normal.has_filename() && normal != normal.root_path()) normal = normal.parent_path();
    return normal;
}

}  // namespace

MusicFolder DefaultMusicFolder(std::string& error) {
    const char* homeText = std::getenv("HOME");
    if (homeText == nullptr || homeText[0] != '/') {
        error = "no music folder: HOME is not set; name the music with --library";
        return {};
    }
    const fs::path home = Normal(homeText);
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const fs::path settings =
        (config != nullptr && config[0] == '/' ? fs::path(config) : home / ".config") /
        "user-dirs.dirs";
    std::optional<fs::path> named;
    std::ifstream in(settings);
    for (std::string line; std::getline(in, line);) {
        if (std::optional<fs::path> value = MusicDirOnLine(line, home)) named = std::move(value);
    }
    const fs::path fallback = home / "Music";
    if (!named) return {fallback, "~/Music: no XDG_MUSIC_DIR in " + settings.string()};
    // XDG_MUSIC_DIR="$HOME" is how a user says there is no music folder.
    const fs::path folder = Normal(*named);
    if (folder == home) {
        return {fallback, "~/Music: XDG_MUSIC_DIR in " + settings.string() + " is the home folder"};
    }
    return {folder, "XDG_MUSIC_DIR in " + settings.string()};
}

FolderWait::FolderWait(fs::path folder, std::function<void()> then)
    : folder_(std::move(folder)), then_(std::move(then)) {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
}

FolderWait::~FolderWait() {
    Stop();
    if (wake_ >= 0) ::close(wake_);
}

void FolderWait::Stop() {
    stop_ = true;
    const uint64_t one = 1;
    if (wake_ >= 0) [[maybe_unused]]
        const ssize_t ignored = ::write(wake_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
}

void FolderWait::Run() {
    constexpr uint32_t kEvents =
        IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    std::error_code ec;
    while (!stop_) {
        // The nearest folder above that exists is watched: what appears in it may be the folder
        // itself or the next folder on the way to it, then watched in turn.
        fs::path above = folder_.parent_path();
        while (above != above.root_path() && !fs::is_directory(above, ec)) {
            above = above.parent_path();
        }
        const int inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (inotify >= 0) ::inotify_add_watch(inotify, above.c_str(), kEvents);
        // Looked for after the watch is set, so that a folder made meanwhile is not missed.
        if (fs::is_directory(folder_, ec)) {
            if (inotify >= 0) ::close(inotify);
            then_();
            return;
        }
        pollfd fds[2] = {{wake_, POLLIN, 0}, {inotify, POLLIN, 0}};
        ::poll(fds, inotify >= 0 ? 2 : 1, kLookAgainMilliseconds);
        if (inotify >= 0) ::close(inotify);
    }
}

PortHold::PortHold(const std::string& host, int port) {
    if (port == 0) return;  // any free port: nothing to hold
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return;
    for (addrinfo* a = found; a != nullptr && fd_ < 0 && !taken_; a = a->ai_next) {
        fd_ = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd_ < 0) continue;
        // As the server's own socket, so that it takes the port back from connections closing.
        const int yes = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd_, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd_, 1) != 0) {
            taken_ = errno == EADDRINUSE;
            ::close(fd_);
            fd_ = -1;
        }
    }
    ::freeaddrinfo(found);
}

void PortHold::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void NotifyServiceManager(const std::string& state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (name == nullptr) return;
    std::string path = name;
    sockaddr_un address{};
    if (path.size() < 2 || path.size() >= sizeof address.sun_path) return;
    if (path[0] == '@') {
        path[0] = '\0';  // an abstract name
    } else if (path[0] != '/') {
        return;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size()));
    ::close(fd);
}

}  // namespace tessel::catalogue
