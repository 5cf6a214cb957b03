#include "common_grams.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace tessel::catalogue {

// gram_counts keeps, beside every gram, the row '' (no gram is empty) with the number of songs.
// Chunks are whole words in the machine's byte order; a chunk of no song is not kept.
const char* const kCommonGramsSchema = R"sql(
CREATE TABLE IF NOT EXISTS gram_counts(
  gram TEXT PRIMARY KEY,
  songs INTEGER NOT NULL) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS gram_counts_by_songs ON gram_counts(songs);
CREATE TABLE IF NOT EXISTS common_grams(
  gram TEXT NOT NULL,
  chunk INTEGER NOT NULL,
  bits BLOB NOT NULL,
  PRIMARY KEY(gram, chunk)) WITHOUT ROWID;
)sql";

namespace {

constexpr const char* kSongsRow = "";

// sqlite3_stmt owned for one scope.
struct Query {
    Query(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement, nullptr); }
    ~Query() { sqlite3_finalize(statement); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    explicit operator bool() const { return statement != nullptr; }
    // Steps once and resets; true when it ran to its end.
    bool Run() {
        const int status = sqlite3_step(statement);
        sqlite3_reset(statement);
        return status == SQLITE_DONE;
    }
    sqlite3_stmt* statement = nullptr;
};

void BindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// The distinct gram tokens of a song (the gap token is never looked up).
std::vector<std::string> TokensOf(const SongGrams& grams) {
    std::vector<std::string> tokens;
    for (std::string_view column :
         {std::string_view(grams.singles), std::string_view(grams.pairs)}) {
        size_t at = 0;
        while (at < column.size()) {
            const size_t end = std::min(column.find(' ', at), column.size());
            if (end > at && column.substr(at, end - at) != "0") {
                tokens.emplace_back(column.substr(at, end - at));
            }
            at = end + 1;
        }
    }
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    return tokens;
}

// Writes one chunk of `bits`, or forgets it when it holds no song.
bool WriteChunk(Query& put, Query& drop, const std::string& gram, const SongBits& bits,
                size_t chunk) {
    const size_t from = chunk * CommonGrams::kChunkWords;
    const size_t to = std::min(bits.size(), from + CommonGrams::kChunkWords);
    const bool empty = from >= to || std::all_of(bits.begin() + static_cast<std::ptrdiff_t>(from),
                                                 bits.begin() + static_cast<std::ptrdiff_t>(to),
                                                 [](uint64_t w) { return w == 0; });
    Query& q = empty ? drop : put;
    BindText(q.statement, 1, gram);
    sqlite3_bind_int64(q.statement, 2, static_cast<int64_t>(chunk));
    if (!empty) {
        sqlite3_bind_blob(q.statement, 3, bits.data() + from,
                          static_cast<int>((to - from) * sizeof(uint64_t)), SQLITE_STATIC);
    }
    return q.Run();
}

}  // namespace

std::unique_ptr<CommonGrams> CommonGrams::Read(sqlite3* db) {
    auto common = std::make_unique<CommonGrams>();
    Query rows(db, "SELECT gram, chunk, bits FROM common_grams ORDER BY gram, chunk");
    if (!rows) return nullptr;
    std::string gram;
    std::shared_ptr<SongBits> bits;
    int status;
    while ((status = sqlite3_step(rows.statement)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(rows.statement, 0));
        if (!bits || gram != text) {
            gram = text;
            bits = std::make_shared<SongBits>();
            common->grams_.emplace(gram, bits);
        }
        const auto chunk = static_cast<size_t>(sqlite3_column_int64(rows.statement, 1));
        const size_t words =
            static_cast<size_t>(sqlite3_column_bytes(rows.statement, 2)) / sizeof(uint64_t);
        if (words > kChunkWords || chunk > (size_t{1} << 32)) return nullptr;
        bits->resize(chunk * kChunkWords + words);
        if (words > 0) {
            std::memcpy(bits->data() + chunk * kChunkWords, sqlite3_column_blob(rows.statement, 2),
                        words * sizeof(uint64_t));
        }
    }
    if (status != SQLITE_DONE) return nullptr;
    return common;
}

const SongBits* CommonGrams::Find(const std::string& gram) const {
    const auto found = grams_.find(gram);
    return found == grams_.end() ? nullptr : found->second.get();
}

void GramChanges::Add(int64_t id, const SongGrams& grams, const CommonGrams& current) {
    Count(id, grams, current, true);
}

void GramChanges::Remove(int64_t id, const SongGrams& grams, const CommonGrams& current) {
    Count(id, grams, current, false);
}

void GramChanges::Count(int64_t id, const SongGrams& grams, const CommonGrams& current,
                        bool holds) {
    const int64_t step = holds ? 1 : -1;
    grams_[kSongsRow].songs += step;
    const auto word = static_cast<size_t>(id) / 64;
    const uint64_t bit = uint64_t{1} << (static_cast<uint64_t>(id) % 64);
    for (const std::string& token : TokensOf(grams)) {
        Change& change = grams_[token];
        change.songs += step;
        if (!change.bits) {
            const auto found = current.grams_.find(token);
            if (found == current.grams_.end()) continue;
            change.bits = std::make_unique<SongBits>(*found->second);
        }
        SongBits& bits = *change.bits;
        if (word >= bits.size()) {
            if (!holds) continue;
            bits.resize(word + 1);
        }
        if (holds) {
            bits[word] |= bit;
        } else {
            bits[word] &= ~bit;
        }
        const size_t chunk = word / CommonGrams::kChunkWords;
        if (change.dirtyChunks.size() <= chunk) change.dirtyChunks.resize(chunk + 1);
        change.dirtyChunks[chunk] = 1;
    }
}

