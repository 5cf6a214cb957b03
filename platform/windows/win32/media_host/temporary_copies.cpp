#include "temporary_copies.h"

#include <cwchar>
#include <mutex>
#include <set>
#include <vector>

namespace tessel::player {
namespace {

constexpr wchar_t kPrefix[] = L"tessel-play-";

// Written by download workers, read by the window thread.
std::mutex g_mutex;
std::set<std::wstring> g_copies;

std::wstring TemporaryFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return {};
    return folder;
}

bool DeleteFileIfThere(const std::wstring& path) {
    return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
           GetLastError() == ERROR_PATH_NOT_FOUND;
}

// The process id in "tessel-play-<id>-...", or 0 when the name does not follow the pattern.
unsigned long ProcessOfCopy(const wchar_t* name) {
    const std::size_t prefix = std::wcslen(kPrefix);
    if (std::wcsncmp(name, kPrefix, prefix) != 0) return 0;
    unsigned long id = 0;
    const wchar_t* p = name + prefix;
    if (*p < L'0' || *p > L'9') return 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) id = id * 10 + static_cast<unsigned long>(*p - L'0');
    return *p == L'-' ? id : 0;
}

bool ProcessIsRunning(unsigned long id) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // someone else's
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

// Calls `each` with the name of every copy in the temporary folder.
template <typename Each>
void ForEachCopyName(const std::wstring& folder, Each each) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + kPrefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) each(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

HANDLE CreateCopyFile(unsigned jobId, const std::wstring& extension, std::wstring* path) {
    const std::wstring folder = TemporaryFolder();
    if (folder.empty()) return INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        *path = folder + kPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(jobId) + L"-" + std::to_wstring(GetTickCount() + attempt) +
                extension;
        HANDLE file = CreateFileW(path->c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_copies.insert(*path);
            return file;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    path->clear();
    return INVALID_HANDLE_VALUE;
}

bool DeleteCopy(const std::wstring& path) {
    if (!DeleteFileIfThere(path)) return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_copies.erase(path);
    return true;
}

void DeleteAllCopies() {
    std::vector<std::wstring> copies;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        copies.assign(g_copies.begin(), g_copies.end());
    }
    for (const std::wstring& copy : copies) DeleteCopy(copy);
}

void SweepAbandonedCopies() {
    const std::wstring folder = TemporaryFolder();
    if (folder.empty()) return;
    std::vector<std::wstring> abandoned;
    ForEachCopyName(folder, [&](const wchar_t* name) {
        const unsigned long process = ProcessOfCopy(name);
        if (process != 0 && process != GetCurrentProcessId() && !ProcessIsRunning(process))
            abandoned.push_back(folder + name);
    });
    for (const std::wstring& copy : abandoned) DeleteFileIfThere(copy);
}

int CountCopiesOfProcess(unsigned long processId) {
    int count = 0;
    ForEachCopyName(TemporaryFolder(), [&](const wchar_t* name) {
        if (ProcessOfCopy(name) == processId) ++count;
    });
    return count;
}

}  // namespace tessel::player
