// The scan: the whole library or the paths that changed, walked and reconciled with the index.
#include "scan.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "folder_walk.h"
#include "reconcile.h"

namespace tessel::catalogue {
namespace {

namespace fs = std::filesystem;

bool LibraryIsFolder(const fs::path& library, std::string& error) {
    std::error_code ec;
    if (fs::is_directory(library, ec)) return true;
    error = "the library " + library.string() + " is not a folder";
    return false;
}

}  // namespace

std::optional<ScanReport> UpdateIndex(Database& database, const fs::path& library,
                                      std::string& error, const ScanOptions& options) {
    if (!LibraryIsFolder(library, error)) return std::nullopt;
    Walk walk;
    WalkFolder(library, "", walk, options);
    if (!walk.skipped.empty() && walk.skipped.front().path.empty()) {
        error = "cannot read the library " + library.string() + ": " + walk.skipped.front().reason;
        return std::nullopt;
    }
    SortByPath(walk);
    IndexedByPath indexed = ByPath(database.IndexedFiles());
    // Texts read with another decoding are read again.
    const bool decodingChanged = DecodingChanged(database, options);
    // An index that is up to date is not written at all, so a read-only one serves. Songs in
    // folders that cannot be read are kept as they are.
    const size_t kept = KeepSkipped(indexed, walk.skipped);
    const bool upToDate =
        !decodingChanged && walk.files.size() == indexed.size() &&
        std::all_of(walk.files.begin(), walk.files.end(), [&indexed](const FoundFile& file) {
            const auto known = indexed.find(file.path);
            return known != indexed.end() && known->second.size == file.size &&
                   known->second.modified == file.modified;
        });
    ScanReport report;
    report.unchanged = static_cast<int>(kept);
    if (upToDate) {
        report.unchanged += static_cast<int>(walk.files.size());
        report.skipped = std::move(walk.skipped);
        return report;
    }
    if (database.ReadOnly()) {
        error = "the index " + database.File() + " cannot be written and the library has changed";
        return std::nullopt;
    }
    if (!ApplyInTransaction(database, library, walk, std::move(indexed), decodingChanged, options,
                            true, report, error)) {
        return std::nullopt;
    }
    // Merging the gram index rewrites it whole: worth it after many changes (a first scan, say),
    // not for the few a rescan finds, which the index merges in as it goes.
    const int changes = report.added + report.changed + report.moved + report.removed;
    if (changes > 0 && changes >= std::min(1000, report.unchanged) && !database.Optimize()) {
        error = "cannot tidy the index: " + database.LastError();
        return std::nullopt;
    }
    return report;
}

std::optional<ScanReport> UpdatePaths(Database& database, const fs::path& library,
                                      std::vector<std::string> paths, std::string& error,
                                      const ScanOptions& options) {
    if (!LibraryIsFolder(library, error)) return std::nullopt;
    if (DecodingChanged(database, options) ||
        std::find(paths.begin(), paths.end(), std::string()) != paths.end()) {
        return UpdateIndex(database, library, error, options);
    }
    // A path inside another of the paths is looked at with it.
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    std::vector<std::string> parts;
    for (std::string& path : paths) {
        if (parts.empty() || !AtOrBelow(path, parts.back())) parts.push_back(std::move(path));
    }
    Walk walk;
    IndexedByPath indexed;
    for (const std::string& part : parts) {
        WalkPath(library, part, walk, options);
        for (IndexedFile& file : database.IndexedFilesUnder(part)) {
            indexed.emplace(file.path, std::move(file));
        }
    }
    SortByPath(walk);
    if (database.ReadOnly()) {
        error = "the index " + database.File() + " cannot be written";
        return std::nullopt;
    }
    ScanReport report;
    if (!ApplyInTransaction(database, library, walk, std::move(indexed), false, options, false,
                            report, error)) {
        return std::nullopt;
    }
    return report;
}

}  // namespace tessel::catalogue
