// Prepared SQLite statements as the index uses them: kept prepared, reset and bound before each
// use, and their rows read into the catalogue's own records.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "database.h"

namespace tessel::catalogue {

// A statement prepared once and finalized with its owner.
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

inline void Bind(sqlite3_stmt* s, int index, int64_t value) {
    sqlite3_bind_int64(s, index, value);
}
inline void Bind(sqlite3_stmt* s, int index, int value) {
    sqlite3_bind_int(s, index, value);
}
inline void Bind(sqlite3_stmt* s, int index, const std::string& value) {
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

inline std::string TextColumn(sqlite3_stmt* s, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(s, column)))
                : std::string();
}

// The row under the statement as a SongRow (id, title, artist, album, duration).
inline SongRow ReadSongRow(sqlite3_stmt* s) {
    return SongRow{sqlite3_column_int64(s, 0), TextColumn(s, 1), TextColumn(s, 2), TextColumn(s, 3),
                   sqlite3_column_int(s, 4)};
}

// Reads SongRow rows until the statement ends; returns how it ended (SQLITE_DONE when every row
// was read).
inline int ReadSongRows(sqlite3_stmt* s, std::vector<SongRow>& songs) {
    int status;
    while ((status = sqlite3_step(s)) == SQLITE_ROW) songs.push_back(ReadSongRow(s));
    sqlite3_reset(s);
    return status;
}

inline bool ReadSongs(sqlite3_stmt* s, std::vector<SongRow>& songs) {
    return ReadSongRows(s, songs) == SQLITE_DONE;
}

}  // namespace tessel::catalogue
