#include "folder_walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tessel::catalogue {
namespace {

namespace fs = std::filesystem;

// Adds the file at `relative` when it is an MP3 file (a link to one counts, as its target).
void TakeFile(const fs::path& library, const std::string& relative, Walk& walk) {
    if (!IsSongFileName(relative)) return;
    struct stat info {};
    if (::stat((library / relative).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
    walk.files.push_back(FoundFile{
        relative, info.st_size,
        static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec});
}

}  // namespace

void WalkFolder(const fs::path& library, const std::string& relative, Walk& walk,
                const ScanOptions& options) {
    if (Stopping(options)) return;  // what was walked is not written
    const fs::path folder = library / relative;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        walk.skipped.push_back(Skipped{relative, std::strerror(errno)});
        return;
    }
    std::vector<std::string> folders;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (IsHiddenName(name)) continue;  // ".", ".." and hidden names
        const std::string child = ChildPath(relative, name);
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (::lstat((library / child).c_str(), &info) != 0) continue;
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISLNK(info.st_mode) ? DT_LNK : DT_REG;
        }
        if (type == DT_DIR) {
            folders.push_back(child);
        } else if (type == DT_REG || type == DT_LNK) {
            TakeFile(library, child, walk);
        }
    }
    ::closedir(dir);
    for (const std::string& child : folders) WalkFolder(library, child, walk, options);
}

void WalkPath(const fs::path& library, const std::string& relative, Walk& walk,
              const ScanOptions& options) {
    if (relative.empty()) return WalkFolder(library, relative, walk, options);
    for (const fs::path& name : fs::path(relative)) {
        if (IsHiddenName(name.string())) return;
    }
    struct stat info {};
    if (::lstat((library / relative).c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) return WalkFolder(library, relative, walk, options);
    TakeFile(library, relative, walk);
}

void SortByPath(Walk& walk) {
    std::sort(walk.files.begin(), walk.files.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.path < b.path; });
}

bool IsSongFileName(std::string_view name) {
    if (name.size() < 4) return false;
    std::string extension(name.substr(name.size() - 4));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".mp3";
}

bool IsHiddenName(std::string_view name) {
    return name.starts_with('.');
}

bool AtOrBelow(const std::string& path, const std::string& folder) {
    return folder.empty() || path == folder ||
           (path.size() > folder.size() && path[folder.size()] == '/' && path.starts_with(folder));
}

std::string ChildPath(const std::string& folder, std::string_view name) {
    return folder.empty() ? std::string(name) : folder + '/' + std::string(name);
}

}  // namespace tessel::catalogue
