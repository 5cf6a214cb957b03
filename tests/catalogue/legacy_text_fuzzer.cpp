// Fuzzes the reading of tag texts and file names in legacy code pages: whatever the bytes, the
// answer is well-formed UTF-8, tag texts stop at a NUL, and UTF-8 names come back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "legacy_text.h"
#include "search_text.h"

using namespace tessel::catalogue;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (LegacyEncoding encoding : {LegacyEncoding::kAuto, LegacyEncoding::kGbk,
                                    LegacyEncoding::kLatin1, LegacyEncoding::kBig5}) {
        const std::string tag = DecodeLegacyTagText(bytes, encoding);
        if (!IsValidUtf8(tag) || tag.find('\0') != std::string::npos) std::abort();
        const std::string name = DecodeFileName(bytes, encoding);
        if (!IsValidUtf8(name)) std::abort();
        if (IsValidUtf8(bytes) && name != bytes) std::abort();
        // Latin-1 gives every byte a character: as many as the bytes before the first NUL.
        if (encoding == LegacyEncoding::kLatin1 &&
            CharacterCount(tag) != bytes.substr(0, bytes.find('\0')).size()) {
            std::abort();
        }
    }
    return 0;
}
