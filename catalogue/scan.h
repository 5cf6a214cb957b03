// Bringing the index up to date with the audio files under the library folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "database.h"

namespace tessel::catalogue {

struct ScanReport {
    int added = 0;
    int changed = 0;
    int removed = 0;
    int unchanged = 0;
};

// Indexes new MP3 files under `library`, re-reads the tags of changed ones (other size or
// modification time) and forgets removed ones, all in one transaction. Every folder holding songs
// is a collection. Hidden files and folders (names starting with '.') are skipped.
std::optional<ScanReport> UpdateIndex(Database& database, const std::filesystem::path& library,
                                      std::string& error);

// What the tags of one file say, with the fallbacks for what they leave out.
SongRecord ReadSong(const std::filesystem::path& library, const std::string& relativePath);

}  // namespace tessel::catalogue
