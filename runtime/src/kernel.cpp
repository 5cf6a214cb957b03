#include "tessel/runtime/kernel.h"

#include <cstring>

namespace tessel {

namespace {
Value Call(std::uint32_t command, std::initializer_list<Value> args) {
    return CallKernel(command, std::span<const Value>(args.begin(), args.size()));
}
Text TextResult(std::uint32_t command, std::initializer_list<Value> args) {
    return Text(const_cast<char*>(AsText(Expect(Call(command, args), tag::kText))));
}
std::int32_t IntegerResult(std::uint32_t command, std::initializer_list<Value> args) {
    return AsInteger(Expect(Call(command, args), tag::kInteger));
}
}  // namespace

std::int32_t FindText(const char* text, const char* sought, std::int32_t start, bool ignoreCase) {
    return IntegerResult(kernel::kFindText, {TextValue(text), TextValue(sought),
                                             IntegerValue(start), LogicalValue(ignoreCase)});
}
std::int32_t FindTextBackward(const char* text, const char* sought, std::int32_t start,
                              bool ignoreCase) {
    return IntegerResult(
        kernel::kFindTextBackward,
        {TextValue(text), TextValue(sought), start < 0 ? OmittedValue() : IntegerValue(start),
         LogicalValue(ignoreCase)});
}
Text LeftText(const char* text, std::int32_t count) {
    return TextResult(kernel::kLeftText, {TextValue(text), IntegerValue(count)});
}
Text RightText(const char* text, std::int32_t count) {
    return TextResult(kernel::kRightText, {TextValue(text), IntegerValue(count)});
}
Text MidText(const char* text, std::int32_t start, std::int32_t count) {
    return TextResult(kernel::kMidText,
                      {TextValue(text), IntegerValue(start), IntegerValue(count)});
}
Text TrimText(const char* text) {
    return TextResult(kernel::kTrimText, {TextValue(text)});
}
Text LowerText(const char* text) {
    return TextResult(kernel::kLowerText, {TextValue(text)});
}
Text UpperText(const char* text) {
    return TextResult(kernel::kUpperText, {TextValue(text)});
}
Text ReplaceAll(const char* text, const char* sought, const char* replacement, bool ignoreCase) {
    return TextResult(kernel::kReplaceAll, {TextValue(text), TextValue(sought),
                                            TextValue(replacement), LogicalValue(ignoreCase)});
}

TextArray SplitText(const char* text, const char* separator) {
    const Value v =
        Expect(Call(kernel::kSplitText, {TextValue(text), TextValue(separator)}), tag::kTextArray);
    return TextArray(AsPointer(v));
}

Text Blanks(std::int32_t count) {
    return TextResult(kernel::kBlanks, {IntegerValue(count)});
}
std::int32_t TextToInteger(const char* text) {
    return IntegerResult(kernel::kTextToInteger, {TextValue(text)});
}
double TextToDouble(const char* text) {
    return AsDouble(Expect(Call(kernel::kTextToDouble, {TextValue(text)}), tag::kDouble));
}
Text NumberToText(double value) {
    return TextResult(kernel::kNumberToText, {DoubleValue(value)});
}
Text IntegerToText(std::int32_t value) {
    return TextResult(kernel::kNumberToText, {IntegerValue(value)});
}
double RoundNumber(double value, std::int32_t decimals) {
    return AsDouble(
        Expect(Call(kernel::kRound, {DoubleValue(value), IntegerValue(decimals)}), tag::kDouble));
}
Text HexText(std::int32_t value) {
    return TextResult(kernel::kHexText, {IntegerValue(value)});
}
Text BytesToText(const void* byteArray) {
    return TextResult(kernel::kBytesToText, {ByteArrayValue(byteArray)});
}
ByteArray TextToBytes(const char* text) {
    return ByteArray(
        AsPointer(Expect(Call(kernel::kTextToBytes, {TextValue(text)}), tag::kByteArray)));
}

// --- system commands -------------------------------------------------------------------------
namespace {
bool LogicalResult(std::uint32_t command, std::initializer_list<Value> args) {
    return AsLogical(Expect(Call(command, args), tag::kLogical));
}
}  // namespace

std::int32_t ShowMessageBox(const char* text, std::int32_t style, const char* caption) {
    return IntegerResult(kernel::kMessageBox, {TextValue(text), IntegerValue(style),
                                               caption ? TextValue(caption) : OmittedValue()});
}
Text ReadIni(const char* file, const char* section, const char* key, const char* fallback) {
    return TextResult(kernel::kReadIni, {TextValue(file), TextValue(section), TextValue(key),
                                         fallback ? TextValue(fallback) : OmittedValue()});
}
bool WriteIni(const char* file, const char* section, const char* key, const char* value) {
    return LogicalResult(kernel::kWriteIni,
                         {TextValue(file), TextValue(section), TextValue(key), TextValue(value)});
}
bool FileExists(const char* path) {
    return LogicalResult(kernel::kFileExists, {TextValue(path)});
}
Text ProgramDirectory() {
    return TextResult(kernel::kProgramDirectory, {});
}
bool SetClipboardText(const char* text) {
    return LogicalResult(kernel::kSetClipboardText, {TextValue(text)});
}
bool PlaySoundBytes(const void* byteArray) {
    return LogicalResult(kernel::kPlaySound, {ByteArrayValue(byteArray)});
}

// --- text arrays ---------------------------------------------------------------------------
void* MakeTextArray(std::uint32_t count, const char* const* texts) {
    auto* block =
        static_cast<std::uint8_t*>(Allocate(BlockSize(8 + std::uint64_t{count} * sizeof(char*))));
    const std::uint32_t header[2] = {1, count};
    std::memcpy(block, header, sizeof header);
    for (std::uint32_t i = 0; i < count; ++i) {
        char* copy = CopyText(texts[i]);
        std::memcpy(block + 8 + i * sizeof(char*), &copy, sizeof copy);
    }
    return block;
}

void FreeTextArray(void* block) {
    void* first = nullptr;
    const std::uint32_t n = ElementCount(block, &first);
    for (std::uint32_t i = 0; i < n; ++i) Free(static_cast<char**>(first)[i]);
    Free(block);
}

TextArray& TextArray::operator=(TextArray&& o) noexcept {
    if (this != &o) reset(std::exchange(o.block_, nullptr));
    return *this;
}
TextArray::~TextArray() {
    FreeTextArray(block_);
}
void TextArray::reset(void* block) {
    FreeTextArray(block_);
    block_ = block;
}

const char* TextArray::at(std::uint32_t index) const {
    void* first = nullptr;
    const std::uint32_t n = ElementCount(block_, &first);
    if (index < 1) RaiseRuntimeError(runtime_error::kIndexBelowOne);
    if (index > n) RaiseRuntimeError(runtime_error::kIndexAboveCount);
    return static_cast<char* const*>(first)[index - 1];
}

}  // namespace tessel
