// Bringing the index's songs in line with what a walk found of the same part of the library.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "database.h"
#include "folder_walk.h"
#include "scan.h"

namespace tessel::catalogue {

using IndexedByPath = std::map<std::string, IndexedFile>;

IndexedByPath ByPath(std::vector<IndexedFile> files);

// Takes the songs in what cannot be read out of `indexed`, so they stay as they are.
size_t KeepSkipped(IndexedByPath& indexed, const std::vector<Skipped>& skipped);

// True when the index's texts were read with another decoding than `options` asks for.
bool DecodingChanged(Database& database, const ScanOptions& options);

// Brings the index's songs `indexed` in line with the files of `walk` (see Reconcile in
// reconcile.cpp) and writes that in one transaction, with the decoding when `setDecoding`; a
// part that changed nothing is not committed, so readers keep what they hold. `readAll` reads
// every file again. False, the reason in `error`, when the index could not be written.
bool ApplyInTransaction(Database& database, const std::filesystem::path& library, const Walk& walk,
                        IndexedByPath indexed, bool readAll, const ScanOptions& options,
                        bool setDecoding, ScanReport& report, std::string& error);

}  // namespace tessel::catalogue
