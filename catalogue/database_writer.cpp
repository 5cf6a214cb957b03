// The index's one writer: its transactions, and the songs, collections and settings it writes.
#include <sqlite3.h>

#include <mutex>
#include <utility>

#include "database.h"
#include "database_layout.h"
#include "search_text.h"
#include "sqlite_statement.h"

namespace tessel::catalogue {

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
    sqlite3_stmt* s =
        Ready(Writing("UPDATE collections SET folder = ?2 WHERE folder = ?1 AND "
                      "NOT EXISTS (SELECT 1 FROM collections WHERE folder = ?2) AND "
                      "(SELECT count(*) FROM songs WHERE collection_id = collections.id) = ?3"),
              from, to, songs);
    return (s && sqlite3_step(s) == SQLITE_DONE) || Fail(writer_);
}

}  // namespace tessel::catalogue
