#include "tessel/app/tags.h"

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
constexpr double kGapAboveList = 10.0;
constexpr double kTolerance = 1e-7;

std::int32_t Cut(double value) {
    return static_cast<std::int32_t>(DoubleToInteger(value));
}

Text CollectionMember(const char* index, const char* tail) {
    return Text(JoinTexts({texts::kDataIndexOpen, index, tail}));
}

}  // namespace

void OnMainWindowCreated() {
    JsonDocument document;
    ShowStoredSaveDirectory();

    const Text host = ApiHost();
    const Text address(JoinTexts({texts::kHttpPrefix, host.c_str(), texts::kCollectionsPath}));
    const Text answer = FetchAnswer(address.c_str());

    UnitRef lastTag{};
    if (document.Parse(answer.c_str())) {
        const std::int32_t collections = document.Count(texts::kData);
        std::int32_t x = 0;
        std::int32_t row = 0;
        for (std::int32_t i = 1; i <= collections; ++i) {
            const Text k = IntegerToText(i - 1);
            const Text name =
                document.GetText(CollectionMember(k.c_str(), texts::kNameTail).c_str());
            const Text id = document.GetText(CollectionMember(k.c_str(), texts::kIdTail).c_str());

            const UnitRef label = CopyUnit(kTagTemplate, tag::kLabel);
            SetUnitShown(label, true);
            SetUnitText(label, name.c_str());
            SetUnitTag(label, id.c_str());

            const double width = name.size() * kWidthPerByte;
            const std::int32_t windowWidth = ReadUnitInteger(kMainWindow, unit_property::kWidth);
            if (x + width + kRightReserve - windowWidth > kTolerance) {
                ++row;
                x = 0;
            }
            SetUnitInteger(label, unit_property::kLeft, Cut(x + kLeftInset));
            SetUnitInteger(label, unit_property::kWidth, Cut(width + kExtraWidth));
            SetUnitInteger(label, unit_property::kHeight, kTagHeight);
            SetUnitInteger(label, unit_property::kTop, Cut(row * kRowPitch + kFirstRowTop));
            SetUnitInteger(label, unit_property::kAttribute24, 1);
            RouteEvents(label, kTagTemplate, tag::kLabel);
            x += ReadUnitInteger(label, unit_property::kWidth);
            lastTag = label;
        }
    }
    // Without a tag the list keeps its design position.
    if (!lastTag.IsSet()) return;
    const std::int32_t bottom = ReadUnitInteger(lastTag, unit_property::kTop) +
                                ReadUnitInteger(lastTag, unit_property::kHeight);
    SetUnitInteger(kSongList, unit_property::kTop, Cut(bottom + kGapAboveList));
}

void OnTagClick() {
    const UnitRef pressed = EventUnit();
    Globals& globals = ProgramGlobals();
    const UnitRef lastTag{globals.currentTagWindow, globals.currentTagUnit};
    if (IsUnitCreated(lastTag)) SetUnitInteger(lastTag, unit_property::kTextColour, kTagNormal);
    SetUnitText(kSearchBox, "");
    SetUnitInteger(pressed, unit_property::kTextColour, kTagHighlight);
    globals.currentTagWindow = pressed.window;
    globals.currentTagUnit = pressed.unit;
    Text collectionId = ReadUnitTag(pressed);
    Text noKeyword;
    ListSongs(collectionId, noKeyword);
}

}  // namespace tessel::app
