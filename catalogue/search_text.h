// Keyword search over song texts: the gram index that finds any substring, Chinese included.
//
// Every song's title, artist and album are folded to lower case and cut into grams of one and of
// two characters. Each gram is stored as one hex token (its UTF-8 bytes in hex) in a full-text
// table, so the stock tokenizer keeps every gram whole whatever characters it holds. A keyword
// term of one character is looked up as a single gram; a longer term as the phrase of its
// overlapping two-character grams, which matches exactly where the term occurs in one field.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::catalogue {

// The gram columns of one song: `singles` holds every distinct one-character gram, `pairs` the
// two-character grams in text order with a gap token wherever a phrase must not run on.
struct SongGrams {
    std::string singles;
    std::string pairs;
};

SongGrams GramsOf(std::string_view title, std::string_view artist, std::string_view album);

// The whitespace-separated terms of a keyword, folded to lower case. Terms that repeat or lie
// inside another term are left out, as they match wherever the other does: "a a a" is the one
// term "a", "a and" the term "and".
std::vector<std::u32string> KeywordTerms(std::string_view keyword);

// The gram tokens a term is looked up by: its one gram when it is one character, else its
// overlapping two-character grams in order. A song holds the term only if it holds every one.
std::vector<std::string> TermGrams(const std::u32string& term);

// The full-text match expression that finds the songs holding every term in one of their fields.
std::string MatchExpressionFor(const std::vector<std::u32string>& terms);
// The same for a keyword's terms; nothing when the keyword holds no term.
std::optional<std::string> MatchExpressionFor(std::string_view keyword);

// A song text folded as the index folds it, for finding a term in it: a term occurs in a field
// exactly when it is a substring of the folded field.
std::u32string FoldedText(std::string_view text);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text);

// `text` with every byte that does not belong to a well-formed UTF-8 sequence replaced by U+FFFD.
std::string ToValidUtf8(std::string_view text);

// Number of characters of well-formed UTF-8 text.
size_t CharacterCount(std::string_view text);

}  // namespace tessel::catalogue
