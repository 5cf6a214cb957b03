// The catalogue's index in SQLite: songs, the folders they are collected in, and the gram index
// that keyword searches read (see search_text.h).
//
// One writer brings the index up to date before the service starts; afterwards any number of
// request threads read it, each through a connection of its own taken from a pool.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

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
    kTooMuchWork,  // it would have used more processor time than one search may
    kFailed,       // the index could not be read
};

// Processor time one keyword search may use before it is given up: a search that must walk most
// of a large index (a deep page of a term found everywhere) would otherwise hold its request
// thread for hundreds of milliseconds.
inline constexpr std::chrono::microseconds kDefaultSearchBudget{15'000};

struct CollectionRow {
    int64_t id = 0;
    std::string name;
};

class Database {
  public:
    // Opens (creating if needed) the index file; on failure returns null and says why in `error`.
    static std::unique_ptr<Database> Open(const std::string& file, std::string& error);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Writing: one thread, inside Begin()/Commit().
    bool Begin();
    bool Commit();
    void Rollback();
    std::vector<IndexedFile> IndexedFiles();
    bool AddSong(const SongRecord& song);
    bool UpdateSong(int64_t id, const SongRecord& song);
    bool RemoveSong(int64_t id);
    bool RemoveEmptyCollections();
    // How the index was made (e.g. the text decoding), kept with it; nothing when never set.
    std::optional<std::string> Setting(const std::string& name);
    bool SetSetting(const std::string& name, const std::string& value);
    // Merges the gram index into one segment after many changes: later searches read less.
    bool Optimize();
    const std::string& LastError() const { return lastError_; }

    // Reading: any thread.
    // Songs whose texts hold every one of `terms` (see KeywordTerms), in index order, within the
    // search budget (see SetSearchBudget).
    SearchOutcome Search(const std::vector<std::u32string>& terms, int count, int offset,
                         std::vector<SongRow>& songs);
    // The processor time each later search may use.
    void SetSearchBudget(std::chrono::microseconds budget) { searchBudget_ = budget.count(); }
    // Songs of one collection in file order; nothing when there is no such collection.
    std::optional<std::vector<SongRow>> CollectionSongs(int64_t collectionId, int count,
                                                        int offset);
    std::vector<CollectionRow> Collections();
    // The library-relative path of a song.
    std::optional<std::string> SongPath(int64_t id);
    int64_t SongCount();

  private:
    struct Reader;
    class ReaderLease;
    struct SearchPlan;
    static SearchPlan PlanSearch(Reader& reader, const std::vector<std::u32string>& terms);
    explicit Database(std::string file);
    ReaderLease AcquireReader();
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
    std::unordered_map<const char*, sqlite3_stmt*> writerStatements_;
    std::string lastError_;
    std::mutex readersMutex_;
    std::vector<std::unique_ptr<Reader>> idleReaders_;
    std::atomic<int64_t> searchBudget_{kDefaultSearchBudget.count()};  // microseconds
};

}  // namespace tessel::catalogue
