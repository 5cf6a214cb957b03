#include "tessel/http/code_pages.h"

#include <cstring>

#include "tessel/runtime/dll_commands.h"

namespace tessel {

namespace {

// 32-bit arguments travel as words; negative ones keep their 32-bit form.
Word Int(std::int32_t v) {
    return static_cast<std::uint32_t>(v);
}
Word Ptr(const void* p) {
    return reinterpret_cast<Word>(p);
}
std::int32_t IntResult(Word w) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(w));
}

constexpr std::int32_t kWholeText = -1;  // NUL-terminated source, terminator counted

std::int32_t MultiByteToWideChar(std::int32_t codePage, const char* text, void* out,
                                 std::int32_t outUnits) {
    const Word args[] = {Int(codePage), 0, Ptr(text), Int(kWholeText), Ptr(out), Int(outUnits)};
    return IntResult(CallDll(dll::kMultiByteToWideChar, args));
}

std::int32_t WideCharToMultiByte(std::int32_t codePage, const void* units, std::int32_t count,
                                 char* out, std::int32_t outBytes) {
    const Word args[] = {Int(codePage), 0, Ptr(units), Int(count), Ptr(out), Int(outBytes), 0, 0};
    return IntResult(CallDll(dll::kWideCharToMultiByte, args));
}

}  // namespace

// Sizes are measured in the code page converted to, so the result always fits its buffer.
ByteArray TextToUtf16(const char* text, std::int32_t codePage) {
    const char* source = text != nullptr ? text : "";
    const std::int32_t units = MultiByteToWideChar(codePage, source, nullptr, 0);
    if (units <= 0) return ByteArray::Copy(nullptr, 0);
    const std::uint32_t size = BlockSize(std::uint64_t{static_cast<std::uint32_t>(units)} * 2);
    auto* block = static_cast<std::uint8_t*>(Allocate(BlockSize(std::uint64_t{size} + 8)));
    const std::uint32_t header[2] = {1, size};
    std::memcpy(block, header, sizeof header);
    std::memset(block + 8, 0, size);
    ByteArray out(block);
    if (MultiByteToWideChar(codePage, source, ByteArrayData(out.get()), units) != units) {
        return ByteArray::Copy(nullptr, 0);
    }
    return out;
}

Text Utf16ToText(const void* utf16, std::int32_t codePage) {
    const std::uint32_t units = ByteArrayLength(utf16) / 2;
    if (units == 0) return Text::Copy("");
    const std::uint8_t* data = ByteArrayData(utf16);
    // A block without a zero unit is converted whole rather than read past its end.
    std::int32_t count = static_cast<std::int32_t>(units);
    for (std::uint32_t i = 0; i < units; ++i) {
        if (data[2 * i] == 0 && data[2 * i + 1] == 0) {
            count = kWholeText;
            break;
        }
    }
    const std::int32_t bytes = WideCharToMultiByte(codePage, data, count, nullptr, 0);
    if (bytes <= 0) return Text::Copy("");
    auto* buffer = static_cast<char*>(
        Allocate(BlockSize(std::uint64_t{static_cast<std::uint32_t>(bytes)} + 1)));
    std::memset(buffer, 0, static_cast<std::size_t>(bytes) + 1);
    Text out(buffer);
    if (WideCharToMultiByte(codePage, data, count, buffer, bytes) <= 0) return Text::Copy("");
    return out;  // its NUL is the converted terminator or the one behind the buffer
}

Text GbkToUtf8(const char* text) {
    const ByteArray utf16 = TextToUtf16(text, code_page::kGbk);
    return Utf16ToText(utf16.get(), code_page::kUtf8);
}

Text Utf8ToGbk(const char* text) {
    const ByteArray utf16 = TextToUtf16(text);
    return Utf16ToText(utf16.get(), code_page::kGbk);
}

}  // namespace tessel
