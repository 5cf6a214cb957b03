#include "common_grams.h"

#include <sqlite3.h>

#include <algorithm>

namespace tessel::catalogue {
namespace {

// sqlite3_stmt owned for one scope.
struct Query {
    Query(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement, nullptr); }
    ~Query() { sqlite3_finalize(statement); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    sqlite3_stmt* statement = nullptr;
};

}  // namespace

std::unique_ptr<CommonGrams> CommonGrams::Load(sqlite3* db, size_t byteLimit) {
    auto common = std::make_unique<CommonGrams>();
    int64_t lastId = 0;
    int64_t songs = 0;
    {
        Query span(db, "SELECT coalesce(max(id), 0), count(*) FROM songs");
        if (span.statement == nullptr || sqlite3_step(span.statement) != SQLITE_ROW) return nullptr;
        lastId = sqlite3_column_int64(span.statement, 0);
        songs = sqlite3_column_int64(span.statement, 1);
    }
    common->words_ = static_cast<size_t>(lastId / 64 + 1);
    common->threshold_ = std::max(kFewestCommon, songs / 64);
    if (songs <= common->threshold_) return common;  // no gram can be common

    // How many songs hold each gram, as the full-text index counts them (the gap token "0" is
    // never looked up).
    if (sqlite3_exec(db,
                     "CREATE VIRTUAL TABLE IF NOT EXISTS temp.gram_counts "
                     "USING fts5vocab(main, song_grams, row)",
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
        return nullptr;
    }
    std::vector<std::pair<int64_t, std::string>> counted;
    {
        Query counts(db, "SELECT doc, term FROM temp.gram_counts WHERE doc > ?1 AND term <> '0'");
        if (counts.statement == nullptr) return nullptr;
        sqlite3_bind_int64(counts.statement, 1, common->threshold_);
        while (sqlite3_step(counts.statement) == SQLITE_ROW) {
            counted.emplace_back(sqlite3_column_int64(counts.statement, 0),
                                 reinterpret_cast<const char*>(
                                     sqlite3_column_text(counts.statement, 1)));
        }
    }
    // The commonest first, so that a limit leaves out the grams whose lists are shortest; ties
    // by token, so the same index always keeps the same grams.
    std::sort(counted.begin(), counted.end(),
              [](const auto& a, const auto& b) { return a.first != b.first ? a.first > b.first
                                                                           : a.second < b.second; });
    const size_t kept = std::min(counted.size(), byteLimit / (common->words_ * sizeof(uint64_t)));
    if (kept < counted.size()) common->threshold_ = counted[kept].first;
    Query holders(db,
                  R"sql(SELECT rowid FROM song_grams WHERE song_grams MATCH '{singles pairs} : "' || ?1 || '"')sql");
    if (holders.statement == nullptr) return nullptr;
    for (size_t g = 0; g < kept; ++g) {
        SongBits bits(common->words_);
        sqlite3_reset(holders.statement);
        sqlite3_bind_text(holders.statement, 1, counted[g].second.c_str(), -1, SQLITE_TRANSIENT);
        int status;
        while ((status = sqlite3_step(holders.statement)) == SQLITE_ROW) {
            const auto id = static_cast<uint64_t>(sqlite3_column_int64(holders.statement, 0));
            if (id / 64 < bits.size()) bits[id / 64] |= uint64_t{1} << (id % 64);
        }
        if (status != SQLITE_DONE) return nullptr;
        common->grams_.emplace(std::move(counted[g].second), std::move(bits));
    }
    return common;
}

const SongBits* CommonGrams::Find(const std::string& gram) const {
    const auto found = grams_.find(gram);
    return found == grams_.end() ? nullptr : &found->second;
}

}  // namespace tessel::catalogue
