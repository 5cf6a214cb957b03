#pragma once
// Conversions between the program's GBK texts, UTF-8 and UTF-16 through the system's code-page
// functions (reached as DLL commands).
#include <cstdint>

#include "tessel/runtime/text.h"

namespace tessel {

namespace code_page {
constexpr std::int32_t kSystemAnsi = 0;
constexpr std::int32_t kGbk = 936;
constexpr std::int32_t kUtf8 = 65001;
}  // namespace code_page

// The UTF-16LE code units of `text` read in `codePage`, the terminating zero unit included; an
// empty byte array when the text cannot be converted.
ByteArray TextToUtf16(const char* text, std::int32_t codePage = code_page::kUtf8);
// The UTF-16LE units of `utf16` up to the first zero unit, as a text in `codePage`. Units the
// code page lacks become '?'.
Text Utf16ToText(const void* utf16, std::int32_t codePage = code_page::kSystemAnsi);
Text GbkToUtf8(const char* text);
Text Utf8ToGbk(const char* text);

}  // namespace tessel
