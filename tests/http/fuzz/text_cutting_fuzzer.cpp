// Text cutting on any text and markers.
#include "fuzz_input.h"
#include "tessel/runtime/text_cutting.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessel;
    const auto p = fuzz::Pieces(data, size, 4);
    const std::int32_t start = fuzz::SmallNumber(p[3]);
    const bool ignoreCase = start % 2 != 0;
    TextBetween(p[0].c_str(), p[1].c_str(), p[2].c_str(), start, ignoreCase);
    TextAfterColon(p[0].c_str());
    TextBefore(p[0].c_str(), p[1].c_str(), start, ignoreCase);
    return 0;
}
