#include "tessel/app/search.h"

#include <algorithm>

#include "tessel/app/program.h"
#include "tessel/app/settings.h"
#include "tessel/app/window_units.h"
#include "tessel/http/code_pages.h"
#include "tessel/http/url_encode.h"
#include "tessel/http/web_request.h"
#include "tessel/image/const_values.h"
#include "tessel/json/json_document.h"
#include "tessel/runtime/kernel.h"

namespace tessel::app {

namespace {

constexpr std::int32_t kPageSize = 20;
constexpr std::int32_t kPages = 3;
constexpr std::int32_t kEnterKey = 13;
// A page of twenty songs is a few KB and the collection list of a large library a few hundred:
// an answer longer than this is none of the catalogue's, and is not read on.
constexpr std::uint32_t kLongestAnswer = 4 * 1024 * 1024;

Text TwoDigits(std::int32_t n) {
    const Text digits = IntegerToText(n);
    if (n >= 10) return Text::Copy(digits.view());
    return Text(JoinTexts({texts::kZeroText, digits.c_str()}));
}

// "data[" + index + tail, the path of one member of one song.
Text SongMember(const char* index, const char* tail) {
    return Text(JoinTexts({texts::kDataIndexOpen, index, tail}));
}

void AppendSongRow(const JsonDocument& document, std::int32_t songIndex) {
    const Text k = IntegerToText(songIndex);
    const Text title = document.GetText(SongMember(k.c_str(), texts::kTitleTail).c_str());
    const Text singer = document.GetText(SongMember(k.c_str(), texts::kAuthorTail).c_str());
    const Text duration = document.GetText(SongMember(k.c_str(), texts::kDurationTail).c_str());
    const std::int32_t seconds = TextToInteger(duration.c_str());
    const Text address = document.GetText(SongMember(k.c_str(), texts::kPlayUrlTail).c_str());

    const std::int32_t row = ListAppendRow(kSongList);
    const Text number = IntegerToText(ListRowCount(kSongList));
    ListSetCell(kSongList, row, column::kNumber, number.c_str());
    ListSetCell(kSongList, row, column::kTitle, title.c_str());
    ListSetCell(kSongList, row, column::kSinger, singer.c_str());
    ListSetCell(kSongList, row, column::kDuration, FormatDuration(seconds).c_str());
    ListSetCell(kSongList, row, column::kAddress, address.c_str());
}

// What one listing came to: some page read, answers but none read, or no answer at all.
enum class Listing { kRead, kFailed, kNoAnswer };

// The address of a page up to and including "&offset=", on the API host of the moment:
// the keyword search (keyword already encoded) or the collection's songs.
Text PageBase(const Text& collectionId, const Text& encodedKeyword) {
    const Text host = ApiHost();
    if (collectionId.empty()) {
        return Text(JoinTexts({texts::kHttpPrefix, host.c_str(), texts::kSongSearchPath,
                               encodedKeyword.c_str(), texts::kSongSearchQueryTail}));
    }
    return Text(JoinTexts({texts::kHttpPrefix, host.c_str(), texts::kCollectionsPath,
                           collectionId.c_str(), texts::kCollectionSongsTail}));
}

Listing ListPages(JsonDocument& document, const Text& collectionId, const Text& encodedKeyword) {
    const Text base = PageBase(collectionId, encodedKeyword);
    // Emptied before the first request, so the list is empty while the requests run.
    ListDeleteAll(kSongList);

    // Every page is asked for: a short or failed page does not end the listing.
    bool anyPageRead = false;
    bool anyAnswer = false;
    for (std::int32_t page = 1; page <= kPages; ++page) {
        const Text offset = IntegerToText((page - 1) * kPageSize);
        const Text address(JoinTexts({base.c_str(), offset.c_str()}));
        const Text answer = FetchAnswer(address.c_str());
        if (!answer.empty()) anyAnswer = true;
        if (!document.Parse(answer.c_str())) continue;
        // A page gives no more than the twenty songs it asked for.
        const std::int32_t songs = DataListLength(document, kPageSize);
        if (songs < 0) continue;
        anyPageRead = true;
        for (std::int32_t i = 1; i <= songs; ++i) AppendSongRow(document, i - 1);
    }
    if (anyPageRead) return Listing::kRead;
    return anyAnswer ? Listing::kFailed : Listing::kNoAnswer;
}

}  // namespace

void ListSongs(Text& collectionId, Text& keyword) {
    JsonDocument document;
    if (collectionId.empty()) keyword = UrlEncode(keyword.c_str(), false, true);
    Listing listing = ListPages(document, collectionId, keyword);
    // Nothing answered at all: a catalogue on the local network may serve instead.
    if (listing == Listing::kNoAnswer && LookForCatalogue())
        listing = ListPages(document, collectionId, keyword);
    if (listing == Listing::kNoAnswer) {
        SayNoCatalogue();
        return;
    }
    TakeBackNoCatalogueAdvice();
    // A listing where no page could be fetched or read says so, instead of "done".
    StatusSetPane(
        kStatusBar, pane::kState,
        listing == Listing::kRead ? texts::kStatusSearchDone : texts::kStatusSearchFailed);
}

Text FetchAnswer(const char* address) {
    WebRequestOptions bounded;
    bounded.bodyLimit = kLongestAnswer;
    const ByteArray body = WebRequest(address, bounded);
    const Text bodyText = BytesToText(body.get());
    return Utf8ToGbk(bodyText.c_str());
}

std::int32_t DataListLength(const JsonDocument& document, std::int32_t most) {
    if (document.TypeOf(texts::kData) != kJsonArray) return -1;
    return std::min(document.Count(texts::kData), most);
}

Text FormatDuration(std::int32_t seconds) {
    if (seconds < 0) seconds = 0;
    std::int32_t minutes = 0;
    std::int32_t rest = seconds;
    if (seconds >= 60) {
        minutes = seconds / 60;
        rest = seconds % 60;
    }
    const Text minuteText = TwoDigits(minutes);
    const Text secondText = TwoDigits(rest);
    return Text(JoinTexts({minuteText.c_str(), texts::kColon, secondText.c_str()}));
}

void OnSearch() {
    if (ReadUnitText(kSearchBox).empty()) {
        ShowMessageBox(texts::kSearchWordEmpty);
        return;
    }
    const UnitRef lastTag = CurrentTag();
    if (IsUnitCreated(lastTag)) SetUnitInteger(lastTag, unit_property::kTextColour, kTagNormal);
    Text keyword = ReadUnitText(kSearchBox);
    Text noCollection;
    ListSongs(noCollection, keyword);
}

void OnSearchBoxKey(std::int32_t keyCode) {
    if (keyCode == kEnterKey) OnSearch();
}

void OnSearchBoxDoubleClick() {
    SetUnitText(kSearchBox, "");
}

}  // namespace tessel::app
