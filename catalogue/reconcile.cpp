#include "reconcile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
#include <utility>

#include "song_tags.h"

namespace tessel::catalogue {
namespace {

namespace fs = std::filesystem;

// How the index's texts were decoded, kept with it.
constexpr const char* kLegacyEncodingSetting = "legacy_encoding";

// True when `song`, read from a file that is new to the index, is the indexed song `old` under
// another name: the same tags (a title taken from each file's name counts as the same).
bool SameTags(const SongRecord& song, const SongRecord& old, LegacyEncoding encoding) {
    const bool sameTitle =
        song.title == old.title || (song.title == NameTitle(song.path, encoding) &&
                                    old.title == NameTitle(old.path, encoding));
    return sameTitle && song.artist == old.artist && song.album == old.album &&
           song.duration == old.duration;
}

// True when a process has `file` open for writing and has written to it in the last
// kQuietWrite: a read lease is granted only while no one has the file open for writing. The
// lease is let go at once; were it broken meanwhile, the signal saying so is SIGURG, which is
// ignored unless asked for. Where leases cannot be taken (a file of another user, a network
// file system) a file counts as written whole.
bool BeingWritten(const fs::path& file, int64_t modified) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    if (std::chrono::nanoseconds(modified) <= now - kQuietWrite) return false;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    ::fcntl(fd, F_SETSIG, SIGURG);
    const bool written = ::fcntl(fd, F_SETLEASE, F_RDLCK) != 0 && errno == EAGAIN;
    ::close(fd);  // lets the lease go
    return written;
}

// Reads the walked files that are new to the index or changed (all of them when `readAll`):
// changed ones are read again keeping their ids, new ones go to `fresh`; files still being
// written and files that cannot be read are left as they are. What is left of `indexed` is gone
// from where it was. False when the index could not be written or the scan is stopping.
bool ReadChangedFiles(Database& database, const fs::path& library, const Walk& walk,
                      IndexedByPath& indexed, bool readAll, const ScanOptions& options,
                      ScanReport& report, std::vector<SongRecord>& fresh) {
    for (const FoundFile& file : walk.files) {
        if (Stopping(options)) return false;
        auto known = indexed.find(file.path);
        if (known != indexed.end() && !readAll && known->second.size == file.size &&
            known->second.modified == file.modified) {
            ++report.unchanged;
            indexed.erase(known);
            continue;
        }
        if (BeingWritten(library / file.path, file.modified)) {
            report.writing.push_back(file.path);
            if (known != indexed.end()) indexed.erase(known);
            continue;
        }
        std::string why;
        std::optional<SongRecord> song = ReadSong(library, file, options, why);
        if (!song) {
            report.skipped.push_back(Skipped{file.path, why});
            if (known != indexed.end()) indexed.erase(known);
            continue;
        }
        if (known == indexed.end()) {
            fresh.push_back(std::move(*song));
            continue;
        }
        if (!database.UpdateSong(known->second.id, *song)) return false;
        ++report.changed;
        indexed.erase(known);
    }
    return true;
}

// Where the fresh files go: a fresh file that is a gone song moved keeps its id, and so does
// the collection of a folder all of whose songs moved to a folder new to the index.
struct FreshFiles {
    std::vector<std::pair<int64_t, const SongRecord*>> moves;
    std::vector<const SongRecord*> additions;
    std::map<std::pair<std::string, std::string>, int64_t> folderMoves;  // songs from, to
};

// Tells the fresh files that are gone songs moved (same size, time and tags) from new ones; the
// moved songs are taken out of `indexed`, which is left with the songs that are gone.
FreshFiles SortFresh(Database& database, const std::vector<SongRecord>& fresh,
                     IndexedByPath& indexed, LegacyEncoding encoding) {
    FreshFiles sorted;
    std::multimap<std::pair<int64_t, int64_t>, int64_t> gone;  // (size, time) to id
    for (const auto& [path, file] : indexed)
        gone.emplace(std::pair{file.size, file.modified}, file.id);
    for (const SongRecord& song : fresh) {
        std::optional<int64_t> movedId;
        const auto [first, last] = gone.equal_range({song.size, song.modified});
        for (auto it = first; it != last; ++it) {
            const std::optional<SongRecord> old = database.IndexedSong(it->second);
            if (!old || !SameTags(song, *old, encoding)) continue;
            movedId = it->second;
            indexed.erase(old->path);
            gone.erase(it);
            const std::string from = fs::path(old->path).parent_path().generic_string();
            if (from != song.folder) ++sorted.folderMoves[{from, song.folder}];
            break;
        }
        if (movedId) {
            sorted.moves.emplace_back(*movedId, &song);
        } else {
            sorted.additions.push_back(&song);
        }
    }
    return sorted;
}

// Writes the moves and additions of `fresh` and removes the songs `gone`.
bool WriteFreshAndGone(Database& database, const FreshFiles& fresh, const IndexedByPath& gone,
                       ScanReport& report) {
    // A folder whose songs all went to a folder new to the index was renamed or moved: its
    // collection goes with them, keeping its id.
    for (const auto& [folders, songs] : fresh.folderMoves) {
        if (!database.MoveCollection(folders.first, folders.second, songs)) return false;
    }
    for (const auto& [id, song] : fresh.moves) {
        if (!database.MoveSong(id, song->path) || !database.UpdateSong(id, *song)) return false;
        ++report.moved;
    }
    for (const SongRecord* song : fresh.additions) {
        if (!database.AddSong(*song)) return false;
        ++report.added;
    }
    for (const auto& [path, file] : gone) {
        if (!database.RemoveSong(file.id)) return false;
        ++report.removed;
    }
    return true;
}

// Brings the index's songs `indexed` in line with the files of `walk`, the same part of the
// library: unchanged files are left alone, changed ones read again keeping their ids, new ones
// added unless they are a gone song moved (same size, time and tags: it keeps its id), and the
// rest removed. Songs in a folder or file that cannot be read are kept as they are. False when
// the index could not be written.
bool Reconcile(Database& database, const fs::path& library, const Walk& walk, IndexedByPath indexed,
               bool readAll, const ScanOptions& options, ScanReport& report) {
    report.unchanged += static_cast<int>(KeepSkipped(indexed, walk.skipped));
    report.skipped.insert(report.skipped.end(), walk.skipped.begin(), walk.skipped.end());
    std::vector<SongRecord> fresh;
    if (!ReadChangedFiles(database, library, walk, indexed, readAll, options, report, fresh)) {
        return false;
    }
    const FreshFiles sorted = SortFresh(database, fresh, indexed, options.legacyEncoding);
    return WriteFreshAndGone(database, sorted, indexed, report);
}

bool Writes(const ScanReport& report) {
    return report.added + report.changed + report.moved + report.removed > 0;
}

}  // namespace

