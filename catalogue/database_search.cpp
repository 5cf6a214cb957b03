// Keyword searches: which terms the full-text index walks and which the common grams' bits
// answer, the walks themselves, and the page they fill within a bounded number of song checks.
#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <iterator>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <utility>

#include "database.h"
#include "database_reader.h"
#include "search_text.h"
#include "sqlite_statement.h"

namespace tessel::catalogue {
namespace {

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

std::optional<SongRow> SongById(sqlite3_stmt* songById, int64_t id) {
    std::optional<SongRow> row;
    Ready(songById, id);
    if (sqlite3_step(songById) == SQLITE_ROW) row = ReadSongRow(songById);
    sqlite3_reset(songById);
    return row;
}

// How a search finds the songs of its terms.
struct TermPlan {
    std::vector<std::u32string> listed;   // matched through the full-text index
    std::vector<std::u32string> checked;  // common, of several grams: checked on the text
    std::vector<const SongBits*> sets;    // of every gram of the common terms
    // The listed terms with their common grams left out: each run of uncommon grams stays a
    // phrase, the common grams are tried on their bits and the terms so cut on the text.
    std::vector<std::u32string> narrowedMatch;
    std::vector<std::u32string> narrowedTerms;
    std::vector<const SongBits*> narrowedSets;
};

// Adds a listed term (`termSets` holds the bits of its grams, null for an uncommon one) to the
// narrowed match.
void NarrowListedTerm(const std::u32string& term, const std::vector<const SongBits*>& termSets,
                      TermPlan& plan) {
    if (std::all_of(termSets.begin(), termSets.end(),
                    [](const SongBits* bits) { return bits == nullptr; })) {
        plan.narrowedMatch.push_back(term);  // no common gram: the phrase as it is
        return;
    }
    plan.narrowedTerms.push_back(term);
    // Gram k is the pair of characters k and k + 1.
    for (size_t k = 0; k < termSets.size();) {
        if (termSets[k] != nullptr) {
            plan.narrowedSets.push_back(termSets[k++]);
            continue;
        }
        const size_t from = k;
        while (k < termSets.size() && termSets[k] == nullptr) ++k;
        plan.narrowedMatch.push_back(term.substr(from, k - from + 1));
    }
}

// One gram of each term in turn: terms that never meet empty a word of bits within the first
// grams, and the AND of the bits stops there.
std::vector<const SongBits*> InterleavedSets(
    const std::vector<std::vector<const SongBits*>>& commonTermSets) {
    size_t commonGrams = 0;
    for (const std::vector<const SongBits*>& termSets : commonTermSets) {
        commonGrams += termSets.size();
    }
    std::vector<const SongBits*> sets;
    for (size_t round = 0; sets.size() < commonGrams; ++round) {
        for (const std::vector<const SongBits*>& termSets : commonTermSets) {
            if (round < termSets.size()) sets.push_back(termSets[round]);
        }
    }
    return sets;
}

// A term with a gram that is not common is listed; a term of common grams alone is answered by
// their bits, and checked on the text when it has several.
TermPlan PlanTerms(const std::vector<std::u32string>& terms, const CommonGrams& common) {
    TermPlan plan;
    std::vector<std::vector<const SongBits*>> commonTermSets;
    for (const std::u32string& term : terms) {
        std::vector<const SongBits*> termSets;
        for (const std::string& gram : TermGrams(term)) termSets.push_back(common.Find(gram));
        if (std::find(termSets.begin(), termSets.end(), nullptr) != termSets.end()) {
            plan.listed.push_back(term);
            NarrowListedTerm(term, termSets, plan);
            continue;
        }
        commonTermSets.push_back(std::move(termSets));
        if (commonTermSets.back().size() > 1) plan.checked.push_back(term);
    }
    plan.sets = InterleavedSets(commonTermSets);
    return plan;
}

// Fills one page with the songs handed to it in index order: each is checked on the text of the
// checked terms first (at most `checkLimit` of them), then counted off the offset or kept.
class PageCollector {
  public:
    PageCollector(sqlite3_stmt* songById, const std::vector<std::u32string>& checked,
                  int checkLimit, int count, int offset, std::vector<SongRow>& songs)
        : songById_(songById),
          checked_(checked),
          checkLimit_(checkLimit),
          count_(count),
          offset_(offset),
          songs_(songs) {}

    // Takes a song that holds the terms' grams (its row when already read); false once the page
    // is full or the checks spent.
    bool Take(int64_t id, std::optional<SongRow> row) {
        if (!checked_.empty()) {
            if (++checks_ > checkLimit_) {
                tooMuch_ = true;
                return false;
            }
            if (!row) row = SongById(songById_, id);
            if (!row || !TextHoldsEvery(*row, checked_)) return true;
        }
        if (skipped_ < offset_) {
            ++skipped_;
            return true;
        }
        if (!row) row = SongById(songById_, id);
        if (row) songs_.push_back(std::move(*row));
        return songs_.size() < static_cast<size_t>(count_);
    }

    // Counts off `songs` songs at once when none of them needs a check and all lie before the
    // offset; false, counting nothing, otherwise.
    bool SkipWhole(int songs) {
        if (!checked_.empty() || skipped_ + songs > offset_) return false;
        skipped_ += songs;
        return true;
    }

    bool TooMuchWork() const { return tooMuch_; }

