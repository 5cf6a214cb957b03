// What the index's layout tells its users when it cannot be used as it is.
#pragma once

#include <string>

namespace tessel::catalogue {

// How to get a usable index again when `file` cannot be: built anew from the library.
std::string RebuildHint(const std::string& file);

}  // namespace tessel::catalogue
