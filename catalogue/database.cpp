#include "database.h"

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <iterator>
#include <mutex>
#include <utility>

#include "search_text.h"

namespace tessel::catalogue {
namespace {

// Bump when the tables or the grams change: an index of another layout is rebuilt from scratch,
// but for the layouts upgraded in place below.
constexpr int kLayoutVersion = 2;
// Layout 1 had no stored common grams: they are added, keeping every song and its id.
constexpr int kLayoutWithoutCommonGrams = 1;
// The byte limit the stored common grams were chosen under.
constexpr const char* kCommonGramBytesSetting = "common_gram_bytes";
// Marks the file as a catalogue index ("TSLC").
constexpr int kApplicationId = 0x54534C43;

constexpr const char* kSchema = R"sql(
CREATE TABLE collections(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  folder TEXT NOT NULL UNIQUE,
  name TEXT NOT NULL);
CREATE TABLE songs(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  path TEXT NOT NULL UNIQUE,
  collection_id INTEGER NOT NULL REFERENCES collections(id),
  title TEXT NOT NULL,
  artist TEXT NOT NULL,
  album TEXT NOT NULL,
  duration INTEGER NOT NULL,
  size INTEGER NOT NULL,
  modified INTEGER NOT NULL);
CREATE INDEX songs_by_collection ON songs(collection_id, path);
CREATE VIRTUAL TABLE song_grams USING fts5(singles, pairs, content='', columnsize=0);
)sql";

// Added to indexes of this layout that were made without it, so they are kept, not rebuilt.
constexpr const char* kSettingsSchema =
    "CREATE TABLE IF NOT EXISTS index_settings(name TEXT PRIMARY KEY, value TEXT NOT NULL)";

constexpr const char* kDropAll = R"sql(
DROP TABLE IF EXISTS index_settings;
DROP TABLE IF EXISTS common_grams;
DROP TABLE IF EXISTS gram_counts;
DROP TABLE IF EXISTS song_grams;
DROP TABLE IF EXISTS songs;
DROP TABLE IF EXISTS collections;
)sql";

// The offset is walked over rowids of the gram index alone; only the page's songs are read.
constexpr const char* kSearchSql =
    "SELECT s.id, s.title, s.artist, s.album, s.duration FROM "
    "(SELECT rowid AS id FROM song_grams WHERE song_grams MATCH ?1 ORDER BY rowid "
    "LIMIT ?2 OFFSET ?3) AS page JOIN songs s ON s.id = page.id ORDER BY page.id";
// The songs after ?2 that hold the terms of a match, in index order, to be tried on the common
// terms.
constexpr const char* kMatchIdsSql =
    "SELECT rowid FROM song_grams WHERE song_grams MATCH ?1 AND rowid > ?2 ORDER BY rowid";
constexpr const char* kSongSql = "SELECT id, title, artist, album, duration FROM songs WHERE id = ?1";
constexpr const char* kCollectionSongsSql =
    "SELECT id, title, artist, album, duration FROM songs WHERE collection_id = ?1 "
    "ORDER BY path LIMIT ?2 OFFSET ?3";
constexpr const char* kCollectionExistsSql = "SELECT 1 FROM collections WHERE id = ?1";
constexpr const char* kCollectionsSql = "SELECT id, name FROM collections ORDER BY name, id";
constexpr const char* kSongPathSql = "SELECT path FROM songs WHERE id = ?1";
constexpr const char* kSongCountSql = "SELECT count(*) FROM songs";

std::string RebuildHint(const std::string& file) {
    return "delete " + file + " (or name another file with --db) to build the index again";
}

class Statement {
  public:
    Statement() = default;
    Statement(sqlite3* db, const char* sql) {
        sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(Statement&& other) noexcept : statement_(std::exchange(other.statement_, nullptr)) {}
    Statement& operator=(Statement&& other) noexcept {
        std::swap(statement_, other.statement_);
        return *this;
    }
    sqlite3_stmt* get() const { return statement_; }
    explicit operator bool() const { return statement_ != nullptr; }

  private:
    sqlite3_stmt* statement_ = nullptr;
};

void Bind(sqlite3_stmt* s, int index, int64_t value) {
    sqlite3_bind_int64(s, index, value);
}
void Bind(sqlite3_stmt* s, int index, int value) {
    sqlite3_bind_int(s, index, value);
}
void Bind(sqlite3_stmt* s, int index, const std::string& value) {
    sqlite3_bind_text(s, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
}

// Resets a cached statement and binds its parameters from 1 on.
template <typename... Values>
sqlite3_stmt* Ready(sqlite3_stmt* s, const Values&... values) {
    if (s == nullptr) return nullptr;
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    int index = 0;
    (Bind(s, ++index, values), ...);
    return s;
}

std::string TextColumn(sqlite3_stmt* s, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(s, column)))
                : std::string();
}

