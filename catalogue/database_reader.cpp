// The reader pool and the reads of listings: collections, their songs, a song's file, counts.
#include "database_reader.h"

#include <sqlite3.h>

#include "database.h"

namespace tessel::catalogue {
namespace {

// The offset is walked over rowids of the gram index alone; only the page's songs are read.
constexpr const char* kSearchSql =
    "SELECT s.id, s.title, s.artist, s.album, s.duration FROM "
    "(SELECT rowid AS id FROM song_grams WHERE song_grams MATCH ?1 ORDER BY rowid "
    "LIMIT ?2 OFFSET ?3) AS page JOIN songs s ON s.id = page.id ORDER BY page.id";
// The songs after ?2 that hold the terms of a match, in index order, to be tried on the common
// terms.
constexpr const char* kMatchIdsSql =
    "SELECT rowid FROM song_grams WHERE song_grams MATCH ?1 AND rowid > ?2 ORDER BY rowid";
constexpr const char* kSongSql =
    "SELECT id, title, artist, album, duration FROM songs WHERE id = ?1";
constexpr const char* kCollectionSongsSql =
    "SELECT id, title, artist, album, duration FROM songs WHERE collection_id = ?1 "
    "ORDER BY path LIMIT ?2 OFFSET ?3";
constexpr const char* kCollectionExistsSql = "SELECT 1 FROM collections WHERE id = ?1";
constexpr const char* kCollectionsSql = "SELECT id, name FROM collections ORDER BY name, id";
constexpr const char* kSongPathSql = "SELECT path FROM songs WHERE id = ?1";
constexpr const char* kSongCountSql = "SELECT count(*) FROM songs";

}  // namespace

Database::Reader::Reader(sqlite3* connection)
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

Database::Reader::~Reader() {
    search = {}, matchIds = {}, song = {}, collectionSongs = {}, collectionExists = {},
    collections = {}, songPath = {}, songCount = {};
    anySong = {}, begin = {}, touch = {}, end = {};
    sqlite3_close_v2(db);
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
