#pragma once
// Commands of the runtime kernel library reached through the kernel-command slot, with typed
// wrappers. The numbering is the runtime's own; the comments give each command's arguments and
// result as value records.
#include <cstdint>
#include <string_view>

#include "tessel/runtime/text.h"

namespace tessel {

namespace kernel {
enum Command : std::uint32_t {
    // Texts. Positions are 1-based byte positions; a search that finds nothing gives -1.
    kFindText = 1,  // (text, sought, start integer|omitted, ignoreCase logical|omitted) -> integer
    kFindTextBackward,  // (text, sought, start integer|omitted = end, ignoreCase|omitted) ->
                        // integer
    kLeftText,          // (text, count integer) -> text
    kRightText,         // (text, count integer) -> text
    kMidText,           // (text, start integer, count integer) -> text
    kTrimText,          // (text) -> text without leading and trailing blanks
    kLowerText,         // (text) -> text, ASCII letters lowered, double-byte characters kept
    kUpperText,         // (text) -> text
    kReplaceAll,        // (text, sought, replacement, ignoreCase logical|omitted) -> text
    kSplitText,         // (text, separator) -> text array (an empty text gives no element)
    kBlanks,            // (count integer) -> text of that many blanks
    kTextToInteger,     // (text) -> integer: leading decimal digits with sign, else 0
    kTextToDouble,      // (text) -> double
    kNumberToText,      // (integer or double) -> text; whole numbers as plain digits
    kRound,             // (double, decimals integer) -> double
    kHexText,           // (integer) -> text, upper-case hexadecimal digits without leading zeros
    kBytesToText,       // (byte array) -> text of its bytes up to the first NUL
    kTextToBytes,       // (text) -> byte array of its bytes without the NUL
    // The system.
    kMessageBox = 100,  // (text, style integer, caption text|omitted) -> integer button
    kReadIni,           // (file, section, key, default text|omitted) -> text
    kWriteIni,          // (file, section, key, value) -> logical
    kFileExists,        // (path) -> logical
    kProgramDirectory,  // () -> text, without a trailing backslash
    kSetClipboardText,  // (text) -> logical
    kPlaySound,         // (byte array holding a WAVE file) -> logical; plays once, async
    // COM objects, reached by late binding.
    kObjectCreate = 200,  // (ProgID text) -> object (empty when it cannot be created)
    kObjectIsEmpty,       // (object) -> logical
    kObjectRelease,       // (object) -> omitted; the reference becomes empty
    kObjectSetProperty,   // (object, name text, value text) -> logical
    kObjectCallText,      // (object, member text, argument text|omitted) -> text
    kObjectCallNumber,    // (object, member text, argument text|omitted) -> double
    kObjectCallLogical,   // (object, member text, argument text|omitted) -> logical
    kObjectCallVariant,  // (object, member text, argument text|omitted) -> omitted; result released
};
}  // namespace kernel

// --- text commands -------------------------------------------------------------------------
std::int32_t FindText(const char* text, const char* sought, std::int32_t start = 0,
                      bool ignoreCase = false);
std::int32_t FindTextBackward(const char* text, const char* sought, std::int32_t start = -1,
                              bool ignoreCase = false);
Text LeftText(const char* text, std::int32_t count);
Text RightText(const char* text, std::int32_t count);
Text MidText(const char* text, std::int32_t start, std::int32_t count);
Text TrimText(const char* text);
Text LowerText(const char* text);
Text UpperText(const char* text);
Text ReplaceAll(const char* text, const char* sought, const char* replacement,
                bool ignoreCase = false);
// An array block of texts; frees its elements and itself.
class TextArray {
  public:
    TextArray() = default;
    explicit TextArray(void* block) : block_(block) {}
    TextArray(TextArray&& o) noexcept : block_(std::exchange(o.block_, nullptr)) {}
    TextArray& operator=(TextArray&& o) noexcept;
    TextArray(const TextArray&) = delete;
    TextArray& operator=(const TextArray&) = delete;
    ~TextArray();
    std::uint32_t size() const { return ElementCount(block_); }
    // 1-based, as the program's arrays are; outside 1..size raises runtime error 4 or 1.
    const char* at(std::uint32_t index) const;
    void* get() const { return block_; }
    void* release() { return std::exchange(block_, nullptr); }
    void reset(void* block);

  private:
    void* block_ = nullptr;
};
TextArray SplitText(const char* text, const char* separator);
Text Blanks(std::int32_t count);
std::int32_t TextToInteger(const char* text);
double TextToDouble(const char* text);
Text NumberToText(double value);
Text IntegerToText(std::int32_t value);
double RoundNumber(double value, std::int32_t decimals);
Text HexText(std::int32_t value);
Text BytesToText(const void* byteArray);
ByteArray TextToBytes(const char* text);

// --- system commands -------------------------------------------------------------------------
// Modal message box; `style` as MessageBox's (0 = one OK button). Answers the button pressed.
std::int32_t ShowMessageBox(const char* text, std::int32_t style = 0,
                            const char* caption = nullptr);
// An absent file, section or key gives `fallback` (the empty text when null).
Text ReadIni(const char* file, const char* section, const char* key,
             const char* fallback = nullptr);
// False when the file could not be written; the file is then left as it was.
bool WriteIni(const char* file, const char* section, const char* key, const char* value);
bool FileExists(const char* path);
// The running program's directory, without a trailing backslash.
Text ProgramDirectory();
bool SetClipboardText(const char* text);
// Plays a WAVE file held in a byte array once, without waiting.
bool PlaySoundBytes(const void* byteArray);

// Builds a text-array block from pieces (used by the kernel and by tests).
void* MakeTextArray(std::uint32_t count, const char* const* texts);
void FreeTextArray(void* block);

}  // namespace tessel