// Reads SongRow rows (id, title, artist, album, duration) until the statement ends; returns how
// it ended (SQLITE_DONE when every row was read).
int ReadSongRows(sqlite3_stmt* s, std::vector<SongRow>& songs) {
    int status;
    while ((status = sqlite3_step(s)) == SQLITE_ROW) {
        songs.push_back(SongRow{sqlite3_column_int64(s, 0), TextColumn(s, 1), TextColumn(s, 2),
                                TextColumn(s, 3), sqlite3_column_int(s, 4)});
    }
    sqlite3_reset(s);
    return status;
}

bool ReadSongs(sqlite3_stmt* s, std::vector<SongRow>& songs) {
    return ReadSongRows(s, songs) == SQLITE_DONE;
}

}  // namespace

// A read-only connection with its statements prepared once.
struct Database::Reader {
    explicit Reader(sqlite3* connection)
        : db(connection),
          search(db, kSearchSql),
          matchIds(db, kMatchIdsSql),
          song(db, kSongSql),
          collectionSongs(db, kCollectionSongsSql),
          collectionExists(db, kCollectionExistsSql),
          collections(db, kCollectionsSql),
          songPath(db, kSongPathSql),
          songCount(db, kSongCountSql),
          anySong(db, "SELECT 1 FROM songs LIMIT 1"),
          begin(db, "BEGIN"),
          touch(db, "SELECT max(id) FROM songs"),
          end(db, "COMMIT") {}
    ~Reader() {
        search = {}, matchIds = {}, song = {}, collectionSongs = {},
        collectionExists = {}, collections = {}, songPath = {}, songCount = {};
        anySong = {}, begin = {}, touch = {}, end = {};
        sqlite3_close_v2(db);
    }
    bool Usable() const {
        return search && matchIds && song && collectionSongs && collectionExists &&
               collections && songPath && songCount && anySong && begin && touch && end;
    }
    // Starts a reading that sees the index as it is now until EndReading, whatever is
    // committed meanwhile.
    bool BeginReading() {
        if (sqlite3_get_autocommit(db) == 0) EndReading();
        return Step(begin) == SQLITE_DONE && Step(touch) == SQLITE_ROW;
    }
    void EndReading() {
        if (Step(end) != SQLITE_DONE) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }

    sqlite3* db;
    Statement search, matchIds, song, collectionSongs, collectionExists, collections,
        songPath, songCount, anySong, begin, touch, end;

  private:
    static int Step(const Statement& s) {
        const int status = sqlite3_step(s.get());
        sqlite3_reset(s.get());
        return status;
    }
};

// Hands a reader to one request and takes it back into the pool afterwards.
class Database::ReaderLease {
  public:
    ReaderLease(Database& owner, std::unique_ptr<Reader> reader)
        : owner_(owner), reader_(std::move(reader)) {}
    ReaderLease(ReaderLease&&) = default;
    ~ReaderLease() {
        if (!reader_) return;
        std::lock_guard lock(owner_.readersMutex_);
        owner_.idleReaders_.push_back(std::move(reader_));
    }
    Reader* operator->() const { return reader_.get(); }
    Reader& operator*() const { return *reader_; }
    explicit operator bool() const { return reader_ != nullptr; }

  private:
    Database& owner_;
    std::unique_ptr<Reader> reader_;
};

Database::Database(std::string file, size_t commonGramBytes)
    : file_(std::move(file)),
      commonGrams_(std::make_shared<const CommonGrams>()),
      commonGramBytes_(commonGramBytes) {}

Database::~Database() {
    idleReaders_.clear();
    for (auto& [sql, statement] : writerStatements_) sqlite3_finalize(statement);
    if (writer_) sqlite3_close_v2(writer_);
}

