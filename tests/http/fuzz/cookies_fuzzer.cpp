// Cookie merging on any two lists.
#include "fuzz_input.h"
#include "tessel/http/cookies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessel;
    const auto p = fuzz::Pieces(data, size, 3);
    Text send = Text::Copy(p[0]);
    Text returned = Text::Copy(p[1]);
    const Text merged = MergeCookies(send, returned);
    if (merged.view() != send.view()) __builtin_trap();  // the result is also the new list
    RemoveDuplicateItems(p[0].c_str(), p[2].c_str());
    CookieName(p[1].c_str());
    return 0;
}
