// Reading what a song file's tags say, with the fallbacks for what they leave out.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "database.h"
#include "folder_walk.h"
#include "legacy_text.h"
#include "scan.h"

namespace tessel::catalogue {

// What the tags of one file say, with the fallbacks for what they leave out; nothing when the
// file cannot be opened (the reason in `why`). The text handlers it gives TagLib for the duration
// are process-wide, so it stays private to the one writing thread.
std::optional<SongRecord> ReadSong(const std::filesystem::path& library, const FoundFile& found,
                                   const ScanOptions& options, std::string& why);

// The title of a song whose tags give none.
std::string NameTitle(const std::string& relativePath, LegacyEncoding encoding);

}  // namespace tessel::catalogue