std::unique_ptr<Database> Database::Open(const std::string& file, std::string& error,
                                         size_t commonGramBytes) {
    // Many request threads allocate at once; SQLite's allocation statistics would serialise them
    // on one global lock. (Only possible before SQLite starts; harmless to try later.)
    static std::once_flag configured;
    std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
    std::unique_ptr<Database> database(new Database(file, commonGramBytes));
    auto failed = [&](const std::string& what) {
        error = what + ": " + (database->writer_ ? sqlite3_errmsg(database->writer_) : "");
        if (database->writer_ && sqlite3_errcode(database->writer_) == SQLITE_CORRUPT) {
            error += "; " + RebuildHint(file);
        }
        return nullptr;
    };
    if (sqlite3_open_v2(file.c_str(), &database->writer_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        return failed("cannot open the index " + file);
    }
    sqlite3_busy_timeout(database->writer_, 5000);
    // A file that cannot be written opens read-only; it serves as long as it is up to date.
    database->readOnly_ = sqlite3_db_readonly(database->writer_, "main") == 1;
    // Only an index of ours, or an empty file, is (re)built: any other database is left alone.
    Statement layout(database->writer_,
                     "SELECT (SELECT application_id FROM pragma_application_id), "
                     "(SELECT user_version FROM pragma_user_version), "
                     "(SELECT count(*) FROM sqlite_master)");
    if (!layout || sqlite3_step(layout.get()) != SQLITE_ROW) {
        return failed("cannot read the index " + file);
    }
    const int application = sqlite3_column_int(layout.get(), 0);
    const int version = sqlite3_column_int(layout.get(), 1);
    const int objects = sqlite3_column_int(layout.get(), 2);
    layout = {};
    if (application != kApplicationId && objects > 0) {
        error = file + " is a database of something else, not a catalogue index";
        return nullptr;
    }
    // Rebuilding an index of a later layout would give its songs new ids, and addresses handed
    // out before would play other songs.
    if (application == kApplicationId && version > kLayoutVersion) {
        error = file + " was made by a newer tessel-catalogue (index layout " +
                std::to_string(version) + ", this one knows " + std::to_string(kLayoutVersion) +
                "): serve it with that one, or " + RebuildHint(file);
        return nullptr;
    }
    auto readCommonGrams = [&]() -> std::unique_ptr<Database> {
        std::shared_ptr<const CommonGrams> read = CommonGrams::Read(database->writer_);
        if (!read) return failed("cannot read the index " + file);
        database->commonGrams_ = std::move(read);
        // A commit that changes nothing chooses the common grams again, under this limit.
        const std::string limit = std::to_string(commonGramBytes);
        if (!database->readOnly_ && database->Setting(kCommonGramBytesSetting) != limit &&
            !(database->Begin() && database->SetSetting(kCommonGramBytesSetting, limit) &&
              database->Commit())) {
            error = "cannot write the index " + file + ": " + database->lastError_;
            database->Rollback();
            return nullptr;
        }
        return std::move(database);
    };
    if (database->readOnly_) {
        if (application == kApplicationId && version == kLayoutVersion) return readCommonGrams();
        error = file + " cannot be written and is not an index of this layout";
        return nullptr;
    }
    // A writer's cache of 128 MB: a large batch touches many pages of the gram index. The log is
    // copied into the index after each commit (see Commit), not by SQLite inside it.
    if (!database->Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                           "PRAGMA cache_size=-131072; PRAGMA wal_autocheckpoint=0;")) {
        return failed("cannot use the index " + file);
    }
    const bool upgrade = application == kApplicationId && version == kLayoutWithoutCommonGrams;
    if (application != kApplicationId || (version != kLayoutVersion && !upgrade)) {
        const std::string create = std::string("BEGIN;") + kDropAll + kSchema +
                                   kCommonGramsSchema + "PRAGMA application_id=" +
                                   std::to_string(kApplicationId) + "; PRAGMA user_version=" +
                                   std::to_string(kLayoutVersion) + "; COMMIT;";
        if (!database->Execute(create.c_str())) return failed("cannot set up the index " + file);
    }
    if (!database->Execute(kSettingsSchema)) return failed("cannot set up the index " + file);
    if (upgrade && !database->AddStoredCommonGrams()) {
        error = "cannot upgrade the index " + file + ": " + database->lastError_;
        database->Rollback();
        return nullptr;
    }
    return readCommonGrams();
}

