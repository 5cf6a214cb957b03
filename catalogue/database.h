// The catalogue's index in SQLite: songs, the folders they are collected in, and the gram index
// that keyword searches read (see search_text.h).
//
// One writer brings the index up to date, before the service starts and while it serves (the
// library watch's thread, one transaction per batch); any number of request threads read it, each
// through a connection of its own taken from a pool. A search sees the songs and the common grams'
// bits of one committed state: Commit() is the point where readers start seeing a batch, whole.
//
// A keyword search costs at most a bounded amount, whatever it asks: terms that every gram of is
// common meet in the bit sets of CommonGrams; any other term has a gram few songs hold, whose
// list the full-text index walks. Terms of several common grams are checked on the text of the
// songs found (their grams may lie apart), at most SetSongChecks songs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "common_grams.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tessel::catalogue {

// What the index knows of one audio file, as the scan reads it.
struct SongRecord {
    std::string path;    // relative to the library, '/'-separated, as the file system spells it
    std::string folder;  // relative folder ("" for the library itself): the collection
    std::string collectionName;
    std::string title;
    std::string artist;
    std::string album;
    int duration = 0;  // whole seconds
    int64_t size = 0;
    int64_t modified = 0;  // nanoseconds since the epoch
};

// What the scan compares against the files it finds.
struct IndexedFile {
    int64_t id = 0;
    std::string path;
    int64_t size = 0;
    int64_t modified = 0;
};

// One song of an answer.
struct SongRow {
    int64_t id = 0;
    std::string title;
    std::string artist;
    std::string album;
    int duration = 0;
};

// How a keyword search ended.
enum class SearchOutcome {
    kAnswered,
    kTooMuchWork,  // it would read more songs' texts than one search may
    kFailed,       // the index could not be read
};

// Songs one keyword search may read the texts of to tell whether they hold a term: only a deep
// page of a term of common letters needs more. A count, not a clock, so that asking again gives
// the same answer.
inline constexpr int kDefaultSongChecks = 5'000;
// Songs a term of rare and common grams may be checked on, found through its rare grams alone:
// their lists are short, but the bits of its common grams may let many songs through.
inline constexpr int kDefaultNarrowedChecks = 2'000;
// Memory the bit sets of common grams may take (see common_grams.h): every gram held by more
// than 1/64 of the songs fits for libraries of the common kind up to 10,000,000 songs.
inline constexpr size_t kCommonGramBytes = 512u << 20;

struct CollectionRow {
    int64_t id = 0;
    std::string name;
};

class Database {
  public:
    // Opens (creating if needed) the index file; on failure returns null and says why in `error`.
    // An index whose common grams were chosen under another byte limit has them chosen again.
    static std::unique_ptr<Database> Open(const std::string& file, std::string& error,
                                          size_t commonGramBytes = kCommonGramBytes);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Writing: one thread, inside Begin()/Commit(). Commit also brings the stored common grams up
    // to date and hands searches the new bits with the new songs.
    bool Begin();
    bool Commit();
    void Rollback();
    std::vector<IndexedFile> IndexedFiles();
    bool AddSong(const SongRecord& song);
    bool UpdateSong(int64_t id, const SongRecord& song);
    bool RemoveSong(int64_t id);
    bool RemoveEmptyCollections();
    // For following the library while it is served (the watch's one writing thread):
    // the songs at `path` or below it as a folder ("" is the whole library);
    std::vector<IndexedFile> IndexedFilesUnder(const std::string& path);
    // what the index holds of one song (path, title, artist, album, duration), to tell a moved
    // file by; nothing when there is no such song;
    std::optional<SongRecord> IndexedSong(int64_t id);
    // gives a song another path, keeping its id (its folder and texts go through UpdateSong);
    bool MoveSong(int64_t id, const std::string& path);
    // gives the collection of folder `from` the folder `to`, keeping its id, when it holds
    // `songs` songs (all of them are moving there) and `to` has no collection yet; else nothing.
    bool MoveCollection(const std::string& from, const std::string& to, int64_t songs);
    // How the index was made (e.g. the text decoding), kept with it; nothing when never set.
    std::optional<std::string> Setting(const std::string& name);
    bool SetSetting(const std::string& name, const std::string& value);
    // Merges the gram index into one segment after many changes: later searches read less.
    bool Optimize();
    const std::string& LastError() const { return lastError_; }
    // True when the file could only be opened for reading.
    bool ReadOnly() const { return readOnly_; }
    const std::string& File() const { return file_; }

    // Reading: any thread.
    // Songs whose texts hold every one of `terms` (see KeywordTerms), in index order; refused
    // when it needs more song checks than SetSongChecks allows.
    SearchOutcome Search(const std::vector<std::u32string>& terms, int count, int offset,
                         std::vector<SongRow>& songs);
    void SetSongChecks(int checks) { songChecks_ = checks; }
    // Songs a search may read the texts of while it matches a term without its common grams,
    // before the term's full match takes over (the same songs are found either way).
    void SetNarrowedChecks(int checks) { narrowedChecks_ = checks; }
    // The common grams' bits searches use now (read from the index when it is opened).
    std::shared_ptr<const CommonGrams> CommonGramSets();
    // Songs of one collection in file order; nothing when there is no such collection.
    std::optional<std::vector<SongRow>> CollectionSongs(int64_t collectionId, int count,
                                                        int offset);
    std::vector<CollectionRow> Collections();
    // The library-relative path of a song.
    std::optional<std::string> SongPath(int64_t id);
    int64_t SongCount();
    // True when the index holds a song (cheaper than counting them).
    bool HasSongs();

  private:
    struct Reader;
    class ReaderLease;
    struct StoredLayout;
    Database(std::string file, size_t commonGramBytes);
    bool OpenFile(std::string& error);
    std::optional<StoredLayout> ReadLayout();
    bool Accepts(const StoredLayout& stored, std::string& error) const;
    bool PrepareTables(const StoredLayout& stored, std::string& error);
    bool LoadCommonGrams(std::string& error);
    std::string SqliteError(const std::string& what) const;
    ReaderLease AcquireReader();
    bool AddStoredCommonGrams();
    bool Execute(const char* sql);
    bool Fail(sqlite3* db);
    // The writer's statements, prepared on first use and kept (keyed by their SQL text).
    sqlite3_stmt* Writing(const char* sql);
    std::optional<int64_t> CollectionFor(const SongRecord& song);
    bool AddGrams(int64_t id, const std::string& title, const std::string& artist,
                  const std::string& album);
    bool RemoveGrams(int64_t id);

    std::string file_;
    sqlite3* writer_ = nullptr;
    bool readOnly_ = false;
    std::unordered_map<const char*, sqlite3_stmt*> writerStatements_;
    std::string lastError_;
    std::mutex readersMutex_;
    std::vector<std::unique_ptr<Reader>> idleReaders_;
    std::atomic<int> songChecks_{kDefaultSongChecks};
    std::atomic<int> narrowedChecks_{kDefaultNarrowedChecks};
    // Held shared while a search takes the bits and starts its reading of the index, and
    // exclusively while a batch is committed and its bits put in place.
    std::shared_mutex publishing_;
    std::shared_ptr<const CommonGrams> commonGrams_;
    const size_t commonGramBytes_;
    GramChanges pending_;  // of the writing transaction under way
};

}  // namespace tessel::catalogue
