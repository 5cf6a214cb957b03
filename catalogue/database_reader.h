// The index's readers: read-only connections with their statements prepared once, kept in a pool
// and lent to one request at a time.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

#include "database.h"
#include "sqlite_statement.h"

namespace tessel::catalogue {

// A read-only connection with its statements prepared once.
struct Database::Reader {
    explicit Reader(sqlite3* connection);
    ~Reader();
    bool Usable() const {
        return search && matchIds && song && collectionSongs && collectionExists && collections &&
               songPath && songCount && anySong && begin && touch && end;
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
    Statement search, matchIds, song, collectionSongs, collectionExists, collections, songPath,
        songCount, anySong, begin, touch, end;

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

}  // namespace tessel::catalogue
