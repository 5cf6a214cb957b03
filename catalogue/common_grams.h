// The songs of each common gram as a bit set, held in memory while the index is served.
//
// A full-text match of two terms that most songs hold walks both lists whole, even when they
// never meet ("the 的" on a library of English and Chinese titles). With the songs of every
// common gram as bits, such terms meet in a few thousand word ANDs, and every other term has a
// gram held by few songs, whose list is short to walk. So what a search costs is bounded by how
// the index is made, not by a clock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;

namespace tessel::catalogue {

using SongBits = std::vector<uint64_t>;  // bit i: the song with id i

class CommonGrams {
  public:
    // Grams held by more than max(kFewestCommon, songs / 64) songs are common; the commonest are
    // kept up to `byteLimit` bytes of bits. Reads the gram index of `db`; null when it cannot.
    static std::unique_ptr<CommonGrams> Load(sqlite3* db, size_t byteLimit);

    // The songs holding `gram` (a token of TermGrams), or null when it is not a common gram:
    // then fewer than Threshold() songs hold it.
    const SongBits* Find(const std::string& gram) const;
    // Words of every set (ids up to 64 × Words() − 1).
    size_t Words() const { return words_; }
    int64_t Threshold() const { return threshold_; }

    static constexpr int64_t kFewestCommon = 2000;

  private:
    std::unordered_map<std::string, SongBits> grams_;
    size_t words_ = 0;
    int64_t threshold_ = 0;
};

}  // namespace tessel::catalogue
