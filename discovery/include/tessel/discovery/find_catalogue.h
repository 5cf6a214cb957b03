#pragma once
// STUB for the lead's integration; replaced by the discovery library.
#include <cstdint>
#include "tessel/runtime/text.h"
namespace tessel::discovery {
Text FindCatalogue(std::uint32_t boundMs);
}
