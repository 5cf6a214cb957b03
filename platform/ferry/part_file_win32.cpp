// The part file on Windows: "~ferry<process id>-<n>.part" in the target's folder, written with
// WriteFile and moved over the target with MoveFileExW. Paths are converted from GBK with code
// page 936; one that the part file's name makes too long for the plain form is given in the
// extended-length form ("\\?\").
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "part_file_owner.h"
#include "tessel/ferry/platform_seams.h"
#include "tessel/win32_shared/gbk_win32.h"

namespace tessel::ferry {

namespace {

constexpr std::wstring_view kPrefix = L"~ferry";
constexpr std::wstring_view kSuffix = L".part";

std::atomic<unsigned> g_nextPart{0};

std::wstring UsablePath(const std::wstring& path) {
    if (path.size() < MAX_PATH) return path;
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    full.resize(GetFullPathNameW(path.c_str(), size, full.data(), nullptr));
    if (full.rfind(L"\\\\?\\", 0) == 0) return full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

class Win32PartFile final : public PartFile {
  public:
    Win32PartFile(HANDLE file, std::wstring temp, std::wstring target)
        : file_(file), temp_(std::move(temp)), target_(std::move(target)) {}
    ~Win32PartFile() override { Discard(); }
    Win32PartFile(const Win32PartFile&) = delete;
    Win32PartFile& operator=(const Win32PartFile&) = delete;

    bool Write(const char* data, std::size_t size) override {
        std::lock_guard lock(mutex_);
        while (size > 0) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            if (file_ == INVALID_HANDLE_VALUE ||
                !WriteFile(file_, data, chunk, &written, nullptr) || written == 0) {
                return false;
            }
            data += written;
            size -= written;
            unflushed_ += written;
        }
        if (unflushed_ >= kWriteBackStep) {
            unflushed_ = 0;
            WantFlush();
        }
        return true;
    }

    bool Restart() override {
        std::lock_guard lock(mutex_);
        return file_ != INVALID_HANDLE_VALUE &&
               SetFilePointer(file_, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file_);
    }

    bool Commit() override {
        std::lock_guard lock(mutex_);
        if (file_ == INVALID_HANDLE_VALUE) return false;
        StopFlusher();
        // On the disk before it takes the target's name, so a completed file survives a crash.
        const bool flushed = FlushFileBuffers(file_) != FALSE;
        const bool closed = CloseHandle(file_) != FALSE;
        file_ = INVALID_HANDLE_VALUE;
        // A target that another program holds open cannot be replaced: the transfer fails and
        // its bytes go, so nothing stands in the way of the next try.
        committed_ = flushed && closed &&
                     MoveFileExW(temp_.c_str(), target_.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        if (!committed_) DeleteFileW(temp_.c_str());
        return committed_;
    }

    void Discard() override {
        std::lock_guard lock(mutex_);
        StopFlusher();
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        if (!committed_) DeleteFileW(temp_.c_str());
        committed_ = true;  // nothing of it is left to delete
    }

  private:
    // There is no asynchronous flush: a thread of its own flushes what was written so far while
    // the writes go on (the handle may be used by two threads at once). Called under mutex_.
    void WantFlush() {
        {
            std::lock_guard lock(flushMutex_);
            flushWanted_ = true;
        }
        flushChanged_.notify_all();
        if (flusher_.joinable()) return;
        try {
            flusher_ = std::thread([this] {
                std::unique_lock lock(flushMutex_);
                for (;;) {
                    flushChanged_.wait(lock, [this] { return flushWanted_ || stopFlusher_; });
                    if (stopFlusher_) return;
                    flushWanted_ = false;
                    lock.unlock();
                    FlushFileBuffers(file_);
                    lock.lock();
                }
            });
        } catch (const std::system_error&) {
            // The flush before the rename does it all.
        }
    }

    // Called under mutex_, before the handle closes.
    void StopFlusher() {
        if (!flusher_.joinable()) return;
        {
            std::lock_guard lock(flushMutex_);
            stopFlusher_ = true;
        }
        flushChanged_.notify_all();
        flusher_.join();
    }

    std::mutex mutex_;
    HANDLE file_;
    std::wstring temp_;
    std::wstring target_;
    std::uint64_t unflushed_ = 0;
    bool committed_ = false;
    std::mutex flushMutex_;
    std::condition_variable flushChanged_;
    bool flushWanted_ = false;
    bool stopFlusher_ = false;
    std::thread flusher_;
};

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool Running(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

}  // namespace

std::unique_ptr<PartFile> CreatePartFile(const std::string& target) {
    const std::wstring path = platform::WideFromGbk(target);
    const std::wstring folder = FolderOf(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring temp =
            UsablePath(folder + std::wstring(kPrefix) + std::to_wstring(GetCurrentProcessId()) +
                       L"-" + std::to_wstring(g_nextPart++) + std::wstring(kSuffix));
        HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return std::make_unique<Win32PartFile>(file, temp, UsablePath(path));
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return nullptr;
    }
    return nullptr;
}

void SweepPartFiles(const std::string& target) {
    const std::wstring folder = FolderOf(platform::WideFromGbk(target));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(UsablePath(folder + L"~ferry*.part").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const DWORD owner = PartFileOwner(std::wstring_view(found.cFileName), kPrefix, kSuffix);
        if (owner != 0 && owner != GetCurrentProcessId() && !Running(owner)) {
            DeleteFileW(UsablePath(folder + found.cFileName).c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace tessel::ferry
