#pragma once
// Unit records as the form stores them, for the window core's tests.
#include <cstdint>
#include <utility>
#include <vector>

#include "tessel/image/form.h"

namespace tessel::windows {

inline image::Unit Record(std::uint32_t id, std::uint32_t kind, std::uint32_t flags,
                          image::UnitProperties properties,
                          std::vector<image::FormEvent> events = {}) {
    image::Unit u{};
    u.id = id;
    u.type = kind;
    u.flags = flags;
    u.left = 10;
    u.top = 20;
    u.width = 30;
    u.height = 40;
    u.properties = std::move(properties);
    u.events = std::move(events);
    return u;
}

// A pop-up menu (level 0) and one of its items (level 1), whose click runs the code at
// `clickAt`.
inline image::Unit MenuRecord(std::uint32_t id) {
    image::MenuItemProperties menu;
    menu.level = 0;
    return Record(id, image::unit_type::kMenuItem, 0, menu);
}
inline image::Unit MenuItemRecord(std::uint32_t id, std::uint32_t clickAt) {
    image::MenuItemProperties item;
    item.level = 1;
    item.clickHandler = clickAt;
    return Record(id, image::unit_type::kMenuItem, 0, item);
}

}  // namespace tessel::windows