  private:
    sqlite3_stmt* const songById_;
    const std::vector<std::u32string>& checked_;
    const int checkLimit_;
    const int count_;
    const int offset_;
    std::vector<SongRow>& songs_;
    int checks_ = 0;
    int skipped_ = 0;
    bool tooMuch_ = false;
};

// The songs of the listed terms' match in index order, tried on the common terms. A narrowed
// match walks no list of a common gram; once its checks are spent, the full match goes on after
// the last song it decided, so the songs found are the same.
class ListedMatchWalk {
  public:
    ListedMatchWalk(sqlite3_stmt* matchIds, sqlite3_stmt* songById, const TermPlan& plan,
                    int narrowedLimit, PageCollector& page)
        : matchIds_(matchIds),
          songById_(songById),
          plan_(plan),
          narrowedLimit_(narrowedLimit),
          page_(page) {}

    // How the reading ended: SQLITE_DONE when it did.
    int Run() {
        if (plan_.narrowedTerms.empty() || !Walk(MatchExpressionFor(plan_.narrowedMatch), true)) {
            Walk(MatchExpressionFor(plan_.listed), false);
        }
        return status_;
    }

  private:
    // False when a narrowed walk spent its checks before it reached the end.
    bool Walk(const std::string& expression, bool narrowed) {
        sqlite3_stmt* s = Ready(matchIds_, expression, decided_);
        int spent = 0;
        bool finished = true;
        while ((status_ = sqlite3_step(s)) == SQLITE_ROW) {
            const int64_t id = sqlite3_column_int64(s, 0);
            const auto bit = static_cast<uint64_t>(id);
            std::optional<SongRow> row;
            if (narrowed) {
                if (!HoldsEvery(plan_.narrowedSets, bit) || !HoldsEvery(plan_.sets, bit)) {
                    decided_ = id;
                    continue;
                }
                if (++spent > narrowedLimit_) {
                    finished = false;
                    break;
                }
                row = SongById(songById_, id);
                decided_ = id;
                if (!row || !TextHoldsEvery(*row, plan_.narrowedTerms)) continue;
            }
            if (HoldsEvery(plan_.sets, bit) && !page_.Take(id, std::move(row))) break;
        }
        if (status_ == SQLITE_ROW) status_ = SQLITE_DONE;
        sqlite3_reset(s);
        return finished;
    }

    sqlite3_stmt* const matchIds_;
    sqlite3_stmt* const songById_;
    const TermPlan& plan_;
    const int narrowedLimit_;
    PageCollector& page_;
    int64_t decided_ = 0;
    int status_ = SQLITE_DONE;
};

// Common terms only: their bits are ANDed a word at a time. An answer decided before any song is
// taken is returned; nothing when the page was filled through `page`.
std::optional<SearchOutcome> WalkCommonBits(const TermPlan& plan, int offset, int checkLimit,
                                            PageCollector& page) {
    const std::vector<const SongBits*>& sets = plan.sets;
    // Past the shortest set no song holds every gram.
    size_t words = sets.empty() ? 0 : sets.front()->size();
    for (const SongBits* bits : sets) words = std::min(words, bits->size());
    std::vector<const uint64_t*> setWords;
    for (const SongBits* bits : sets) setWords.push_back(bits->data());
    auto songsHolding = [&setWords](size_t w) {
        uint64_t word = ~uint64_t{0};
        for (const uint64_t* bits : setWords) {
            word &= bits[w];
            if (word == 0) break;
        }
        return word;
    };
    // Every song before the offset would need a check: such a page is refused at once, unless
    // fewer songs than the offset hold the grams, and the page is empty.
    if (!plan.checked.empty() && offset >= checkLimit) {
        int64_t holding = 0;
        for (size_t w = 0; w < words; ++w) holding += std::popcount(songsHolding(w));
        if (holding > offset) return SearchOutcome::kTooMuchWork;
        return SearchOutcome::kAnswered;
    }
    for (size_t w = 0; w < words; ++w) {
        uint64_t word = songsHolding(w);
        if (word == 0) continue;
        // Songs that need no check are counted off the offset a word at a time.
        if (page.SkipWhole(std::popcount(word))) continue;
        bool more = true;
        for (; word != 0 && more; word &= word - 1) {
            more = page.Take(static_cast<int64_t>(w * 64 + std::countr_zero(word)), std::nullopt);
        }
        if (!more) break;
    }
    return std::nullopt;
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
    const TermPlan plan = PlanTerms(terms, *common);
    const int checkLimit = songChecks_.load();
    const int narrowedLimit = narrowedChecks_.load();
    PageCollector page(reader->song.get(), plan.checked, checkLimit, count, offset, songs);

    int status = SQLITE_DONE;
    if (!plan.listed.empty() && plan.sets.empty() && plan.narrowedTerms.empty()) {
        // Nothing common: the page is the match's, its offset walked over rowids alone.
        status = ReadSongRows(
            Ready(reader->search.get(), MatchExpressionFor(plan.listed), count, offset), songs);
    } else if (!plan.listed.empty()) {
        status =
            ListedMatchWalk(reader->matchIds.get(), reader->song.get(), plan, narrowedLimit, page)
                .Run();
    } else if (const std::optional<SearchOutcome> decided =
                   WalkCommonBits(plan, offset, checkLimit, page)) {
        return *decided;
    }
    if (page.TooMuchWork()) {
        songs.clear();
        return SearchOutcome::kTooMuchWork;
    }
    if (status == SQLITE_DONE) return SearchOutcome::kAnswered;
    songs.clear();
    return SearchOutcome::kFailed;
}

}  // namespace tessel::catalogue
