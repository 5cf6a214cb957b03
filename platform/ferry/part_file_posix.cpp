// The part file on POSIX systems: ".~ferry-<process id>-XXXXXX.part" beside the target. Names
// are taken as bytes with Windows backslashes as slashes, as the native stand-ins of the runtime
// take them.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string_view>

#include "part_file_owner.h"
#include "tessel/ferry/platform_seams.h"
#include "tessel/posix/standins.h"

namespace tessel::ferry {

namespace {

constexpr std::string_view kPrefix = ".~ferry-";
constexpr std::string_view kSuffix = ".part";

// The permissions a new file gets under this process's umask. The umask can only be read by
// setting it, so the kernel's own report is asked first.
mode_t NewFileMode() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Umask:", 0) == 0) {
            return 0666 & ~static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
        }
    }
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

class PosixPartFile final : public PartFile {
  public:
    PosixPartFile(int fd, std::string temp, std::string target)
        : fd_(fd), temp_(std::move(temp)), target_(std::move(target)) {}
    ~PosixPartFile() override { Discard(); }

    bool Write(const char* data, std::size_t size) override {
        std::lock_guard lock(mutex_);
        while (size > 0) {
            if (fd_ < 0) return false;
            const ssize_t n = ::write(fd_, data, size);
            if (n <= 0) return false;
            data += n;
            size -= static_cast<std::size_t>(n);
            written_ += static_cast<std::uint64_t>(n);
        }
        if (written_ - writtenBack_ >= kWriteBackStep) {
            // Starts the write-back and returns at once.
            ::sync_file_range(fd_, static_cast<off_t>(writtenBack_),
                              static_cast<off_t>(written_ - writtenBack_), SYNC_FILE_RANGE_WRITE);
            writtenBack_ = written_;
        }
        return true;
    }

    bool Restart() override {
        std::lock_guard lock(mutex_);
        written_ = writtenBack_ = 0;
        return fd_ >= 0 && ::ftruncate(fd_, 0) == 0 && ::lseek(fd_, 0, SEEK_SET) == 0;
    }

    bool Commit() override {
        std::lock_guard lock(mutex_);
        if (fd_ < 0) return false;
        // On the disk before it takes the target's name, so a completed file survives a crash.
        const bool written = ::fchmod(fd_, NewFileMode()) == 0 && ::fsync(fd_) == 0;
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        committed_ = written && closed && std::rename(temp_.c_str(), target_.c_str()) == 0;
        if (!committed_) ::unlink(temp_.c_str());
        return committed_;
    }

    void Discard() override {
        std::lock_guard lock(mutex_);
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (!committed_) ::unlink(temp_.c_str());
        committed_ = true;  // nothing of it is left to delete
    }

  private:
    std::mutex mutex_;
    int fd_;
    std::string temp_;
    std::string target_;
    std::uint64_t written_ = 0;
    std::uint64_t writtenBack_ = 0;  // where the last write-back that was started ended
    bool committed_ = false;
};

std::string NativeFolder(const std::string& target) {
    const std::string path = posix::NativePath(target);
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool Running(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

std::unique_ptr<PartFile> CreatePartFile(const std::string& target) {
    const std::string path = posix::NativePath(target);
    std::string temp = NativeFolder(target) + std::string(kPrefix) + std::to_string(::getpid()) +
                       "-XXXXXX" + std::string(kSuffix);
    const int fd = ::mkstemps(temp.data(), static_cast<int>(kSuffix.size()));
    if (fd < 0) return nullptr;
    return std::make_unique<PosixPartFile>(fd, std::move(temp), path);
}

void SweepPartFiles(const std::string& target) {
    const std::string folder = NativeFolder(target);
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const auto owner =
            static_cast<pid_t>(PartFileOwner(std::string_view(entry->d_name), kPrefix, kSuffix));
        if (owner > 0 && owner != ::getpid() && !Running(owner)) {
            ::unlink((folder + entry->d_name).c_str());
        }
    }
    ::closedir(dir);
}

}  // namespace tessel::ferry
