#pragma once
// What the runtime keeps of the program image: its decoded windows and the way to its handlers.
#include "tessel/image/form.h"
#include "tessel/runtime/units.h"

namespace tessel::qt {

struct LoadedProgram {
    image::Form form;
};
LoadedProgram& Program();
EventHandler LookUpHandler(std::uint32_t codeOffset);

}  // namespace tessel::qt
