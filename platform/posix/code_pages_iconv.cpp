// MultiByteToWideChar and WideCharToMultiByte over iconv, with the Windows semantics the program
// relies on: a source length of -1 means NUL-terminated with the terminator counted, an output
// size of 0 asks for the size needed, too small an output fails with 0, and characters the target
// lacks become the default character '?' (U+FFFD for UTF-8). Code page 0, the system ANSI code
// page, is 936 here: the code page of the program's own texts.
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "standin_functions.h"
#include "tessel/posix/standins.h"

namespace tessel::posix {

namespace {

constexpr std::int32_t kUtf8 = 65001;

const char* CodeSet(std::int32_t codePage) {
    switch (codePage) {
        case 0:
        case 936:
            return "CP936";
        case kUtf8:
            return "UTF-8";
        default:
            return nullptr;
    }
}

std::int32_t IntArg(Word w) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(w));
}
Word IntResult(std::int32_t v) {
    return static_cast<std::uint32_t>(v);
}

// iconv descriptors, opened once per conversion and thread (opening one costs more than
// converting a short text) and closed when the thread ends.
class Descriptors {
  public:
    ~Descriptors() {
        for (auto& [names, cd] : open_)
            if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
    iconv_t Get(const char* to, const char* from) {
        auto [it, added] = open_.try_emplace({to, from}, reinterpret_cast<iconv_t>(-1));
        if (added)
            it->second = iconv_open(to, from);
        else if (it->second != reinterpret_cast<iconv_t>(-1))
            iconv(it->second, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        return it->second;
    }

  private:
    std::map<std::pair<std::string, std::string>, iconv_t> open_;
};

// Converts `in` whole. Input iconv rejects is replaced, `step` bytes at a time, by `replacement`;
// `whole`, when given, tells whether nothing had to be replaced.
std::string Convert(const char* to, const char* from, const char* in, std::size_t inSize,
                    std::size_t step, std::string_view replacement, bool* whole = nullptr) {
    thread_local Descriptors descriptors;
    iconv_t cd = descriptors.Get(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (whole != nullptr) *whole = false;
        return {};
    }
    std::string out(inSize * 2 + 16, '\0');
    char* src = const_cast<char*>(in);
    std::size_t srcLeft = inSize;
    std::size_t used = 0;
    while (srcLeft > 0) {
        char* dst = out.data() + used;
        std::size_t dstLeft = out.size() - used;
        const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (r != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ or EINVAL: an unmappable or broken piece of input.
        if (whole != nullptr) *whole = false;
        if (out.size() - used < replacement.size()) out.resize(out.size() * 2 + replacement.size());
        // An empty replacement (dropping the piece) has no data pointer: copy, never memcpy it.
        std::copy(replacement.begin(), replacement.end(),
                  out.begin() + static_cast<std::ptrdiff_t>(used));
        used += replacement.size();
        const std::size_t skip = std::min(step, srcLeft);
        src += skip;
        srcLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(used);
    return out;
}

std::size_t Utf16Length(const std::uint16_t* units) {
    std::size_t n = 0;
    while (units[n] != 0) ++n;
    return n;
}

}  // namespace

// (codePage, flags, source, sourceBytes, units, unitCount) -> units written or needed; 0 = failed
Word MultiByteToWideChar(const Word* a) {
    const char* set = CodeSet(IntArg(a[0]));
    const auto* source = reinterpret_cast<const char*>(a[2]);
    const std::int32_t sourceBytes = IntArg(a[3]);
    auto* out = reinterpret_cast<std::uint16_t*>(a[4]);
    const std::int32_t outUnits = IntArg(a[5]);
    if (set == nullptr || source == nullptr || sourceBytes == 0 || sourceBytes < -1 ||
        outUnits < 0) {
        return 0;
    }
    const std::size_t size =
        sourceBytes == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceBytes);
    const bool utf8 = IntArg(a[0]) == kUtf8;
    const std::string utf16 =
        Convert("UTF-16LE", set, source, size, 1,
                utf8 ? std::string_view("\xFD\xFF", 2) : std::string_view("?\0", 2));
    const auto units = static_cast<std::int32_t>(utf16.size() / 2);
    if (outUnits == 0) return IntResult(units);
    if (out == nullptr || outUnits < units) return 0;
    std::memcpy(out, utf16.data(), utf16.size());
    return IntResult(units);
}

// (codePage, flags, units, unitCount, bytes, byteCount, defaultChar, usedDefault) -> bytes
// written or needed; 0 = failed
Word WideCharToMultiByte(const Word* a) {
    const char* set = CodeSet(IntArg(a[0]));
    const auto* units = reinterpret_cast<const std::uint16_t*>(a[2]);
    const std::int32_t unitCount = IntArg(a[3]);
    auto* out = reinterpret_cast<char*>(a[4]);
    const std::int32_t outBytes = IntArg(a[5]);
    if (set == nullptr || units == nullptr || unitCount == 0 || unitCount < -1 || outBytes < 0) {
        return 0;
    }
    const std::size_t count =
        unitCount == -1 ? Utf16Length(units) + 1 : static_cast<std::size_t>(unitCount);
    const bool utf8 = IntArg(a[0]) == kUtf8;
    // Unmappable input is replaced one code unit at a time, as Windows does.
    const std::string bytes =
        Convert(set, "UTF-16LE", reinterpret_cast<const char*>(units), count * 2, 2,
                utf8 ? std::string_view("\xEF\xBF\xBD") : std::string_view("?"));
    const auto size = static_cast<std::int32_t>(bytes.size());
    if (outBytes == 0) return IntResult(size);
    if (out == nullptr || outBytes < size) return 0;
    std::memcpy(out, bytes.data(), bytes.size());
    return IntResult(size);
}

std::optional<std::string> ConvertWhole(const char* to, const char* from, std::string_view in) {
    bool whole = true;
    std::string out = Convert(to, from, in.data(), in.size(), in.size(), {}, &whole);
    if (!whole) return std::nullopt;
    return out;
}

}  // namespace tessel::posix
