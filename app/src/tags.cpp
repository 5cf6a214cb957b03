#include "tessel/app/tags.h"

#include <algorithm>
#include <cstdint>

#include "tessel/app/program.h"
#include "tessel/app/save_directory.h"
#include "tessel/app/search.h"
#include "tessel/app/settings.h"
#include "tessel/app/window_units.h"
#include "tessel/image/const_values.h"
#include "tessel/json/json_document.h"
#include "tessel/runtime/kernel.h"

namespace tessel::app {

namespace {

// The tag layout, in pixels. Widths come from the caption's length in GBK bytes.
constexpr double kWidthPerByte = 5.0;
constexpr double kRightReserve = 24.0;
constexpr double kLeftInset = 8.0;
constexpr double kExtraWidth = 16.0;
constexpr std::int32_t kTagHeight = 20;
constexpr double kRowPitch = 20.0;
constexpr double kFirstRowTop = 48.0;
constexpr std::int32_t kGapAboveList = 10;
constexpr double kTolerance = 1e-7;
// The least height the song list keeps: ten rows of songs of 18 px under a header of 24, with
// its border of 2. Wine 8 draws rows of 15 and a header of 21, the native program's list rows
// of 15 under a header of 19 (twelve rows in this room); the rest is for larger system fonts and
// themes.
constexpr std::int32_t kListRoomForTenRows = 24 + 10 * 18 + 2 * 2;

std::int32_t Cut(double value) {
    return static_cast<std::int32_t>(DoubleToInteger(value));
}

Text CollectionMember(const char* index, const char* tail) {
    return Text(JoinTexts({texts::kDataIndexOpen, index, tail}));
}

// The collection list of the catalogue at the API host of the moment.
Text FetchCollections() {
    const Text host = ApiHost();
    const Text address(JoinTexts({texts::kHttpPrefix, host.c_str(), texts::kCollectionsPath}));
    return FetchAnswer(address.c_str());
}

// The room the song list may fill: the status bar docks to the bottom of the main window's
// client area across its whole width, so its top ends the room and its right edge is the client
// area's.
struct ListRoom {
    std::int32_t bottom = 0;
    std::int32_t right = 0;
};
ListRoom RoomAboveStatusBar() {
    return {ReadUnitInteger(kStatusBar, unit_property::kTop),
            ReadUnitInteger(kStatusBar, unit_property::kLeft) +
                ReadUnitInteger(kStatusBar, unit_property::kWidth)};
}

// One tag per collection, in rows under the search box, as long as a row leaves the list room
// for ten songs above the status bar; the collections that do not fit get no tag (each one
// would be a window of its own). Answers the last tag made, or an unset reference.
UnitRef LayOutTags(const JsonDocument& document, std::int32_t roomBottom) {
    UnitRef lastTag{};
    const std::int32_t collections = DataListLength(document, INT32_MAX);
    const std::int32_t windowWidth = ReadUnitInteger(kMainWindow, unit_property::kWidth);
    std::int32_t x = 0;
    std::int32_t row = 0;
    for (std::int32_t i = 1; i <= collections; ++i) {
        const Text k = IntegerToText(i - 1);
        const Text name = document.GetText(CollectionMember(k.c_str(), texts::kNameTail).c_str());
        const double width = name.size() * kWidthPerByte;
        if (x + width + kRightReserve - windowWidth > kTolerance) {
            ++row;
            x = 0;
        }
        const std::int32_t top = Cut(row * kRowPitch + kFirstRowTop);
        if (top + kTagHeight + kGapAboveList + kListRoomForTenRows > roomBottom) break;

        const Text id = document.GetText(CollectionMember(k.c_str(), texts::kIdTail).c_str());
        const UnitRef label = CopyUnit(kTagTemplate, tag::kLabel);
        SetUnitShown(label, true);
        SetUnitText(label, name.c_str());
        SetUnitTag(label, id.c_str());
        SetUnitInteger(label, unit_property::kLeft, Cut(x + kLeftInset));
        SetUnitInteger(label, unit_property::kWidth, Cut(width + kExtraWidth));
        SetUnitInteger(label, unit_property::kHeight, kTagHeight);
        SetUnitInteger(label, unit_property::kTop, top);
        SetUnitInteger(label, unit_property::kTagMark, 1);
        RouteEvents(label, kTagTemplate, tag::kLabel);
        x += ReadUnitInteger(label, unit_property::kWidth);
        lastTag = label;
    }
    return lastTag;
}

}  // namespace

void OnMainWindowCreated() {
    JsonDocument document;
    ShowStoredSaveDirectory();

    Text answer = FetchCollections();
    // Nothing answered: the local catalogue is not there, one on the local network may be.
    if (answer.empty() && LookForCatalogue()) answer = FetchCollections();
    if (answer.empty()) SayNoCatalogue();

    const ListRoom room = RoomAboveStatusBar();
    UnitRef lastTag{};
    if (document.Parse(answer.c_str())) lastTag = LayOutTags(document, room.bottom);

    // The list lies between the last row of tags (without tags: its design top) and the status
    // bar, inside the client area with the same margin on the right as on the left.
    const std::int32_t top =
        lastTag.IsSet() ? ReadUnitInteger(lastTag, unit_property::kTop) +
                              ReadUnitInteger(lastTag, unit_property::kHeight) + kGapAboveList
                        : ReadUnitInteger(kSongList, unit_property::kTop);
    const std::int32_t left = ReadUnitInteger(kSongList, unit_property::kLeft);
    SetUnitInteger(kSongList, unit_property::kTop, top);
    SetUnitInteger(kSongList, unit_property::kWidth, std::max(room.right - 2 * left, 0));
    SetUnitInteger(kSongList, unit_property::kHeight, std::max(room.bottom - top, 0));
}

void OnTagClick() {
    const UnitRef pressed = EventUnit();
    const UnitRef lastTag = CurrentTag();
    if (IsUnitCreated(lastTag)) SetUnitInteger(lastTag, unit_property::kTextColour, kTagNormal);
    SetUnitText(kSearchBox, "");
    SetUnitInteger(pressed, unit_property::kTextColour, kTagHighlight);
    SetCurrentTag(pressed);
    Text collectionId = ReadUnitTag(pressed);
    Text noKeyword;
    ListSongs(collectionId, noKeyword);
}

}  // namespace tessel::app
