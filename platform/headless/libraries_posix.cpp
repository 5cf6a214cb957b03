// Natively the headless runtime answers the transfer library (row 2) itself, with ferry's engine
// in process, so the program's downloads work headless.
#include "tessel/ferry/commands.h"
#include "tessel/headless/headless.h"
#include "tessel/runtime/value.h"

namespace tessel::headless {

LibraryHandler BuiltInLibrary(std::uint32_t row) {
    return row == tessel::row::kFerry ? &ferry::RunCommand : nullptr;
}

}  // namespace tessel::headless
