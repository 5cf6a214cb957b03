// The walk over the library's folders that finds its song files as they are on disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "scan.h"

namespace tessel::catalogue {

// A song file as the walk finds it.
struct FoundFile {
    std::string path;  // relative to the library
    int64_t size = 0;
    int64_t modified = 0;  // nanoseconds since the epoch
};

// A part of the library as it is on disk: its song files by path, and what could not be read.
struct Walk {
    std::vector<FoundFile> files;
    std::vector<Skipped> skipped;
};

inline bool Stopping(const ScanOptions& options) {
    return options.stop != nullptr && options.stop->load();
}

// Walks the folder at `relative` ("" for the library) and every folder below it but hidden ones
// and links to folders; a folder that cannot be read is noted and left out.
void WalkFolder(const std::filesystem::path& library, const std::string& relative, Walk& walk,
                const ScanOptions& options);
// What is at `relative` now: a folder walked, a song file, or nothing.
void WalkPath(const std::filesystem::path& library, const std::string& relative, Walk& walk,
              const ScanOptions& options);
// Puts the files found in path order, the order the index is compared in.
void SortByPath(Walk& walk);

}  // namespace tessel::catalogue
