// The icon and the completion sound are drawn and synthesised here at build time.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "tessel/image_tool/program.h"

namespace tessel::image_tool {

using image::Bytes;
using image::ByteWriter;

namespace {

struct Rgb {
    double r, g, b;
};

// A tessellation of triangles: the plane is cut by three families of lines 60 degrees apart,
// each triangle coloured by its position, inside a rounded square with a soft edge.
std::uint32_t IconPixel(int x, int y, int size) {
    const double half = size / 2.0;
    const double px = (x + 0.5 - half) / half;  // -1..1
    const double py = (y + 0.5 - half) / half;
    // Rounded square mask with antialiased edge.
    const double corner = 0.28;
    const double qx = std::max(std::abs(px) - (1 - corner), 0.0);
    const double qy = std::max(std::abs(py) - (1 - corner), 0.0);
    const double outside = std::hypot(qx, qy) - corner;  // > 0 outside
    const double alpha = std::clamp(0.5 - outside * half, 0.0, 1.0);
    if (alpha <= 0) return 0;

    const double scale = 4.0;
    const double u = px * scale;
    const double v = py * scale * 2 / std::numbers::sqrt3;
    const double a = std::floor(u + v / 2);
    const double b = std::floor(v);
    const double c = std::floor(-u + v / 2);
    const int cell = static_cast<int>(a + 2 * b + 3 * c);
    const bool up = static_cast<long long>(a + b + c) % 2 == 0;
    static constexpr Rgb kPalette[] = {
        {0.13, 0.55, 0.60}, {0.20, 0.68, 0.66}, {0.96, 0.74, 0.30},
        {0.92, 0.45, 0.32}, {0.16, 0.38, 0.55}, {0.30, 0.76, 0.55},
    };
    Rgb colour = kPalette[((cell % 6) + 6) % 6];
    if (!up) colour = {colour.r * 0.82, colour.g * 0.82, colour.b * 0.82};
    // Thin light grout between tiles.
    const auto edge = [](double t) { return std::min(t - std::floor(t), std::ceil(t) - t); };
    const double grout = std::min({edge(u + v / 2), edge(v), edge(-u + v / 2)});
    if (grout < 0.04) colour = {0.97, 0.96, 0.92};
    const auto channel = [&](double c) { return static_cast<std::uint32_t>(std::lround(c * 255)); };
    return channel(alpha) << 24 | channel(colour.r) << 16 | channel(colour.g) << 8 |
           channel(colour.b);
}

}  // namespace

Bytes MakeIcon() {
    constexpr int kSize = 128;
    constexpr std::uint32_t kPixels = kSize * kSize * 4;
    constexpr std::uint32_t kMask = kSize * kSize / 8;  // 1 bit per pixel, rows of 16 bytes
    constexpr std::uint32_t kInfo = 40;
    Bytes out;
    ByteWriter w(out);
    // ICONDIR and its one entry.
    w.U16(0);
    w.U16(1);
    w.U16(1);
    w.U8(kSize);
    w.U8(kSize);
    w.U8(0);  // no palette
    w.U8(0);
    w.U16(1);   // planes
    w.U16(32);  // bits per pixel
    w.U32(kInfo + kPixels + kMask);
    w.U32(6 + 16);
    // BITMAPINFOHEADER: the height counts the colour image and the mask.
    w.U32(kInfo);
    w.I32(kSize);
    w.I32(2 * kSize);
    w.U16(1);
    w.U16(32);
    w.U32(0);  // BI_RGB
    w.U32(kPixels + kMask);
    w.U32(0);
    w.U32(0);
    w.U32(0);
    w.U32(0);
    // Rows bottom-up, BGRA.
    for (int y = kSize - 1; y >= 0; --y)
        for (int x = 0; x < kSize; ++x) w.U32(IconPixel(x, y, kSize));
    // AND mask: transparent where alpha is 0.
    for (int y = kSize - 1; y >= 0; --y) {
        for (int x = 0; x < kSize; x += 8) {
            std::uint8_t bits = 0;
            for (int k = 0; k < 8; ++k)
                if ((IconPixel(x + k, y, kSize) >> 24) == 0) bits |= 0x80 >> k;
            w.U8(bits);
        }
    }
    return out;
}

Bytes MakeCompletionSound() {
    constexpr std::uint32_t kRate = 44100;
    constexpr std::uint32_t kFrames = 34560;  // 138240 bytes of samples, about 0.78 s
    constexpr std::uint32_t kDataBytes = kFrames * 4;
    constexpr std::string_view kTitle = "Tessel download complete";
    constexpr std::string_view kSoftware = "tessel-image";
    constexpr std::uint32_t kListBytes = 200;

    Bytes out;
    ByteWriter w(out);
    w.Raw("RIFF");
    w.U32(4 + (8 + 16) + (8 + kListBytes) + (8 + kDataBytes));
    w.Raw("WAVE");
    w.Raw("fmt ");
    w.U32(16);
    w.U16(1);  // PCM
    w.U16(2);
    w.U32(kRate);
    w.U32(kRate * 4);
    w.U16(4);
    w.U16(16);
    // LIST/INFO: title and software, padded to a fixed 200 bytes with a comment.
    w.Raw("LIST");
    w.U32(kListBytes);
    const auto listStart = w.Size();
    w.Raw("INFO");
    const auto chunk = [&](std::string_view id, std::string_view text) {
        w.Raw(id);
        const auto size = static_cast<std::uint32_t>(text.size() + 1);
        w.U32(size);
        w.CString(text);
        if (size % 2 != 0) w.U8(0);
    };
    chunk("INAM", kTitle);
    chunk("ISFT", kSoftware);
    const auto used = w.Size() - listStart + 8;  // + the comment chunk's header
    w.Raw("ICMT");
    w.U32(static_cast<std::uint32_t>(kListBytes - used));
    w.Zeros(kListBytes - used);
    w.Raw("data");
    w.U32(kDataBytes);
    // Two bell-like notes a fifth apart, the second one start later; slightly wider in stereo.
    const double notes[2][2] = {{880.0, 0.0}, {1318.5, 0.12}};
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double left = 0, right = 0;
        for (const auto& note : notes) {
            const double local = t - note[1];
            if (local < 0) continue;
            const double attack = std::min(local / 0.005, 1.0);
            const double envelope = attack * std::exp(-local * 6.0);
            const double tone = std::sin(2 * std::numbers::pi * note[0] * local) +
                                0.3 * std::sin(2 * std::numbers::pi * note[0] * 2.01 * local);
            left += envelope * tone * (note[1] == 0 ? 0.6 : 0.4);
            right += envelope * tone * (note[1] == 0 ? 0.4 : 0.6);
        }
        const double fade = std::min(1.0, (kFrames - i) / (kRate * 0.02));
        const auto sample = [&](double s) {
            return static_cast<std::uint16_t>(static_cast<std::int16_t>(
                std::lround(std::clamp(s * fade * 0.45, -1.0, 1.0) * 32767)));
        };
        w.U16(sample(left));
        w.U16(sample(right));
    }
    return out;
}

}  // namespace tessel::image_tool
