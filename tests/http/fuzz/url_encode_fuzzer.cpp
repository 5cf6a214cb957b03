// Percent encoding and the code-page conversions under it, on any bytes.
#include "fuzz_input.h"
#include "tessel/http/code_pages.h"
#include "tessel/http/url_encode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessel;
    const auto p = fuzz::Pieces(data, size, 2);
    const char* text = p[0].c_str();
    const int flags = p[1].empty() ? 0 : p[1][0];
    const Text encoded = UrlEncode(text, (flags & 1) != 0, (flags & 2) != 0);
    for (const char c : encoded.view()) {
        if (static_cast<unsigned char>(c) >= 0x80) __builtin_trap();  // only ASCII comes out
    }
    Utf8ToGbk(text);
    GbkToUtf8(text);
    return 0;
}
