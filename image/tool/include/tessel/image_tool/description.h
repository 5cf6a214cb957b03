#pragma once
// A readable description of the program's windows, from which the builder encodes the `form`
// section. Texts are UTF-8 here (the builder converts them to GBK); events and menu items name
// their handlers, which the builder turns into code offsets of the routine stubs.
#include <cstdint>
#include <string>
#include <vector>

#include "tessel/image/form.h"

namespace tessel::image_tool {

struct EventBinding {
    std::int32_t event = 0;
    std::string handler;
};

struct UnitDescription {
    std::uint32_t id = 0;
    std::uint32_t type = 0;
    std::string name;
    std::int32_t left = 0, top = 0, width = 0, height = 0;
    std::uint32_t flags = 0;
    std::vector<EventBinding> events;
    image::UnitProperties properties;  // texts UTF-8; a window's icon is filled by the builder
};

struct MenuItemDescription {
    std::uint32_t id = 0;
    std::string name;
    std::uint32_t level = 0;
    std::uint32_t menuBarWord = 0;  // as image::MenuItemProperties stores it
    std::string caption;
    std::string handler;  // empty: none
};

struct WindowDescription {
    std::uint32_t id = 0;
    std::uint32_t classWord = image::unit_type::kWindow;
    bool programIcon = false;  // the window shows the program's icon
    UnitDescription self;      // the window's own record
    std::vector<UnitDescription> units;
    std::vector<MenuItemDescription> menu;
};

// The two windows of the program (app/windows.cpp).
std::vector<WindowDescription> ProgramWindows();

}  // namespace tessel::image_tool
