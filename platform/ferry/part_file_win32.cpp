// The part file on Windows: a short unique name in the target's folder, written with WriteFile
// and moved over the target with MoveFileExW. Paths are converted from GBK with code page 936.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "tessel/ferry/platform_seams.h"
#include "tessel/platform/gbk_win32.h"

namespace tessel::ferry {

namespace {

std::atomic<unsigned> g_nextPart{0};

class Win32PartFile final : public PartFile {
  public:
    Win32PartFile(HANDLE file, std::wstring temp, std::wstring target)
        : file_(file), temp_(std::move(temp)), target_(std::move(target)) {}
    ~Win32PartFile() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        if (!committed_) DeleteFileW(temp_.c_str());
    }

    bool Write(const char* data, std::size_t size) override {
        while (size > 0) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            if (!WriteFile(file_, data, chunk, &written, nullptr) || written == 0) return false;
            data += written;
            size -= written;
        }
        return true;
    }

    bool Restart() override {
        return SetFilePointer(file_, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file_);
    }

    bool Commit() override {
        const bool closed = CloseHandle(file_) != FALSE;
        file_ = INVALID_HANDLE_VALUE;
        committed_ = closed && MoveFileExW(temp_.c_str(), target_.c_str(),
                                           MOVEFILE_REPLACE_EXISTING) != FALSE;
        return committed_;
    }

  private:
    HANDLE file_;
    std::wstring temp_;
    std::wstring target_;
    bool committed_ = false;
};

}  // namespace

std::unique_ptr<PartFile> CreatePartFile(const std::string& target) {
    const std::wstring path = platform::WideFromGbk(target);
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder =
        slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring temp = folder + L"~ferry" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(g_nextPart++) + L".part";
        HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return std::make_unique<Win32PartFile>(file, temp, path);
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return nullptr;
    }
    return nullptr;
}

}  // namespace tessel::ferry
