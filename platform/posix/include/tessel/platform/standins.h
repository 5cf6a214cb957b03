#pragma once
// POSIX stand-ins for the Windows functions the program declares as DLL commands. Each takes the
// program's argument words and answers as the Windows function would.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/runtime/value.h"

namespace tessel::posix {

using StandInFunction = Word (*)(const Word* args);

struct StandIn {
    const char* function;      // the exported name it stands in for
    std::uint32_t argCount;    // the real function's argument count
    StandInFunction call;
};

// The stand-in for a declared function, or null when there is none.
const StandIn* FindStandIn(const char* function);

// What the system commands did natively, for tests to look at.
struct SystemRecord {
    std::vector<std::string> messages;       // message box texts, in order
    std::string clipboard;
    std::vector<std::string> soundsPlayed;   // the WAVE bytes of each sound
    std::string programDirectory;  // answered as the program's directory when not empty
};

// A Windows path as a native one: backslashes become slashes (a GBK character whose second
// byte is 0x5C keeps it), and the GBK name becomes UTF-8, as Linux file names are; bytes that are
// no GBK text are kept as they are.
std::string NativePath(std::string_view path);
// `in` converted whole by iconv, or nullopt when a character cannot be converted.
std::optional<std::string> ConvertWhole(const char* to, const char* from, std::string_view in);
SystemRecord& System();

}  // namespace tessel::posix
