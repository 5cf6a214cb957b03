#pragma once
// Turns fuzzer bytes into the program's texts: pieces separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tessel/headless/headless.h"

namespace tessel::fuzz {

inline std::vector<std::string> Pieces(const std::uint8_t* data, std::size_t size,
                                       std::size_t count) {
    static const bool installed = (headless::Install(), true);
    (void)installed;
    std::vector<std::string> pieces(count);
    std::size_t k = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            if (++k == count) break;
            continue;
        }
        pieces[k].push_back(static_cast<char>(data[i]));
    }
    return pieces;
}

inline std::int32_t SmallNumber(const std::string& s) {
    return s.empty() ? 0 : static_cast<std::int32_t>(static_cast<unsigned char>(s[0]) % 16) - 4;
}

}  // namespace tessel::fuzz
