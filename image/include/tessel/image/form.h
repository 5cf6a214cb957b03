#pragma once
// The `form` section: the window list, per window its unit ids, offsets and unit records, and
// per unit type its own stored properties.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "tessel/image/bytes.h"
#include "tessel/runtime/value.h"

namespace tessel::image {

// Type words: high 16 bits the 1-based library number, low 16 bits the type within it; the
// same numbers the program's value records carry as type tags.
namespace unit_type {
constexpr std::uint32_t kWindow = tag::kWindow;
constexpr std::uint32_t kMenuItem = tag::kMenuItem;
constexpr std::uint32_t kEditBox = tag::kEditBox;
constexpr std::uint32_t kLabel = tag::kLabel;
constexpr std::uint32_t kButton = tag::kButton;
constexpr std::uint32_t kTimer = tag::kTimer;
constexpr std::uint32_t kStatusBar = tag::kStatusBar;
constexpr std::uint32_t kReportList = tag::kReportList;
constexpr std::uint32_t kMediaPlayer = tag::kMediaPlayer;
}  // namespace unit_type

// Event numbers as the form binds them to handlers (windows and units number their own events).
namespace event {
constexpr std::int32_t kCreated = 0;     // window
constexpr std::int32_t kCloseQuery = 1;  // window, answers whether it may close
constexpr std::int32_t kDestroying = 2;  // window
constexpr std::int32_t kClick = 0;       // button, menu item
constexpr std::int32_t kLeftButtonDown = -1;
constexpr std::int32_t kDoubleClick = -3;
constexpr std::int32_t kKeyDown = -9;
constexpr std::int32_t kListRightClick = 5;
constexpr std::int32_t kTick = 0;             // timer
constexpr std::int32_t kOpenStateChange = 0;  // media player control
}  // namespace event

// Flag bits of a unit record.
constexpr std::uint32_t kUnitShown = 1;
constexpr std::uint32_t kUnitTakesFocus = 4;

struct FormEvent {
    std::int32_t number = 0;
    std::uint32_t codeOffset = 0;
    bool operator==(const FormEvent&) const = default;
};

struct WindowProperties {
    std::uint32_t border = 1;  // 1: sizable frame with a title bar
    std::uint32_t minimizeButton = 1;
    std::uint32_t maximizeButton = 1;
    std::uint32_t startPosition = 0;  // 0: at the stored left/top
    Bytes icon;                       // a complete .ico file, or empty
    std::string title;                // GBK
    bool operator==(const WindowProperties&) const = default;
};

struct LabelProperties {
    std::uint32_t textColour = 0;          // RGB as 0x00BBGGRR
    std::uint32_t backColour = kNoColour;  // kNoColour: transparent
    std::string caption;
    static constexpr std::uint32_t kNoColour = 0xFFFFFFFF;
    bool operator==(const LabelProperties&) const = default;
};

struct EditBoxProperties {
    std::uint32_t backColour = 0xFFFFFF;
    std::string content;
    bool operator==(const EditBoxProperties&) const = default;
};

struct ButtonProperties {
    std::string caption;
    bool operator==(const ButtonProperties&) const = default;
};

struct TimerProperties {
    std::uint32_t period = 0;  // milliseconds; 0 stands still
    bool operator==(const TimerProperties&) const = default;
};

struct StatusPane {
    std::uint32_t width = 0;
    std::string text;
    std::string unusedText;  // a second text per pane, stored empty
    bool operator==(const StatusPane&) const = default;
};

struct StatusBarProperties {
    std::vector<StatusPane> panes;
    bool operator==(const StatusBarProperties&) const = default;
};

struct ListColumn {
    std::string text;  // stored empty
    std::int32_t image = -1;
    std::uint32_t alignment = 0;
    std::uint32_t width = 0;
    std::string header;
    bool operator==(const ListColumn&) const = default;
};

struct ReportListProperties {
    std::uint32_t viewType = 1;  // report view
    std::uint32_t backColour = 0xFFFFFF;
    std::vector<ListColumn> columns;
    bool operator==(const ReportListProperties&) const = default;
};

// A stored property value of the ActiveX control, tagged with its variant type.
struct ControlValue {
    static constexpr std::uint16_t kInteger = 3;   // VT_I4
    static constexpr std::uint16_t kDouble = 5;    // VT_R8
    static constexpr std::uint16_t kText = 8;      // VT_BSTR: byte length, UTF-16 with terminator
    static constexpr std::uint16_t kLogical = 11;  // VT_BOOL: 2 bytes, -1 true
    std::uint16_t type = kInteger;
    std::int32_t integer = 0;
    double number = 0;
    bool logical = false;
    std::u16string text;

    static ControlValue OfText(std::u16string t) {
        ControlValue v;
        v.type = kText;
        v.text = std::move(t);
        return v;
    }
    static ControlValue OfInteger(std::int32_t n) {
        ControlValue v;
        v.type = kInteger;
        v.integer = n;
        return v;
    }
    static ControlValue OfDouble(double d) {
        ControlValue v;
        v.type = kDouble;
        v.number = d;
        return v;
    }
    static ControlValue OfLogical(bool b) {
        ControlValue v;
        v.type = kLogical;
        v.logical = b;
        return v;
    }
    bool operator==(const ControlValue&) const = default;
};

struct MediaPlayerProperties {
    static constexpr std::uint32_t kSignature = 0x31504D57;  // "WMP1"
    std::uint32_t signature = kSignature;
    std::uint32_t version = 1;
    std::array<std::uint8_t, 5> header{};
    std::vector<ControlValue> values;
    std::uint32_t extentX = 0;  // 0.01 mm
    std::uint32_t extentY = 0;
    bool operator==(const MediaPlayerProperties&) const = default;
};

struct MenuItemProperties {
    std::uint32_t level = 0;  // 0 top, 1 item
    // 3 on the pop-up menu, 0 on its items: its item count or flags that keep it off the menu
    // bar; kept as stored.
    std::uint32_t menuBarWord = 0;
    std::string caption;
    std::uint32_t clickHandler = 0xFFFFFFFF;  // code offset
    bool operator==(const MenuItemProperties&) const = default;
};

// Properties of a type this codec does not know are kept as bytes.
using UnitProperties =
    std::variant<Bytes, WindowProperties, LabelProperties, EditBoxProperties, ButtonProperties,
                 TimerProperties, StatusBarProperties, ReportListProperties, MediaPlayerProperties,
                 MenuItemProperties>;

struct Unit {
    std::uint32_t id = 0;
    std::uint32_t type = 0;
    std::string name;  // GBK
    std::string comment;
    std::int32_t left = 0, top = 0, width = 0, height = 0;
    std::uint32_t flags = 0;
    std::vector<FormEvent> events;
    UnitProperties properties;
    bool operator==(const Unit&) const = default;
};

struct FormWindow {
    std::uint32_t id = 0;
    std::uint32_t listWord = 0;  // the window list's unused word
    std::uint32_t leadWord = 0;  // the unused word in front of the window block
    std::uint32_t classWord = 0;
    std::vector<Unit> units;  // the window's own record first
    bool operator==(const FormWindow&) const = default;
};

struct Form {
    std::vector<FormWindow> windows;
    bool operator==(const Form&) const = default;
};

// Version word each known type's properties begin with.
std::uint32_t PropertiesVersion(std::uint32_t type);

Bytes EncodeForm(const Form& form);

struct FormReadResult {
    bool ok = false;
    std::string error;
    Form form;
};
// Safe on any input.
FormReadResult DecodeForm(std::span<const std::uint8_t> bytes);

}  // namespace tessel::image
