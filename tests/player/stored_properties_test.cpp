// The form's stored values of the media player control become the host's properties one by one:
// each case stores one value of its type among values of no type, so a value read from the wrong
// place, or into the wrong property, fails its case.
#include "stored_properties.h"

#include <gtest/gtest.h>

namespace tessel::player {
namespace {

using image::ControlValue;

ControlValue Text(const char16_t* text) {
    return ControlValue::OfText(text);
}
ControlValue Number(double number) {
    return ControlValue::OfDouble(number);
}
ControlValue Integer(std::int32_t integer) {
    return ControlValue::OfInteger(integer);
}
ControlValue Logical(bool logical) {
    return ControlValue::OfLogical(logical);
}

TEST(StoredPlayerProperties, EachStoredValueLandsInItsOwnProperty) {
    struct Case {
        ControlValue value;  // a value other than the property's default
        void (*expect)(PlayerProperties&);
    };
    using P = PlayerProperties;
    const Case cases[] = {
        {Text(u"a.mp3"), [](P& p) { p.url = L"a.mp3"; }},
        {Number(0.5), [](P& p) { p.rate = 0.5; }},
        {Integer(-30), [](P& p) { p.balance = -30; }},
        {Number(12.5), [](P& p) { p.currentPosition = 12.5; }},
        {Text(u"frame"), [](P& p) { p.defaultFrame = L"frame"; }},
        {Integer(3), [](P& p) { p.playCount = 3; }},
        {Logical(false), [](P& p) { p.autoStart = false; }},
        {Integer(2), [](P& p) { p.currentMarker = 2; }},
        {Logical(false), [](P& p) { p.invokeURLs = false; }},
        {Text(u"http://b/"), [](P& p) { p.baseURL = L"http://b/"; }},
        {Integer(40), [](P& p) { p.volume = 40; }},
        {Logical(true), [](P& p) { p.mute = true; }},
        {Text(u"none"), [](P& p) { p.uiMode = L"none"; }},
        {Logical(true), [](P& p) { p.stretchToFit = true; }},
        {Logical(true), [](P& p) { p.windowlessVideo = true; }},
        {Logical(false), [](P& p) { p.enabled = false; }},
        {Logical(false), [](P& p) { p.enableContextMenu = false; }},
        {Logical(true), [](P& p) { p.fullScreen = true; }},
        {Text(u"style"), [](P& p) { p.samiStyle = L"style"; }},
        {Text(u"lang"), [](P& p) { p.samiLang = L"lang"; }},
        {Text(u"file.smi"), [](P& p) { p.samiFilename = L"file.smi"; }},
        {Text(u"caption"), [](P& p) { p.captioningId = L"caption"; }},
        {Logical(true), [](P& p) { p.enableErrorDialogs = true; }},
    };
    // VT_EMPTY: a value of no type, with which every property keeps its default.
    ControlValue untyped;
    untyped.type = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        image::MediaPlayerProperties stored;
        stored.values.assign(std::size(cases), untyped);
        stored.values[i] = cases[i].value;
        PlayerProperties expected;
        cases[i].expect(expected);
        EXPECT_TRUE(PropertiesFrom(&stored) == expected) << "stored value " << i;
    }
}

TEST(StoredPlayerProperties, TheExtentAndMissingValuesKeepTheirDefaults) {
    EXPECT_TRUE(PropertiesFrom(nullptr) == PlayerProperties{});
    image::MediaPlayerProperties stored;
    stored.values = {Integer(1)};  // a stored address of another type
    stored.extentX = 5000;
    EXPECT_TRUE(PropertiesFrom(&stored) == PlayerProperties{});  // half an extent is none
    stored.extentY = 600;
    PlayerProperties expected;
    expected.extentWidth = 5000;
    expected.extentHeight = 600;
    EXPECT_TRUE(PropertiesFrom(&stored) == expected);
}

}  // namespace
}  // namespace tessel::player
