#pragma once
// Song names come from the catalogue service and become file names in the save directory, so
// they are made safe first: no character Windows refuses in a name, no path that leaves the
// directory, no reserved device name, and a whole path that fits in MAX_PATH.
#include <string>
#include <string_view>

namespace tessel {

// The longest path the Windows file functions take without a long-path prefix, in GBK bytes
// (a double-byte character is one UTF-16 unit, so bytes never undercount), terminator excluded.
inline constexpr std::size_t kLongestPath = 259;

// A file name for `stem` + `extension` (e.g. ".mp3") to be placed in `directory` (which ends
// with its separator). All texts are GBK. In the stem, \ / : * ? " < > | and control characters
// become '_' (double-byte characters are kept whole, also when a byte of one looks like '\' or
// '|'), trailing dots and blanks go, and an empty stem becomes "_". A name whose part before the
// first dot is a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, any letter case) gets a leading
// '_'. A stem too long for directory + name to fit in kLongestPath is cut at a character
// boundary; the extension is always kept.
std::string SafeFileName(std::string_view directory, std::string_view stem,
                         std::string_view extension);

// The separator of a directory path: '/' for a POSIX path (one that begins with '/', as the
// native runtime's folders do), '\' for a Windows one (a drive, a share or a relative path).
char DirectorySeparator(std::string_view path);

// Whether a GBK path ends with its separator of its own, not with a double-byte character whose
// second byte is 0x5C.
bool EndsWithSeparator(std::string_view path);

}  // namespace tessel
