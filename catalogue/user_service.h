// What the catalogue needs to run as each user's own service (the systemd user unit
// tessel-catalogue.service): the music folder it serves when none is named, a wait for that
// folder when it does not exist yet, the port held before anything is written, and the
// readiness notice to the service manager.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace tessel::catalogue {

// Exit status of a catalogue whose port another program (another user's catalogue, say) holds.
// The user unit does not restart on it (RestartPreventExitStatus).
inline constexpr int kExitPortTaken = 3;

struct MusicFolder {
    std::filesystem::path path;
    std::string source;  // where the name comes from, for the log
};

// The user's music folder, as `xdg-user-dir MUSIC` finds it: XDG_MUSIC_DIR in
// $XDG_CONFIG_HOME/user-dirs.dirs (~/.config/user-dirs.dirs), "$HOME/..." or an absolute path;
// a value that is $HOME itself means "no music folder" there, so ~/Music is taken, as it is
// without the setting. Empty path, with the reason in `error`, when HOME is not set.
MusicFolder DefaultMusicFolder(std::string& error);

// Calls `then` on a thread of its own once `folder` exists as a folder. It watches the nearest
// folder above it that exists (inotify), and looks again every few seconds whatever the events
// say (a parent on a network file system, or made and removed while the watch moved).
class FolderWait {
  public:
    FolderWait(std::filesystem::path folder, std::function<void()> then);
    ~FolderWait();
    FolderWait(const FolderWait&) = delete;
    FolderWait& operator=(const FolderWait&) = delete;
    // Ends the wait, and returns once `then` (if it had begun) has returned.
    void Stop();

  private:
    void Run();

    const std::filesystem::path folder_;
    const std::function<void()> then_;
    int wake_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Holds host:port with a listening socket from before the index is opened until the server
// binds it, so that a catalogue whose port is taken ends without having touched any file.
class PortHold {
  public:
    PortHold(const std::string& host, int port);
    ~PortHold() { Release(); }
    PortHold(const PortHold&) = delete;
    PortHold& operator=(const PortHold&) = delete;
    bool taken() const { return taken_; }
    // Lets the port go, for the server to bind at once.
    void Release();

  private:
    int fd_ = -1;
    bool taken_ = false;
};

// Sends `state` ("READY=1\nSTATUS=...") to the service manager that started the program, through
// the datagram socket NOTIFY_SOCKET names (a path, or an abstract name given as "@name").
// Nothing without NOTIFY_SOCKET.
void NotifyServiceManager(const std::string& state);

}  // namespace tessel::catalogue