// Counts the grams of every song and stores the common ones' bits, in one transaction with the
// new layout number: an index is upgraded whole or not at all.
bool Database::AddStoredCommonGrams() {
    if (!Begin() || !Execute(kCommonGramsSchema)) return false;
    sqlite3_stmt* s = Ready(Writing("SELECT id, title, artist, album FROM songs"));
    if (s == nullptr) return false;
    int status;
    while ((status = sqlite3_step(s)) == SQLITE_ROW) {
        pending_.Add(sqlite3_column_int64(s, 0),
                     GramsOf(TextColumn(s, 1), TextColumn(s, 2), TextColumn(s, 3)),
                     *commonGrams_);
    }
    sqlite3_reset(s);
    if (status != SQLITE_DONE) return Fail(writer_);
    const std::string layout = "PRAGMA user_version=" + std::to_string(kLayoutVersion);
    return Execute(layout.c_str()) && Commit();
}

bool Database::Execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(writer_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    sqlite3_free(message);
    return Fail(writer_);
}

bool Database::Fail(sqlite3* db) {
    lastError_ = sqlite3_errmsg(db);
    if (sqlite3_errcode(db) == SQLITE_CORRUPT) lastError_ += "; " + RebuildHint(file_);
    return false;
}

sqlite3_stmt* Database::Writing(const char* sql) {
    auto found = writerStatements_.find(sql);
    if (found != writerStatements_.end()) return found->second;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(writer_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK) {
        Fail(writer_);
        return nullptr;
    }
    writerStatements_.emplace(sql, statement);
    return statement;
}

bool Database::Begin() {
    pending_.Clear();
    return Execute("BEGIN IMMEDIATE");
}

