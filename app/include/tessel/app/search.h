#pragma once
// Song search and listing: a keyword or a collection id becomes three pages of song rows.
#include <cstdint>

#include "tessel/json/json_document.h"
#include "tessel/runtime/text.h"

namespace tessel::app {

// Empties the song list and fills it from the three pages (offsets 0, 20, 40) of the keyword
// search, or of the collection's songs when `collectionId` is not empty. In the keyword case
// `keyword` is replaced by its percent-encoded UTF-8 form. A page gives at most twenty songs and
// counts only when its answer is of bounded size and its "data" a list. Pane 0 then says the
// listing is done, or that it failed when not one page counted.
void ListSongs(Text& collectionId, Text& keyword);

// The catalogue's answer at `address` (a GET), as a GBK text; empty when nothing came or the
// answer was longer than any of the catalogue's (a few MB).
Text FetchAnswer(const char* address);

// How many entries of the parsed answer's "data" to read: the length of that list, at most
// `most`; -1 when "data" is no list. The catalogue's error answers ({"status_code":503,...})
// have none, and a text there would otherwise count its characters.
std::int32_t DataListLength(const JsonDocument& document, std::int32_t most);

// "mm:ss" with at least two digits each; minutes are not capped (3600 gives 60:00). A negative
// count, which the service never sends, reads as 00:00.
Text FormatDuration(std::int32_t seconds);

// The handlers of the search box and the search button.
void OnSearch();
void OnSearchBoxKey(std::int32_t keyCode);
void OnSearchBoxDoubleClick();

}  // namespace tessel::app
