// The songs of each common gram as a bit set, stored in the index and held in memory while it
// is served.
//
// A full-text match of two terms that most songs hold walks both lists whole, even when they
// never meet ("the 的" on a library of English and Chinese titles). With the songs of every
// common gram as bits, such terms meet in a few thousand word ANDs, and every other term has a
// gram held by few songs, whose list is short to walk. So what a search costs is bounded by how
// the index is made, not by a clock.
//
// The index keeps how many songs hold each gram (gram_counts) and the bits of the common ones
// in chunks (common_grams); both are brought up to date in the transaction of every change, so
// a start reads the bits as they are instead of walking the full-text index.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "search_text.h"

struct sqlite3;

namespace tessel::catalogue {

// Bit i: the song with id i. Words past the end are zero, so sets may differ in length.
using SongBits = std::vector<uint64_t>;

// The tables that hold the counts and the bits (added to indexes made without them).
extern const char* const kCommonGramsSchema;

class CommonGrams {
  public:
    // Reads the stored sets of `db`; null when they cannot be read.
    static std::unique_ptr<CommonGrams> Read(sqlite3* db);

    // The songs holding `gram` (a token of TermGrams), or null when it is not a common gram.
    const SongBits* Find(const std::string& gram) const;
    const std::unordered_map<std::string, std::shared_ptr<const SongBits>>& Sets() const {
        return grams_;
    }

    // Grams held by more than max(kFewestCommon, songs / 64) songs are common; the commonest
    // (ties by token) are kept up to the byte limit, counted as max(id) / 64 + 1 words a set.
    static constexpr int64_t kFewestCommon = 2000;
    // Words of one stored chunk: 65,536 songs.
    static constexpr size_t kChunkWords = 1024;

  private:
    friend class GramChanges;
    std::unordered_map<std::string, std::shared_ptr<const SongBits>> grams_;
};

// The changes of one writing transaction to the gram counts and the common sets; Apply writes
// them into the transaction and gives the sets searches see once it is committed. The sets in
// use are never changed: those a change touches are copied first.
class GramChanges {
  public:
    void Add(int64_t id, const SongGrams& grams, const CommonGrams& current);
    void Remove(int64_t id, const SongGrams& grams, const CommonGrams& current);
    // Writes the counts and the changed chunks through `db` (inside its transaction) and returns
    // the sets that hold from its commit on: grams that became common are read from the
    // full-text index, those no longer common are dropped. Null when the index cannot be
    // written. The changes are spent either way.
    std::shared_ptr<const CommonGrams> Apply(sqlite3* db, const CommonGrams& current,
                                             size_t byteLimit);
    void Clear() { grams_.clear(); }

  private:
    struct Change {
        int64_t songs = 0;                 // songs that came minus songs that went
        std::unique_ptr<SongBits> bits;    // a copy of the current set, when common
        std::vector<uint8_t> dirtyChunks;  // chunks of `bits` changed
    };
    void Count(int64_t id, const SongGrams& grams, const CommonGrams& current, bool holds);
    std::unordered_map<std::string, Change> grams_;
};

}  // namespace tessel::catalogue
