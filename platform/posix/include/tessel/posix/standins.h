#pragma once
// POSIX stand-ins for what the program reaches on Windows: the functions it declares as DLL
// commands (each takes the program's argument words and answers as the Windows function would),
// the Script Control, and the file system and system services its kernel commands use. The
// headless runtime's native services (platform/headless/*_posix.cpp) are made of these.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/kernel/script_results.h"
#include "tessel/runtime/value.h"

namespace tessel::posix {

using StandInFunction = Word (*)(const Word* args);

struct StandIn {
    const char* function;    // the exported name it stands in for
    std::uint32_t argCount;  // the real function's argument count
    StandInFunction call;
};

// The stand-in for a declared function, or null when there is none.
const StandIn* FindStandIn(const char* function);

// Bounds of every web request of the WinInet stand-ins: connecting, and waiting for data once
// connected.
void SetNetworkTimeouts(std::uint32_t connectMs, std::uint32_t receiveMs);

// The Script Control over MuJS: "MSScriptControl.ScriptControl" is the one ProgID it makes.
void* CreateScriptControl(std::string_view progId);  // null for any other ProgID
void ReleaseScriptControl(void* control);
bool SetScriptControlProperty(void* control, std::string_view name, std::string_view value);
platform::ScriptResult CallScriptControl(void* control, std::string_view member,
                                         std::string_view argument);

// What the system commands did natively, for tests to look at.
struct SystemRecord {
    std::vector<std::string> messages;  // message box texts, in order
    std::string clipboard;
    std::vector<std::string> soundsPlayed;  // the WAVE bytes of each sound
    std::string programDirectory;           // answered as the program's directory when not empty
};

// A Windows path as a native one: backslashes become slashes (a GBK character whose second
// byte is 0x5C keeps it), and the GBK name becomes UTF-8, as Linux file names are; bytes that are
// no GBK text are kept as they are.
std::string NativePath(std::string_view path);
// `in` converted whole by iconv, or nullopt when a character cannot be converted.
std::optional<std::string> ConvertWhole(const char* to, const char* from, std::string_view in);
SystemRecord& System();

// Whole files: read into *out (false when it cannot be opened), or replaced by `bytes` through a
// file beside it renamed over it, so a failed write never leaves half a file.
bool ReadWholeFile(const std::string& path, std::string* out);
bool ReplaceWholeFile(const std::string& path, const std::string& bytes);
// Earlier native builds ended a Linux directory with the Windows "\" ("/home/user/Music\"); such
// a value reads as the Linux directory it names ("/home/user/Music/"). Other values are as stored.
std::string LinuxDirectoryOfEarlierBuilds(std::string value);
// The directory of the running executable.
std::string ExecutableDirectory();

}  // namespace tessel::posix
