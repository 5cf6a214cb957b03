// The part file on POSIX systems. Names are taken as bytes with Windows backslashes as slashes,
// as the native stand-ins of the runtime take them.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "tessel/ferry/platform_seams.h"
#include "tessel/platform/standins.h"

namespace tessel::ferry {

namespace {

class PosixPartFile final : public PartFile {
  public:
    PosixPartFile(int fd, std::string temp, std::string target)
        : fd_(fd), temp_(std::move(temp)), target_(std::move(target)) {}
    ~PosixPartFile() override {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlink(temp_.c_str());
    }

    bool Write(const char* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n <= 0) return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    bool Restart() override { return ::ftruncate(fd_, 0) == 0 && ::lseek(fd_, 0, SEEK_SET) == 0; }

    bool Commit() override {
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        committed_ = closed && std::rename(temp_.c_str(), target_.c_str()) == 0;
        return committed_;
    }

  private:
    int fd_;
    std::string temp_;
    std::string target_;
    bool committed_ = false;
};

}  // namespace

std::unique_ptr<PartFile> CreatePartFile(const std::string& target) {
    const std::string path = posix::NativePath(target);
    const std::size_t slash = path.rfind('/');
    std::string temp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
                       ".~ferry-XXXXXX.part";
    const int fd = ::mkstemps(temp.data(), 5);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixPartFile>(fd, std::move(temp), path);
}

}  // namespace tessel::ferry
