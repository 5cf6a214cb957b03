#include "tessel/runtime/value.h"

#include <cstring>

namespace tessel {

Value DoubleValue(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return {static_cast<Word>(static_cast<std::uint32_t>(bits)),
            static_cast<std::uint32_t>(bits >> 32), tag::kDouble};
}

double AsDouble(const Value& v) {
    const std::uint64_t bits =
        (static_cast<std::uint64_t>(v.high) << 32) | static_cast<std::uint32_t>(v.low);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

}  // namespace tessel
