// Bringing the index up to date with the audio files under the library folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "database.h"
#include "legacy_text.h"

namespace tessel::catalogue {

struct ScanReport {
    int added = 0;
    int changed = 0;
    int removed = 0;
    int unchanged = 0;
};

struct ScanOptions {
    // How tag texts marked ISO-8859-1 and names that are not UTF-8 are read (see legacy_text.h).
    LegacyEncoding legacyEncoding = LegacyEncoding::kAuto;
};

// Indexes new MP3 files under `library`, re-reads the tags of changed ones (other size or
// modification time) and forgets removed ones, all in one transaction. Every folder holding songs
// is a collection. Hidden files and folders (names starting with '.') are skipped. When the index
// was made with other `options`, every file is read again (its id kept).
std::optional<ScanReport> UpdateIndex(Database& database, const std::filesystem::path& library,
                                      std::string& error, const ScanOptions& options = {});

}  // namespace tessel::catalogue