// The batch's bits are written with it; searches that start after the commit see both, those
// under way keep the state they started on.
bool Database::Commit() {
    std::shared_ptr<const CommonGrams> next =
        pending_.Apply(writer_, *commonGrams_, commonGramBytes_);
    if (!next) return Fail(writer_);
    {
        std::unique_lock lock(publishing_);
        if (!Execute("COMMIT")) return false;
        commonGrams_ = std::move(next);
    }
    // The log is copied into the index here, not inside COMMIT, where searches would wait for it.
    sqlite3_wal_checkpoint_v2(writer_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return true;
}

void Database::Rollback() {
    pending_.Clear();
    sqlite3_exec(writer_, "ROLLBACK", nullptr, nullptr, nullptr);
}

namespace {

// Reads IndexedFile rows (id, path, size, modified) until the statement ends.
std::vector<IndexedFile> ReadIndexedFiles(sqlite3_stmt* s) {
    std::vector<IndexedFile> files;
    if (s == nullptr) return files;
    while (sqlite3_step(s) == SQLITE_ROW) {
        files.push_back(IndexedFile{sqlite3_column_int64(s, 0), TextColumn(s, 1),
                                    sqlite3_column_int64(s, 2), sqlite3_column_int64(s, 3)});
    }
    sqlite3_reset(s);
    return files;
}

}  // namespace

std::vector<IndexedFile> Database::IndexedFiles() {
    return ReadIndexedFiles(Ready(Writing("SELECT id, path, size, modified FROM songs")));
}

// The folder's collection, made if new; its name follows the song's (a file read again with
// another decoding brings the folder's new name).
std::optional<int64_t> Database::CollectionFor(const SongRecord& song) {
    sqlite3_stmt* find =
        Ready(Writing("SELECT id, name FROM collections WHERE folder = ?1"), song.folder);
    if (find && sqlite3_step(find) == SQLITE_ROW) {
        const int64_t id = sqlite3_column_int64(find, 0);
        const bool sameName = TextColumn(find, 1) == song.collectionName;
        sqlite3_reset(find);
        if (sameName) return id;
        sqlite3_stmt* rename = Ready(Writing("UPDATE collections SET name = ?2 WHERE id = ?1"), id,
                                     song.collectionName);
        if (!rename || sqlite3_step(rename) != SQLITE_DONE) {
            Fail(writer_);
            return std::nullopt;
        }
        return id;
    }
    sqlite3_stmt* add = Ready(Writing("INSERT INTO collections(folder, name) VALUES(?1, ?2)"),
                              song.folder, song.collectionName);
    if (!add || sqlite3_step(add) != SQLITE_DONE) {
        Fail(writer_);
        return std::nullopt;
    }
    return sqlite3_last_insert_rowid(writer_);
}

bool Database::AddGrams(int64_t id, const std::string& title, const std::string& artist,
                        const std::string& album) {
    const SongGrams grams = GramsOf(title, artist, album);
    sqlite3_stmt* s = Ready(Writing("INSERT INTO song_grams(rowid, singles, pairs) "
                                    "VALUES(?1, ?2, ?3)"),
                            id, grams.singles, grams.pairs);
    if (!s || sqlite3_step(s) != SQLITE_DONE) return Fail(writer_);
    pending_.Add(id, grams, *commonGrams_);
    return true;
}

// A table that keeps no copy of its texts forgets a row when given the grams it was indexed with.
bool Database::RemoveGrams(int64_t id) {
    sqlite3_stmt* old = Ready(Writing("SELECT title, artist, album FROM songs WHERE id = ?1"), id);
    if (!old || sqlite3_step(old) != SQLITE_ROW) return Fail(writer_);
    const SongGrams grams = GramsOf(TextColumn(old, 0), TextColumn(old, 1), TextColumn(old, 2));
    sqlite3_reset(old);
    sqlite3_stmt* s = Ready(Writing("INSERT INTO song_grams(song_grams, rowid, singles, pairs) "
                                    "VALUES('delete', ?1, ?2, ?3)"),
                            id, grams.singles, grams.pairs);
    if (!s || sqlite3_step(s) != SQLITE_DONE) return Fail(writer_);
    pending_.Remove(id, grams, *commonGrams_);
    return true;
}

bool Database::AddSong(const SongRecord& song) {
    const std::optional<int64_t> collection = CollectionFor(song);
    if (!collection) return false;
    sqlite3_stmt* s =
        Ready(Writing("INSERT INTO songs(path, collection_id, title, artist, album, duration, "
                      "size, modified) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)"),
              song.path, *collection, song.title, song.artist, song.album, song.duration, song.size,
              song.modified);
    if (!s || sqlite3_step(s) != SQLITE_DONE) return Fail(writer_);
    return AddGrams(sqlite3_last_insert_rowid(writer_), song.title, song.artist, song.album);
}

// A changed file keeps its id, so addresses handed out before stay valid.
bool Database::UpdateSong(int64_t id, const SongRecord& song) {
    const std::optional<int64_t> collection = CollectionFor(song);
    if (!collection || !RemoveGrams(id)) return false;
    sqlite3_stmt* s = Ready(Writing("UPDATE songs SET collection_id = ?2, title = ?3, artist = ?4, "
                                    "album = ?5, duration = ?6, size = ?7, modified = ?8 "
                                    "WHERE id = ?1"),
                            id, *collection, song.title, song.artist, song.album, song.duration,
                            song.size, song.modified);
    if (!s || sqlite3_step(s) != SQLITE_DONE) return Fail(writer_);
    return AddGrams(id, song.title, song.artist, song.album);
}

bool Database::RemoveSong(int64_t id) {
    if (!RemoveGrams(id)) return false;
    sqlite3_stmt* s = Ready(Writing("DELETE FROM songs WHERE id = ?1"), id);
    return (s && sqlite3_step(s) == SQLITE_DONE) || Fail(writer_);
}

std::optional<std::string> Database::Setting(const std::string& name) {
    sqlite3_stmt* s = Ready(Writing("SELECT value FROM index_settings WHERE name = ?1"), name);
    if (s == nullptr || sqlite3_step(s) != SQLITE_ROW) return std::nullopt;
    std::string value = TextColumn(s, 0);
    sqlite3_reset(s);
    return value;
}

bool Database::SetSetting(const std::string& name, const std::string& value) {
    sqlite3_stmt* s = Ready(Writing("INSERT INTO index_settings(name, value) VALUES(?1, ?2) "
                                    "ON CONFLICT(name) DO UPDATE SET value = excluded.value"),
                            name, value);
    return (s && sqlite3_step(s) == SQLITE_DONE) || Fail(writer_);
}

bool Database::Optimize() {
    if (!Execute("INSERT INTO song_grams(song_grams) VALUES('optimize')")) return false;
    sqlite3_wal_checkpoint_v2(writer_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return true;
}

bool Database::RemoveEmptyCollections() {
    return Execute(
        "DELETE FROM collections WHERE id NOT IN (SELECT DISTINCT collection_id FROM songs)");
}

// Following the library: the writer's lookups and the one change that is not a song's texts.

std::vector<IndexedFile> Database::IndexedFilesUnder(const std::string& path) {
    if (path.empty()) return IndexedFiles();
    // Paths compare bytewise: those below the folder lie between "path/" and "path0".
    return ReadIndexedFiles(Ready(Writing("SELECT id, path, size, modified FROM songs "
                                          "WHERE path = ?1 OR (path >= ?2 AND path < ?3)"),
                                  path, path + '/', path + '0'));
}

std::optional<SongRecord> Database::IndexedSong(int64_t id) {
    sqlite3_stmt* s =
        Ready(Writing("SELECT path, title, artist, album, duration FROM songs WHERE id = ?1"), id);
    if (s == nullptr || sqlite3_step(s) != SQLITE_ROW) {
        if (s) sqlite3_reset(s);
        return std::nullopt;
    }
    SongRecord song;
    song.path = TextColumn(s, 0);
    song.title = TextColumn(s, 1);
    song.artist = TextColumn(s, 2);
    song.album = TextColumn(s, 3);
    song.duration = sqlite3_column_int(s, 4);
    sqlite3_reset(s);
    return song;
}

bool Database::MoveSong(int64_t id, const std::string& path) {
    sqlite3_stmt* s = Ready(Writing("UPDATE songs SET path = ?2 WHERE id = ?1"), id, path);
    return (s && sqlite3_step(s) == SQLITE_DONE) || Fail(writer_);
}

bool Database::MoveCollection(const std::string& from, const std::string& to, int64_t songs) {
    sqlite3_stmt* s = Ready(
        Writing("UPDATE collections SET folder = ?2 WHERE folder = ?1 AND "
                "NOT EXISTS (SELECT 1 FROM collections WHERE folder = ?2) AND "
                "(SELECT count(*) FROM songs WHERE collection_id = collections.id) = ?3"),
        from, to, songs);
    return (s && sqlite3_step(s) == SQLITE_DONE) || Fail(writer_);
}

Database::ReaderLease Database::AcquireReader() {
    {
        std::lock_guard lock(readersMutex_);
        if (!idleReaders_.empty()) {
            std::unique_ptr<Reader> reader = std::move(idleReaders_.back());
            idleReaders_.pop_back();
            return ReaderLease(*this, std::move(reader));
        }
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file_.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        sqlite3_close_v2(db);
        return ReaderLease(*this, nullptr);
    }
    sqlite3_busy_timeout(db, 2000);
    // Reads go through the mapped file: fewer copies and system calls per query.
    sqlite3_exec(db, "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
    auto reader = std::make_unique<Reader>(db);
    if (!reader->Usable()) return ReaderLease(*this, nullptr);
    return ReaderLease(*this, std::move(reader));
}

namespace {

SongRow ReadSongRow(sqlite3_stmt* s) {
    return SongRow{sqlite3_column_int64(s, 0), TextColumn(s, 1), TextColumn(s, 2),
                   TextColumn(s, 3), sqlite3_column_int(s, 4)};
}

bool HoldsEvery(const std::vector<const SongBits*>& sets, uint64_t id) {
    return std::all_of(sets.begin(), sets.end(), [id](const SongBits* bits) {
        return id / 64 < bits->size() && ((*bits)[id / 64] >> (id % 64) & 1) != 0;
    });
}

// True when one of the song's fields, folded as the index folds it, holds each term.
bool TextHoldsEvery(const SongRow& song, const std::vector<std::u32string>& terms) {
    const std::u32string fields[] = {FoldedText(song.title), FoldedText(song.artist),
                                     FoldedText(song.album)};
    return std::all_of(terms.begin(), terms.end(), [&fields](const std::u32string& term) {
        return std::any_of(std::begin(fields), std::end(fields), [&term](const std::u32string& f) {
            return f.find(term) != std::u32string::npos;
        });
    });
}

}  // namespace

std::shared_ptr<const CommonGrams> Database::CommonGramSets() {
    std::shared_lock lock(publishing_);
    return commonGrams_;
}

// The songs come from one of two walks, each bounded by how the index is made. With a term that
// has a gram few songs hold, the full-text match of such terms walks short lists and each song
// it finds is tried on the common terms' bits. With common terms only, their bits are ANDed a
// word at a time. Terms of several grams whose every gram is common are then checked on the song
// text, which alone says whether the grams lie side by side.
SearchOutcome Database::Search(const std::vector<std::u32string>& terms, int count, int offset,
                               std::vector<SongRow>& songs) {
    ReaderLease reader = AcquireReader();
    if (!reader) return SearchOutcome::kFailed;
    std::shared_ptr<const CommonGrams> common;
    {
        std::shared_lock lock(publishing_);
        common = commonGrams_;
        if (!reader->BeginReading()) return SearchOutcome::kFailed;
    }
    struct Reading {
        Reader& reader;
        ~Reading() { reader.EndReading(); }
    } reading{*reader};
    std::vector<std::u32string> listed;   // matched through the full-text index
    std::vector<std::u32string> checked;  // common, of several grams: checked on the text
    std::vector<const SongBits*> sets;    // of every gram of the common terms
    // The listed terms with their common grams left out: each run of uncommon grams stays a
    // phrase, the common grams are tried on their bits and the terms so cut on the text.
    std::vector<std::u32string> narrowedMatch;
    std::vector<std::u32string> narrowedTerms;
    std::vector<const SongBits*> narrowedSets;
    for (const std::u32string& term : terms) {
        std::vector<const SongBits*> termSets;
        for (const std::string& gram : TermGrams(term)) termSets.push_back(common->Find(gram));
        if (std::find(termSets.begin(), termSets.end(), nullptr) != termSets.end()) {
            listed.push_back(term);
            if (std::all_of(termSets.begin(), termSets.end(),
                            [](const SongBits* bits) { return bits == nullptr; })) {
                narrowedMatch.push_back(term);  // no common gram: the phrase as it is
                continue;
            }
            narrowedTerms.push_back(term);
            // Gram k is the pair of characters k and k + 1.
            for (size_t k = 0; k < termSets.size();) {
                if (termSets[k] != nullptr) {
                    narrowedSets.push_back(termSets[k++]);
                    continue;
                }
                const size_t from = k;
                while (k < termSets.size() && termSets[k] == nullptr) ++k;
                narrowedMatch.push_back(term.substr(from, k - from + 1));
            }
            continue;
        }
        sets.insert(sets.end(), termSets.begin(), termSets.end());
        if (termSets.size() > 1) checked.push_back(term);
    }

    const int checkLimit = songChecks_.load();
    const int narrowedLimit = narrowedChecks_.load();
    int checks = 0;
    int skipped = 0;
    bool tooMuch = false;
    sqlite3_stmt* songById = reader->song.get();
    auto readSong = [songById](int64_t id) {
        std::optional<SongRow> row;
        Ready(songById, id);
        if (sqlite3_step(songById) == SQLITE_ROW) row = ReadSongRow(songById);
        sqlite3_reset(songById);
        return row;
    };
    // Takes a song that holds the terms' grams (its row when already read); false once the page
    // is full or the checks spent.
    auto take = [&](int64_t id, std::optional<SongRow> row) {
        if (!checked.empty()) {
            if (++checks > checkLimit) {
                tooMuch = true;
                return false;
            }
            if (!row) row = readSong(id);
            if (!row || !TextHoldsEvery(*row, checked)) return true;
        }
        if (skipped < offset) {
            ++skipped;
            return true;
        }
        if (!row) row = readSong(id);
        if (row) songs.push_back(std::move(*row));
        return songs.size() < static_cast<size_t>(count);
    };

    int status = SQLITE_DONE;
    if (!listed.empty() && sets.empty() && narrowedTerms.empty()) {
        // Nothing common: the page is the match's, its offset walked over rowids alone.
        status = ReadSongRows(Ready(reader->search.get(), MatchExpressionFor(listed), count,
                                    offset),
                              songs);
    } else if (!listed.empty()) {
        // The songs of the listed terms' match in index order, tried on the common terms. A
        // narrowed match walks no list of a common gram; once its checks are spent, the full
        // match goes on after the last song it decided, so the songs found are the same.
        int64_t decided = 0;
        auto walk = [&](const std::string& expression, bool narrowed) {
            sqlite3_stmt* s = Ready(reader->matchIds.get(), expression, decided);
            int spent = 0;
            bool finished = true;
            while ((status = sqlite3_step(s)) == SQLITE_ROW) {
                const int64_t id = sqlite3_column_int64(s, 0);
                const auto bit = static_cast<uint64_t>(id);
                std::optional<SongRow> row;
                if (narrowed) {
                    if (!HoldsEvery(narrowedSets, bit) || !HoldsEvery(sets, bit)) {
                        decided = id;
                        continue;
                    }
                    if (++spent > narrowedLimit) {
                        finished = false;
                        break;
                    }
                    row = readSong(id);
                    decided = id;
                    if (!row || !TextHoldsEvery(*row, narrowedTerms)) continue;
                }
                if (HoldsEvery(sets, bit) && !take(id, std::move(row))) break;
            }
            if (status == SQLITE_ROW) status = SQLITE_DONE;
            sqlite3_reset(s);
            return finished;
        };
        if (narrowedTerms.empty() || !walk(MatchExpressionFor(narrowedMatch), true)) {
            walk(MatchExpressionFor(listed), false);
        }
    } else {
        // Past the shortest set no song holds every gram.
        size_t words = sets.empty() ? 0 : sets.front()->size();
        for (const SongBits* bits : sets) words = std::min(words, bits->size());
        auto songsHolding = [&](size_t w) {
            uint64_t word = ~uint64_t{0};
            for (const SongBits* bits : sets) word &= (*bits)[w];
            return word;
        };
        // Every song before the offset would need a check: such a page is refused at once, unless
        // fewer songs than the offset hold the grams, and the page is empty.
        if (!checked.empty() && offset >= checkLimit) {
            int64_t holding = 0;
            for (size_t w = 0; w < words; ++w) holding += std::popcount(songsHolding(w));
            if (holding > offset) return SearchOutcome::kTooMuchWork;
            return SearchOutcome::kAnswered;
        }
        for (size_t w = 0; w < words; ++w) {
            uint64_t word = songsHolding(w);
            if (word == 0) continue;
            // Songs that need no check are counted off the offset a word at a time.
            const int here = std::popcount(word);
            if (checked.empty() && skipped + here <= offset) {
                skipped += here;
                continue;
            }
            bool more = true;
            for (; word != 0 && more; word &= word - 1) {
                more = take(static_cast<int64_t>(w * 64 + std::countr_zero(word)), std::nullopt);
            }
            if (!more) break;
        }
    }
    if (tooMuch) {
        songs.clear();
        return SearchOutcome::kTooMuchWork;
    }
    if (status == SQLITE_DONE) return SearchOutcome::kAnswered;
    songs.clear();
    return SearchOutcome::kFailed;
}

std::optional<std::vector<SongRow>> Database::CollectionSongs(int64_t collectionId, int count,
                                                              int offset) {
    ReaderLease reader = AcquireReader();
    if (!reader) return std::nullopt;
    sqlite3_stmt* exists = Ready(reader->collectionExists.get(), collectionId);
    const bool found = sqlite3_step(exists) == SQLITE_ROW;
    sqlite3_reset(exists);
    if (!found) return std::nullopt;
    std::vector<SongRow> songs;
    if (!ReadSongs(Ready(reader->collectionSongs.get(), collectionId, count, offset), songs)) {
        return std::nullopt;
    }
    return songs;
}

std::vector<CollectionRow> Database::Collections() {
    std::vector<CollectionRow> collections;
    ReaderLease reader = AcquireReader();
    if (!reader) return collections;
    sqlite3_stmt* s = Ready(reader->collections.get());
    while (sqlite3_step(s) == SQLITE_ROW) {
        collections.push_back(CollectionRow{sqlite3_column_int64(s, 0), TextColumn(s, 1)});
    }
    sqlite3_reset(s);
    return collections;
}

std::optional<std::string> Database::SongPath(int64_t id) {
    ReaderLease reader = AcquireReader();
    if (!reader) return std::nullopt;
    sqlite3_stmt* s = Ready(reader->songPath.get(), id);
    std::optional<std::string> path;
    if (sqlite3_step(s) == SQLITE_ROW) path = TextColumn(s, 0);
    sqlite3_reset(s);
    return path;
}

bool Database::HasSongs() {
    ReaderLease reader = AcquireReader();
    if (!reader) return false;
    sqlite3_stmt* s = Ready(reader->anySong.get());
    const bool any = sqlite3_step(s) == SQLITE_ROW;
    sqlite3_reset(s);
    return any;
}

int64_t Database::SongCount() {
    ReaderLease reader = AcquireReader();
    if (!reader) return 0;
    sqlite3_stmt* s = Ready(reader->songCount.get());
    const int64_t count = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
    sqlite3_reset(s);
    return count;
}

}  // namespace tessel::catalogue
