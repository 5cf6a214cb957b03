#include "tone_wav.h"

#include <cmath>
#include <cstdint>

namespace tessel::testing {

std::string MakeToneWav(unsigned seconds) {
    constexpr std::uint32_t kRate = 8000;
    const std::uint32_t samples = kRate * seconds;
    const std::uint32_t dataBytes = samples * 2;
    std::string wav;
    auto put32 = [&wav](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) wav.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto put16 = [&wav](std::uint16_t v) {
        wav.push_back(static_cast<char>(v & 0xFF));
        wav.push_back(static_cast<char>(v >> 8));
    };
    wav += "RIFF";
    put32(36 + dataBytes);
    wav += "WAVEfmt ";
    put32(16);
    put16(1);  // PCM
    put16(1);  // mono
    put32(kRate);
    put32(kRate * 2);
    put16(2);
    put16(16);
    wav += "data";
    put32(dataBytes);
    for (std::uint32_t i = 0; i < samples; ++i) {
        put16(static_cast<std::uint16_t>(
            static_cast<std::int16_t>(3000 * std::sin(2 * 3.14159265 * 440 * i / kRate))));
    }
    return wav;
}

}  // namespace tessel::testing
