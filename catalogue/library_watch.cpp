#include "library_watch.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace tessel::catalogue {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kEvents = IN_CREATE | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO |
                             IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                             IN_DONT_FOLLOW | IN_EXCL_UNLINK;

void Log(const std::string& line) {
    std::fprintf(stderr, "tessel-catalogue: %s\n", line.c_str());
    std::fflush(stderr);
}

int64_t ModifiedOf(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return -1;
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

std::string SystemValue(const char* file) {
    std::ifstream in(file);
    std::string value;
    in >> value;
    return value.empty() ? "?" : value;
}

// The name of a network file system `folder` is on, or nothing: other machines' changes there
// send no events.
const char* NetworkFileSystem(const fs::path& folder) {
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0) return nullptr;
    switch (static_cast<unsigned long>(info.f_type)) {
        case 0x6969:
            return "NFS";
        case 0x517B:
            return "SMB";
        case 0xFF534D42:
            return "CIFS";
        case 0xFE534D42:
            return "SMB2";
        case 0x65735546:
            return "FUSE";
        case 0x01021997:
            return "9P";
        case 0x00C36400:
            return "Ceph";
        case 0x5346414F:
            return "AFS";
        case 0x73757245:
            return "Coda";
        default:
            return nullptr;
    }
}

std::string Plural(int count, const char* one, const char* many) {
    return std::to_string(count) + ' ' + (count == 1 ? one : many);
}

}  // namespace

void LogSkipped(const std::vector<Skipped>& skipped, std::set<std::string>& reported) {
    for (const Skipped& item : skipped) {
        if (!reported.insert(item.path).second) continue;
        Log("skipped " + (item.path.empty() ? std::string("the library") : item.path) +
            ", which cannot be read: " + item.reason);
    }
}

LibraryWatch::LibraryWatch(Database& database, fs::path library, ScanOptions scan,
                           WatchOptions options)
    : database_(database),
      library_(std::move(library)),
      scan_(ScanOptions{scan.legacyEncoding, &stop_}),
      options_(options) {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    inotify_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotify_ < 0) {
        GiveUp(errno == EMFILE
                   ? "the system's limit of inotify instances is reached "
                     "(fs.inotify.max_user_instances = " +
                         SystemValue("/proc/sys/fs/inotify/max_user_instances") +
                         "); raise it (sysctl fs.inotify.max_user_instances=1024) and restart"
                   : std::string("inotify is not available: ") + std::strerror(errno));
        return;
    }
    if (!WatchTree("")) return;
    if (const char* network = NetworkFileSystem(library_)) {
        networkFileSystem_ = true;
        Log(std::string("the library is on a network file system (") + network +
            "): changes made from other machines send no events, so it is also scanned again " +
            (options_.rescanSeconds > 0
                 ? "every " + std::to_string(options_.rescanSeconds) + " s (--rescan)"
                 : std::string("only on SIGHUP (--rescan 0)")));
    }
    Log("following the library: watching " +
        Plural(static_cast<int>(watches_.size()), "folder", "folders") + " for changes");
}

LibraryWatch::~LibraryWatch() {
    Stop();
    if (inotify_ >= 0) ::close(inotify_);
    if (wake_ >= 0) ::close(wake_);
}

void LibraryWatch::Start(const ScanReport& first) {
    LogSkipped(first.skipped, reportedSkips_);
    for (const std::string& path : first.writing) MarkWriting(path);
    if (thread_.joinable()) return;
    if (!Watching() || networkFileSystem_) {
        if (options_.rescanSeconds > 0) {
            nextRescan_ = Clock::now() + std::chrono::seconds(options_.rescanSeconds);
        }
    }
    thread_ = std::thread([this] { Run(); });
}

void LibraryWatch::RescanNow() {
    rescanAsked_ = true;
    Wake();
}

void LibraryWatch::Stop() {
    stop_ = true;
    Wake();
    if (thread_.joinable()) thread_.join();
}

void LibraryWatch::Wake() {
    const uint64_t one = 1;
    if (wake_ < 0) return;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_, &one, sizeof one);
}

// Said once: watching stops, and rescans at the interval stand in for it.
void LibraryWatch::GiveUp(const std::string& why) {
    if (inotify_ >= 0) ::close(inotify_);
    inotify_ = -1;
    folders_.clear();
    watches_.clear();
    const std::string instead =
        options_.rescanSeconds > 0
            ? "until then the library is scanned again every " +
                  std::to_string(options_.rescanSeconds) + " s (--rescan) and on SIGHUP"
            : std::string("until then it is scanned again only on SIGHUP (--rescan 0)");
    Log("cannot watch the library for changes: " + why + "; " + instead);
    if (options_.rescanSeconds > 0 && nextRescan_ == Clock::time_point::max()) {
        nextRescan_ = Clock::now() + std::chrono::seconds(options_.rescanSeconds);
    }
}

