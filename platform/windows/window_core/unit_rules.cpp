#include "tessel/window_core/unit_rules.h"

#include <type_traits>
#include <variant>

namespace tessel::windows {

std::string FormText(const image::Unit& record) {
    return std::visit(
        [](const auto& p) -> std::string {
            using P = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<P, image::LabelProperties> ||
                          std::is_same_v<P, image::ButtonProperties>)
                return p.caption;
            else if constexpr (std::is_same_v<P, image::EditBoxProperties>)
                return p.content;
            else if constexpr (std::is_same_v<P, image::WindowProperties>)
                return p.title;
            else
                return {};
        },
        record.properties);
}

Unit* FirstFocus(const std::vector<Unit*>& focusOrder) {
    for (Unit* u : focusOrder)
        if (u->ShownInForm()) return u;
    return nullptr;
}

std::int32_t ShiftState(HeldKeys keys) {
    std::int32_t s = 0;
    if (keys.shift) s |= 1;
    if (keys.control) s |= 2;
    if (keys.alt) s |= 4;
    return s;
}

std::int32_t LeftButtonKeyState(HeldKeys keys) {
    constexpr std::int32_t kLeftButton = 0x0001, kShift = 0x0004, kControl = 0x0008;
    std::int32_t s = kLeftButton;
    if (keys.shift) s |= kShift;
    if (keys.control) s |= kControl;
    return s;
}

ColumnAlignment ColumnAlignmentOf(std::uint32_t storedCode) {
    switch (storedCode) {
        case 1:
            return ColumnAlignment::kCentre;
        case 2:
            return ColumnAlignment::kRight;
        default:
            return ColumnAlignment::kLeft;
    }
}

std::string PlayerUrlTrace(std::string_view utf8Url) {
    return "url " + std::string(utf8Url);
}

std::string PlayerStopTrace() {
    return "stop";
}

std::string PlayerStateTrace(int event, int value) {
    return (event == image::event::kOpenStateChange ? "open-state " : "play-state ") +
           std::to_string(value);
}

}  // namespace tessel::windows
