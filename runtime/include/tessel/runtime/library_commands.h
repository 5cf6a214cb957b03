#pragma once
// Command numbers of the support libraries, reached through the library-command slot by row.
#include <cstdint>

namespace tessel {

// ferry (row 2): the network transfer object.
namespace ferry {
enum Command : std::uint32_t {
    kStartDownload = 1,  // (holder as 0x30001, settings record as 0x30004) -> logical
    kCurrentSpeed = 2,   // () -> integer bytes per second; 0 when no transfer runs
    kRelease = 3,        // (holder as 0x30001) -> omitted
};
}  // namespace ferry

}  // namespace tessel