IndexedByPath ByPath(std::vector<IndexedFile> files) {
    IndexedByPath indexed;
    for (IndexedFile& file : files) indexed.emplace(file.path, std::move(file));
    return indexed;
}

size_t KeepSkipped(IndexedByPath& indexed, const std::vector<Skipped>& skipped) {
    size_t kept = 0;
    for (const Skipped& item : skipped) {
        kept += EraseAtOrBelow(indexed, item.path, [](const IndexedFile&) {});
    }
    return kept;
}

bool DecodingChanged(Database& database, const ScanOptions& options) {
    // An index from before the setting existed was read as Latin-1.
    return database.Setting(kLegacyEncodingSetting).value_or("latin1") !=
           LegacyEncodingName(options.legacyEncoding);
}

bool ApplyInTransaction(Database& database, const fs::path& library, const Walk& walk,
                        IndexedByPath indexed, bool readAll, const ScanOptions& options,
                        bool setDecoding, ScanReport& report, std::string& error) {
    if (!database.Begin()) {
        error = "cannot write the index: " + database.LastError();
        return false;
    }
    const bool ok =
        Reconcile(database, library, walk, std::move(indexed), readAll, options, report) &&
        database.RemoveEmptyCollections() &&
        (!setDecoding ||
         database.SetSetting(kLegacyEncodingSetting, LegacyEncodingName(options.legacyEncoding)));
    if (Stopping(options)) {
        database.Rollback();
        error = "stopped";
        return false;
    }
    if (ok && !Writes(report) && !setDecoding) {
        database.Rollback();
        return true;
    }
    if (!ok || !database.Commit()) {
        error = "cannot write the index: " + database.LastError();
        database.Rollback();
        return false;
    }
    return true;
}

}  // namespace tessel::catalogue
