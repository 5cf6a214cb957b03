// Bringing the index up to date with the audio files under the library folder.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database.h"
#include "legacy_text.h"

namespace tessel::catalogue {

// A file or folder left out because it cannot be read; the songs the index holds there are kept.
struct Skipped {
    std::string path;  // relative to the library
    std::string reason;
};

struct ScanReport {
    int added = 0;
    int changed = 0;
    int moved = 0;  // new paths of songs the index held under another name (ids kept)
    int removed = 0;
    int unchanged = 0;
    std::vector<Skipped> skipped;
    // Files left for now, as they are still being written (their songs, if any, kept as they were).
    std::vector<std::string> writing;
};

// A file open for writing is left out until its writer closes it, or has written nothing to it
// for this long.
inline constexpr std::chrono::seconds kQuietWrite{5};

struct ScanOptions {
    // How tag texts marked ISO-8859-1 and names that are not UTF-8 are read (see legacy_text.h).
    LegacyEncoding legacyEncoding = LegacyEncoding::kAuto;
    // Once this is true a scan ends where it is and writes nothing (the service is stopping).
    const std::atomic<bool>* stop = nullptr;
};

// Names and paths as the scan takes them (paths relative to the library, '/'-separated, "" the
// library itself); the library watch follows the same.
bool IsSongFileName(std::string_view name);  // ends in ".mp3", in any case
bool IsHiddenName(std::string_view name);    // starts with '.': left out, with all below it
bool AtOrBelow(const std::string& path, const std::string& folder);
std::string ChildPath(const std::string& folder, std::string_view name);
// Erases the entries of `byPath` (a sorted map keyed by path) at or below `folder`, handing each
// to `visit` first; returns how many. ("a b" sorts between "a" and "a/", so it walks on past.)
template <typename Map, typename Visit>
size_t EraseAtOrBelow(Map& byPath, const std::string& folder, Visit visit) {
    size_t erased = 0;
    for (auto it = byPath.lower_bound(folder);
         it != byPath.end() && it->first.starts_with(folder);) {
        if (!AtOrBelow(it->first, folder)) {
            ++it;
            continue;
        }
        visit(it->second);
        it = byPath.erase(it);
        ++erased;
    }
    return erased;
}

// Indexes new MP3 files under `library`, re-reads the tags of changed ones (other size or
// modification time) and forgets removed ones, all in one transaction; files still being written
// are left for later. A new file of the same
// size, modification time and tags as a song that is gone is that song moved: it keeps its id.
// Every folder holding songs is a collection. Hidden files and folders (names starting with '.')
// are skipped; so are files and folders that cannot be read, whose songs are kept. When the index
// was made with other `options`, every file is read again (its id kept).
std::optional<ScanReport> UpdateIndex(Database& database, const std::filesystem::path& library,
                                      std::string& error, const ScanOptions& options = {});

// The same for part of the library: `paths` (relative, '/'-separated) name files or folders that
// changed, were added or are gone; what is at or below each now is compared with what the index
// holds there, in one transaction, which is not written when nothing changed. "" is the whole
// library.
std::optional<ScanReport> UpdatePaths(Database& database, const std::filesystem::path& library,
                                      std::vector<std::string> paths, std::string& error,
                                      const ScanOptions& options = {});

}  // namespace tessel::catalogue
