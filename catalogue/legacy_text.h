// Texts that older music files keep in a legacy code page: tag fields marked ISO-8859-1 that
// really hold GBK (code page 936) bytes, and file or folder names that are not UTF-8.
//
// Under `auto` such a field is taken as GBK when its bytes decode as GBK and look like Chinese
// rather than like accented Latin letters; otherwise it stays Latin-1, which it claims to be. A
// text "looks like Chinese" when at least one of its double-byte characters has both bytes above
// 0x7F ("Müller", FC 6C, pairs up as GBK only with an ASCII letter) and it is not made of Latin-1
// words: runs of one or two accented letters (C0 to FF) that touch ASCII letters, as in
// "Coração" (E7 E3). A field that is UTF-8 with characters of three or more bytes, as some
// taggers write, is taken as UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessel::catalogue {

enum class LegacyEncoding {
    kAuto,    // GBK when valid and unambiguous, else Latin-1 (tags) or U+FFFD (names)
    kGbk,     // GBK whenever valid, ambiguous texts included
    kLatin1,  // tags as Latin-1, undecodable names with U+FFFD: no GBK at all
    kBig5,    // Big5 (with the Hong Kong additions) whenever valid: never guessed by kAuto
};

// "auto", "gbk", "latin1" or "big5"; nothing for any other name.
std::optional<LegacyEncoding> ParseLegacyEncoding(std::string_view name);
const char* LegacyEncodingName(LegacyEncoding encoding);

// False when the C library has no converter (iconv) for the setting's code page: texts then
// decode as with "latin1".
bool CanDecode(LegacyEncoding encoding);

// A tag field the file stores as ISO-8859-1, as UTF-8. Bytes after a NUL are not part of it.
std::string DecodeLegacyTagText(std::string_view bytes, LegacyEncoding encoding);

// One file or folder name as the file system spells it, as UTF-8: UTF-8 names as they are, others
// as GBK where that is the setting's choice, with U+FFFD for bytes that decode to nothing.
std::string DecodeFileName(std::string_view bytes, LegacyEncoding encoding);

}  // namespace tessel::catalogue
