// Follows the library folder while the service runs, so that songs copied in, retagged, renamed
// or deleted, and folders added, renamed or removed, show in the answers within moments.
//
// How: an inotify watch on every folder of the library, new folders watched as they come. An
// event only names a path; what changed there is found by the scan's own comparison of that path
// with the index (UpdatePaths), so a file is read the same way whether found at start or later,
// and a file moved keeps its id as it does across restarts.
//
// Why batches: a copied album or a folder of 10,000 files moved in is a burst of events. Paths
// are gathered until the library has been quiet for kQuiet, or for at most kLongestWait while
// events keep coming, and each gathering is applied in one transaction on this thread. Readers
// have connections of their own on the index in WAL mode, so searches keep answering from the
// index as it was until the commit, and then see the whole batch.
//
// A file still being written is not read half-written: a file created waits for the writer to
// close it (or for its modification time to stay put for kStalled, for writers that never
// close), and a file the scan finds open for writing (in a folder that has just come, say) is
// left by it and waited for the same way. Files moved in (as copying tools do from a hidden
// temporary name) are whole at once.
//
// Where watching is impossible (the system's limit of watches, no inotify) or not enough (a
// network file system, where changes made from other machines send no events) the log says so
// once, with what to do, and the library is scanned again every `rescanSeconds`. With watching
// working on a local file system there is no timed rescan: the events miss nothing there, and a
// queue that overflows is followed by a full scan. RescanNow (SIGHUP) scans at once.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "database.h"
#include "scan.h"

namespace tessel::catalogue {

inline constexpr int kDefaultRescanSeconds = 300;

struct WatchOptions {
    // How often the library is scanned again where it cannot be watched fully; 0: never.
    int rescanSeconds = kDefaultRescanSeconds;
    // At most this many folders are watched (0: as many as the system allows); beyond it the
    // watch gives up as at the system's limit. For tests.
    int maxWatches = 0;
};

// One log line (on stderr) for each skipped file or folder not in `reported`, which it adds.
void LogSkipped(const std::vector<Skipped>& skipped, std::set<std::string>& reported);

class LibraryWatch {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kQuiet{200};
    static constexpr std::chrono::milliseconds kLongestWait{1000};
    static constexpr std::chrono::seconds kStalled = kQuietWrite;
    // A batch that could not be written is tried again after this.
    static constexpr std::chrono::seconds kRetry{5};

    // Watches the library's folders at once, so that what changes before Start() is applied then
    // (make it before the first scan). `database` is written only from the watch's thread.
    LibraryWatch(Database& database, std::filesystem::path library, ScanOptions scan,
                 WatchOptions options);
    ~LibraryWatch();
    LibraryWatch(const LibraryWatch&) = delete;
    LibraryWatch& operator=(const LibraryWatch&) = delete;

    // Applies changes from now on, on a thread of its own; `first` is the first scan's report
    // (its skipped files are logged once).
    void Start(const ScanReport& first);
    // From any thread: scans the whole library again as soon as the thread can.
    void RescanNow();
    void Stop();
    // True while inotify follows the library.
    bool Watching() const { return inotify_ >= 0; }

  private:
    struct Pending {
        bool writing = false;       // created, not yet closed
        Clock::time_point checkAt;  // when a file being written is looked at again
        int64_t modified = 0;       // its modification time then
    };

    void Run();
    void GiveUp(const std::string& why);
    bool WatchTree(const std::string& folder);
    void DropTree(const std::string& folder);
    void ReadEvents();
    void Handle(int wd, uint32_t mask, const std::string& name);
    void MarkReady(const std::string& path);
    void MarkWriting(const std::string& path);
    bool StillWriting(const std::string& path, Pending& pending, Clock::time_point now);
    void ApplyBatch(Clock::time_point now);
    void Rescan(const char* why);
    void Note(const std::string& error);
    void Wake();
    int WaitMilliseconds(Clock::time_point now) const;

    Database& database_;
    const std::filesystem::path library_;
    const ScanOptions scan_;  // a scan it runs ends when it stops
    const WatchOptions options_;
    int inotify_ = -1;
    int wake_ = -1;
    bool networkFileSystem_ = false;
    std::unordered_map<int, std::string> folders_;  // watch descriptor to folder ("" the library)
    std::map<std::string, int> watches_;            // the same the other way
    std::map<std::string, Pending> pending_;        // paths changed, not yet applied
    bool anyReady_ = false;
    Clock::time_point firstReady_;
    Clock::time_point lastEvent_;
    Clock::time_point retryAt_;
    Clock::time_point nextRescan_ = Clock::time_point::max();
    bool rescanPending_ = false;
    std::string lastError_;
    std::set<std::string> reportedSkips_;
    std::atomic<bool> rescanAsked_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace tessel::catalogue
