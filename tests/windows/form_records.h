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

}  // namespace tessel::windows