// Watches `folder` and every folder below it (hidden ones and links left out). False when
// watching had to be given up; a folder that cannot be read is left out (the scan says so).
bool LibraryWatch::WatchTree(const std::string& folder) {
    if (inotify_ < 0) return false;
    std::vector<std::string> todo{folder};
    while (!todo.empty()) {
        const std::string current = std::move(todo.back());
        todo.pop_back();
        const fs::path path = library_ / current;
        const bool full =
            options_.maxWatches > 0 && static_cast<int>(watches_.size()) >= options_.maxWatches;
        const int wd = full ? -1 : ::inotify_add_watch(inotify_, path.c_str(), kEvents);
        if (wd < 0) {
            const int error = full ? ENOSPC : errno;
            if (error == ENOSPC) {
                GiveUp("the system's limit of inotify watches is reached at " +
                       Plural(static_cast<int>(watches_.size()), "folder", "folders") +
                       " (fs.inotify.max_user_watches = " +
                       SystemValue("/proc/sys/fs/inotify/max_user_watches") +
                       "); raise it (sysctl fs.inotify.max_user_watches=524288) and restart");
                return false;
            }
            if (current.empty()) {
                GiveUp(std::string("cannot watch the library folder: ") + std::strerror(error));
                return false;
            }
            continue;  // gone meanwhile, or unreadable (the scan logs it)
        }
        // A folder renamed away and back may bring its old descriptor: the path is the new one.
        if (const auto old = folders_.find(wd); old != folders_.end()) watches_.erase(old->second);
        folders_[wd] = current;
        watches_[current] = wd;
        DIR* dir = ::opendir(path.c_str());
        if (dir == nullptr) continue;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (IsHiddenName(name)) continue;
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat info {};
                isFolder = ::lstat((path / name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
            }
            if (isFolder) todo.push_back(ChildPath(current, name));
        }
        ::closedir(dir);
    }
    return true;
}

// Forgets the watches of a folder moved away or removed, and of the folders below it.
void LibraryWatch::DropTree(const std::string& folder) {
    EraseAtOrBelow(watches_, folder, [this](int wd) {
        ::inotify_rm_watch(inotify_, wd);
        folders_.erase(wd);
    });
}

void LibraryWatch::MarkReady(const std::string& path) {
    const Clock::time_point now = Clock::now();
    pending_[path] = Pending{};
    lastEvent_ = now;
    if (!anyReady_) firstReady_ = now;
    anyReady_ = true;
}

void LibraryWatch::MarkWriting(const std::string& path) {
    lastEvent_ = Clock::now();
    pending_[path] = Pending{true, lastEvent_ + kStalled, ModifiedOf(library_ / path)};
}

