#pragma once
// The unit records of the `form` section, field by field, each written once. A walk takes a
// FormEncoder to write a record or a FormDecoder to read one (form_codec.h), so the writer and the
// reader cannot disagree on the order.
#include <array>
#include <string>
#include <variant>

#include "form_codec.h"

namespace tessel::image::form_records {

using form_codec::Field;

constexpr std::size_t kRecordPad = 20;
constexpr std::size_t kMenuTailPad = 16;
constexpr std::size_t kEventSize = 8;
constexpr std::size_t kExtentSize = 8;  // the control's extent closes its record

// 25 bytes that are the same in every record but a menu item's: all zero but one 4.
constexpr std::array<std::uint8_t, 25> kCommonBlock = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4,
                                                       0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// Properties of a type the codec does not know: the rest of the record as it is.
template <class Codec>
void Properties(Codec& c, std::uint32_t, Field<Codec, Bytes> p) {
    c.Rest(p);
}

template <class Codec>
void Properties(Codec& c, std::uint32_t type, Field<Codec, WindowProperties> p) {
    c.Version(PropertiesVersion(type));
    c.Word(p.border);
    c.Word(p.minimizeButton);
    c.Word(p.maximizeButton);
    c.Word(p.startPosition);
    c.SizedBytes(p.icon);
    c.SizedText(p.title);
}

template <class Codec>
void Properties(Codec& c, std::uint32_t type, Field<Codec, LabelProperties> p) {
    c.Version(PropertiesVersion(type));
    c.Word(p.textColour);
    c.Word(p.backColour);
    c.SizedText(p.caption);
}

template <class Codec>
void Properties(Codec& c, std::uint32_t type, Field<Codec, EditBoxProperties> p) {
    c.Version(PropertiesVersion(type));
    c.Word(p.backColour);
    c.SizedText(p.content);
}

template <class Codec>
void Properties(Codec& c, std::uint32_t type, Field<Codec, ButtonProperties> p) {
    c.Version(PropertiesVersion(type));
    c.SizedText(p.caption);
}

template <class Codec>
void Properties(Codec& c, std::uint32_t type, Field<Codec, TimerProperties> p) {
    c.Version(PropertiesVersion(type));
    c.Word(p.period);
}

template <class Codec>
void Properties(Codec& c, std::uint32_t type, Field<Codec, StatusBarProperties> p) {
    c.Version(PropertiesVersion(type));
    c.Counted(p.panes, [](Codec& c, Field<Codec, StatusPane> pane) {
        c.Word(pane.width);
        c.SizedText(pane.text);
        c.SizedText(pane.unusedText);
    });
}

template <class Codec>
void Properties(Codec& c, std::uint32_t type, Field<Codec, ReportListProperties> p) {
    c.Version(PropertiesVersion(type));
    c.Word(p.viewType);
    c.Word(p.backColour);
    c.Counted(p.columns, [](Codec& c, Field<Codec, ListColumn> column) {
        c.SizedText(column.text);
        c.Signed(column.image);
        c.Word(column.alignment);
        c.Word(column.width);
        c.SizedText(column.header);
    });
}

// One stored control property: its variant type, then the value in that type's size.
template <class Codec>
void ControlProperty(Codec& c, Field<Codec, ControlValue> v) {
    c.HalfWord(v.type);
    switch (v.type) {
        case ControlValue::kInteger:
            c.Signed(v.integer);
            break;
        case ControlValue::kDouble:
            c.Double(v.number);
            break;
        case ControlValue::kLogical:
            c.Logical(v.logical);
            break;
        case ControlValue::kText:
            c.Utf16Text(v.text);
            break;
        default:
            // Not one the control stores: the decoder refuses it, the encoder writes an integer.
            c.UnknownValueType();
            c.Signed(v.integer);
            break;
    }
}

// The control's properties carry their own signature and version in place of the version word.
template <class Codec>
void Properties(Codec& c, std::uint32_t, Field<Codec, MediaPlayerProperties> p) {
    c.Word(p.signature);
    c.Word(p.version);
    c.FixedBytes(p.header);
    c.RunBefore(p.values, kExtentSize,
                [](Codec& c, Field<Codec, ControlValue> v) { ControlProperty(c, v); });
    c.Word(p.extentX);
    c.Word(p.extentY);
}

// Walked by MenuItem: a menu item's record stores no version word or properties of its own.
template <class Codec>
void Properties(Codec&, std::uint32_t, Field<Codec, MenuItemProperties>) {}

// A menu item's record ends with the item itself; it has no geometry, events or properties.
template <class Codec>
void MenuItem(Codec& c, Field<Codec, MenuItemProperties> m) {
    c.Word(m.level);
    c.Word(m.menuBarWord);
    c.Text(m.caption);
    c.Word(m.clickHandler);
    c.Zeros(kMenuTailPad);
    c.RecordEnds([] { return std::string("menu item record has the wrong length"); });
}

// One unit record after its length word.
template <class Codec>
void UnitRecord(Codec& c, Field<Codec, Unit> u) {
    c.Word(u.type);
    c.Zeros(kRecordPad);
    c.Text(u.name);
    c.Text(u.comment);
    c.Zeros(4);
    c.ChooseProperties(u);
    if (auto* menu = std::get_if<MenuItemProperties>(&u.properties)) return MenuItem(c, *menu);
    c.Signed(u.left);
    c.Signed(u.top);
    c.Signed(u.width);
    c.Signed(u.height);
    c.Constant(kCommonBlock);
    c.Word(u.flags);
    c.Zeros(4);
    c.CountedOfSize(u.events, kEventSize, "event count runs past the record",
                    [](Codec& c, Field<Codec, FormEvent> e) {
                        c.Signed(e.number);
                        c.Word(e.codeOffset);
                    });
    c.Zeros(kRecordPad);
    c.PartRead("unit record is truncated");
    std::visit([&](auto& p) { Properties(c, u.type, p); }, u.properties);
    c.RecordEnds([&] {
        return "properties of a unit of type " + std::to_string(u.type) + " do not fit its record";
    });
}

}  // namespace tessel::image::form_records
