// URL splitting on any text.
#include "fuzz_input.h"
#include "tessel/http/url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessel;
    const auto p = fuzz::Pieces(data, size, 2);
    const char* url = p[0].c_str();
    UrlHost(url);
    UrlHost(url, true, true);
    UrlHost(url, false, false, fuzz::SmallNumber(p[1]));
    UrlHost(url, true, false, fuzz::SmallNumber(p[1]));
    UrlPort(url);
    UrlPath(url);
    return 0;
}