void LibraryWatch::Handle(int wd, uint32_t mask, const std::string& name) {
    if ((mask & IN_Q_OVERFLOW) != 0) {
        Rescan("changes came faster than they were read (the event queue overflowed)");
        return;
    }
    const auto found = folders_.find(wd);
    if (found == folders_.end()) return;
    const std::string folder = found->second;
    if ((mask & IN_IGNORED) != 0) {
        watches_.erase(folder);
        folders_.erase(found);
        return;
    }
    if (name.empty()) {
        if (folder.empty() && (mask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
            GiveUp("the library folder " + library_.string() +
                   " was moved or removed (its songs stay listed); restart to watch it again");
        }
        return;  // a folder's own events: its parent's name them
    }
    if (IsHiddenName(name)) return;
    const std::string path = ChildPath(folder, name);
    if ((mask & IN_ISDIR) != 0) {
        if ((mask & (IN_MOVED_FROM | IN_DELETE)) != 0) DropTree(path);
        // A folder that comes, or whose permissions change, is watched with all below it.
        if ((mask & (IN_CREATE | IN_MOVED_TO | IN_ATTRIB)) != 0 && !watches_.contains(path)) {
            WatchTree(path);
        }
        MarkReady(path);
        return;
    }
    if (!IsSongFileName(name)) return;
    if ((mask & IN_CREATE) != 0) {
        // A link is whole when made; a file is written after it is created.
        struct stat info {};
        const bool whole = ::lstat((library_ / path).c_str(), &info) == 0 &&
                           (S_ISLNK(info.st_mode) || info.st_nlink > 1);
        if (whole) {
            MarkReady(path);
        } else {
            MarkWriting(path);
        }
        return;
    }
    const auto known = pending_.find(path);
    if ((mask & IN_ATTRIB) != 0 && known != pending_.end() && known->second.writing) return;
    MarkReady(path);  // closed after writing, moved in or out, removed, or touched
}

void LibraryWatch::ReadEvents() {
    alignas(inotify_event) char buffer[64 * 1024];
    while (inotify_ >= 0) {
        const ssize_t got = ::read(inotify_, buffer, sizeof buffer);
        if (got <= 0) return;
        for (ssize_t at = 0; at < got && inotify_ >= 0;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            Handle(event->wd, event->mask,
                   event->len > 0 ? std::string(event->name) : std::string());
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

// A file being written whose modification time has not moved for kStalled is taken as it is.
bool LibraryWatch::StillWriting(const std::string& path, Pending& pending, Clock::time_point now) {
    if (!pending.writing) return false;
    if (now < pending.checkAt) return true;
    const int64_t modified = ModifiedOf(library_ / path);
    if (modified != pending.modified && modified >= 0) {
        pending.modified = modified;
        pending.checkAt = now + kStalled;
        return true;
    }
    pending.writing = false;
    return false;
}

void LibraryWatch::Note(const std::string& error) {
    if (error != lastError_) Log(error + " (tried again in a while)");
    lastError_ = error;
}

void LibraryWatch::ApplyBatch(Clock::time_point now) {
    std::vector<std::string> paths;
    for (auto& [path, pending] : pending_) {
        if (!StillWriting(path, pending, now)) paths.push_back(path);
    }
    anyReady_ = false;
    if (paths.empty()) return;
    const Clock::time_point start = Clock::now();
    std::string error;
    const std::optional<ScanReport> report = UpdatePaths(database_, library_, paths, error, scan_);
    if (stop_) return;
    if (!report) {
        Note(error);
        retryAt_ = Clock::now() + kRetry;
        anyReady_ = true;
        return;
    }
    lastError_.clear();
    for (const std::string& path : paths) pending_.erase(path);
    for (const std::string& path : report->writing) MarkWriting(path);
    LogSkipped(report->skipped, reportedSkips_);
    if (report->added + report->changed + report->moved + report->removed == 0) return;
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    Log("library changed: " + std::to_string(report->added) + " added, " +
        std::to_string(report->changed) + " changed, " + std::to_string(report->moved) +
        " moved, " + std::to_string(report->removed) + " removed (" + std::to_string(took) +
        " ms)");
}

void LibraryWatch::Rescan(const char* why) {
    if (why != nullptr) Log(std::string(why) + ": scanning the library again");
    rescanPending_ = true;
}

int LibraryWatch::WaitMilliseconds(Clock::time_point now) const {
    Clock::time_point until = nextRescan_;
    if (rescanPending_) until = now;
    if (anyReady_) {
        until = std::min(
            until, std::max(retryAt_, std::min(lastEvent_ + kQuiet, firstReady_ + kLongestWait)));
    }
    for (const auto& [path, pending] : pending_) {
        if (pending.writing) until = std::min(until, pending.checkAt);
    }
    if (until == Clock::time_point::max()) return -1;
    if (until <= now) return 0;
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1);
}

void LibraryWatch::Run() {
    while (!stop_) {
        pollfd fds[2] = {{wake_, POLLIN, 0}, {inotify_, POLLIN, 0}};
        const int ready = ::poll(fds, inotify_ >= 0 ? 2 : 1, WaitMilliseconds(Clock::now()));
        if (ready < 0 && errno != EINTR) return;
        if ((fds[0].revents & POLLIN) != 0) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t ignored = ::read(wake_, &count, sizeof count);
        }
        if (stop_) return;
        if (inotify_ >= 0 && (fds[1].revents & POLLIN) != 0) ReadEvents();
        if (rescanAsked_.exchange(false)) Rescan("SIGHUP");
        Clock::time_point now = Clock::now();
        if (now >= nextRescan_) {
            rescanPending_ = true;
            nextRescan_ = now + std::chrono::seconds(options_.rescanSeconds);
        }
        if (rescanPending_) {
            rescanPending_ = false;
            // Everything pending is looked at with the rest, but for files still being written.
            std::string error;
            const std::optional<ScanReport> report = UpdateIndex(database_, library_, error, scan_);
            if (stop_) return;
            if (!report) {
                Note(error);
                continue;
            }
            lastError_.clear();
            std::erase_if(pending_, [](const auto& entry) { return !entry.second.writing; });
            anyReady_ = false;
            for (const std::string& path : report->writing) MarkWriting(path);
            // What can be read again is said again should it become unreadable once more.
            std::set<std::string> stillSkipped;
            for (const Skipped& item : report->skipped) {
                if (reportedSkips_.contains(item.path)) stillSkipped.insert(item.path);
            }
            reportedSkips_ = std::move(stillSkipped);
            LogSkipped(report->skipped, reportedSkips_);
            if (report->added + report->changed + report->moved + report->removed == 0) continue;
            Log("library scanned: " + std::to_string(report->added) + " added, " +
                std::to_string(report->changed) + " changed, " + std::to_string(report->moved) +
                " moved, " + std::to_string(report->removed) + " removed, " +
                std::to_string(report->unchanged) + " unchanged");
            continue;
        }
        const bool writingDue = std::any_of(pending_.begin(), pending_.end(), [now](const auto& e) {
            return e.second.writing && now >= e.second.checkAt;
        });
        if ((anyReady_ && now >= retryAt_ &&
             (now >= lastEvent_ + kQuiet || now >= firstReady_ + kLongestWait)) ||
            writingDue) {
            ApplyBatch(now);
        }
    }
}

}  // namespace tessel::catalogue
