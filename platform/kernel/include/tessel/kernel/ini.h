#pragma once
// Settings files as GBK bytes: a section line in brackets, then key=value lines, CR LF. Kept as our
// own small code so a stored file is the same bytes on every system, whatever its code page.
#include <optional>
#include <string>
#include <string_view>

namespace tessel::platform {

// The value of `key` in `section`, or nothing when the section or key is absent. Section and key
// names match exactly, ASCII letters without regard to case (as Windows does).
std::optional<std::string> IniLookup(std::string_view content, std::string_view section,
                                     std::string_view key);

// `content` with `key` in `section` set to `value`: an existing line is replaced in place, a new
// key goes at the end of its section, a new section at the end of the file.
std::string IniUpdate(std::string_view content, std::string_view section, std::string_view key,
                      std::string_view value);

}  // namespace tessel::platform