std::shared_ptr<const CommonGrams> GramChanges::Apply(sqlite3* db, const CommonGrams& current,
                                                      size_t byteLimit) {
    std::unordered_map<std::string, Change> changes = std::move(grams_);
    grams_.clear();
    {
        Query add(db,
                  "INSERT INTO gram_counts(gram, songs) VALUES(?1, ?2) "
                  "ON CONFLICT(gram) DO UPDATE SET songs = songs + excluded.songs");
        if (!add) return nullptr;
        for (const auto& [gram, change] : changes) {
            if (change.songs == 0) continue;
            BindText(add.statement, 1, gram);
            sqlite3_bind_int64(add.statement, 2, change.songs);
            if (!add.Run()) return nullptr;
        }
        Query forget(db, "DELETE FROM gram_counts WHERE songs <= 0 AND gram <> ''");
        if (!forget || !forget.Run()) return nullptr;
    }
    int64_t songs = 0;
    int64_t lastId = 0;
    {
        Query span(db,
                   "SELECT (SELECT songs FROM gram_counts WHERE gram = ''), "
                   "(SELECT coalesce(max(id), 0) FROM songs)");
        if (!span || sqlite3_step(span.statement) != SQLITE_ROW) return nullptr;
        songs = sqlite3_column_int64(span.statement, 0);
        lastId = sqlite3_column_int64(span.statement, 1);
    }
    // Which grams are common follows from the counts alone, so a change that moves a gram over
    // the threshold, either way, or the threshold itself, gives the sets a fresh reading would.
    const int64_t threshold = std::max(CommonGrams::kFewestCommon, songs / 64);
    const auto words = static_cast<size_t>(lastId / 64 + 1);
    std::vector<std::string> common;
    if (songs > threshold) {
        Query commonest(db,
                        "SELECT gram FROM gram_counts WHERE songs > ?1 AND gram <> '' "
                        "ORDER BY songs DESC, gram LIMIT ?2");
        if (!commonest) return nullptr;
        sqlite3_bind_int64(commonest.statement, 1, threshold);
        sqlite3_bind_int64(commonest.statement, 2,
                           static_cast<int64_t>(byteLimit / (words * sizeof(uint64_t))));
        while (sqlite3_step(commonest.statement) == SQLITE_ROW) {
            common.emplace_back(
                reinterpret_cast<const char*>(sqlite3_column_text(commonest.statement, 0)));
        }
    }

    Query put(db, "INSERT OR REPLACE INTO common_grams(gram, chunk, bits) VALUES(?1, ?2, ?3)");
    Query drop(db, "DELETE FROM common_grams WHERE gram = ?1 AND chunk = ?2");
    Query dropAll(db, "DELETE FROM common_grams WHERE gram = ?1");
    Query holders(
        db,
        R"sql(SELECT rowid FROM song_grams WHERE song_grams MATCH '{singles pairs} : "' || ?1 || '"')sql");
    if (!put || !drop || !dropAll || !holders) return nullptr;
    auto next = std::make_shared<CommonGrams>();
    for (const std::string& gram : common) {
        const auto changed = changes.find(gram);
        if (changed != changes.end() && changed->second.bits) {
            // Common before and touched: only its changed chunks are written.
            const Change& change = changed->second;
            for (size_t chunk = 0; chunk < change.dirtyChunks.size(); ++chunk) {
                if (change.dirtyChunks[chunk] && !WriteChunk(put, drop, gram, *change.bits, chunk))
                    return nullptr;
            }
            next->grams_.emplace(gram, std::move(changed->second.bits));
            continue;
        }
        const auto kept = current.grams_.find(gram);
        if (kept != current.grams_.end()) {
            next->grams_.emplace(gram, kept->second);
            continue;
        }
        // Newly common: its songs come from the full-text index as this transaction has it.
        auto bits = std::make_shared<SongBits>(words);
        BindText(holders.statement, 1, gram);
        int status;
        while ((status = sqlite3_step(holders.statement)) == SQLITE_ROW) {
            const auto id = static_cast<uint64_t>(sqlite3_column_int64(holders.statement, 0));
            if (id / 64 < bits->size()) (*bits)[id / 64] |= uint64_t{1} << (id % 64);
        }
        sqlite3_reset(holders.statement);
        if (status != SQLITE_DONE) return nullptr;
        BindText(dropAll.statement, 1, gram);
        if (!dropAll.Run()) return nullptr;
        for (size_t chunk = 0; chunk * CommonGrams::kChunkWords < bits->size(); ++chunk) {
            if (!WriteChunk(put, drop, gram, *bits, chunk)) return nullptr;
        }
        next->grams_.emplace(gram, std::move(bits));
    }
    for (const auto& [gram, bits] : current.grams_) {
        if (next->grams_.count(gram) != 0) continue;
        BindText(dropAll.statement, 1, gram);
        if (!dropAll.Run()) return nullptr;
    }
    return next;
}

}  // namespace tessel::catalogue
