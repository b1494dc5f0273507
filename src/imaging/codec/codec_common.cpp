#include <cmath>

#include "imaging/codec/codec_internal.h"

namespace kovran::imaging::codec::detail {

namespace {
constexpr double kInchesPerMetre = 39.3701;
}

bool FitsBuffer(long long width, long long height, int channels) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return false;
    const auto bytes = static_cast<unsigned long long>(width) *
                       static_cast<unsigned long long>(height) *
                       static_cast<unsigned long long>(channels);
    return bytes <= kMaxBufferBytes;
}

Failure Fail(std::string* error, const std::string& reason) {
    if (error != nullptr) *error = reason;
    return {};
}

int Channels(Depth depth) {
    return depth == Depth::Rgb ? 3 : 1;
}

bool CheckPicture(const Picture& picture, std::string* error) {
    if (picture.pixels.Empty()) return Fail(error, "empty picture");
    if (picture.pixels.Channels() != Channels(picture.depth))
        return Fail(error, "picture with " + std::to_string(picture.pixels.Channels()) +
                               " samples per pixel for its depth");
    return true;
}

long PixelsPerMetre(double dpi) {
    if (!(dpi > 0.0) || dpi > 1e6) return 0;
    return std::lround(dpi * kInchesPerMetre);
}

double DpiOfPixelsPerMetre(double ppm) {
    if (!(ppm > 0.0)) return 0.0;
    const double dpi = ppm / kInchesPerMetre;
    // Pixels per metre are whole numbers: the integer dpi that was written
    // comes back as itself rather than as 299.9992.
    const double whole = std::round(dpi);
    if (whole > 0.0 && PixelsPerMetre(whole) == std::lround(ppm)) return whole;
    return dpi;
}

void PackBits(const std::uint8_t* pixels, int width, std::uint8_t* bits, int blackBit) {
    const std::uint8_t flip = blackBit != 0 ? 0xff : 0x00;
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        unsigned byte = 0;
        for (int i = 0; i < 8; ++i) byte = (byte << 1) | (pixels[x + i] >= kBilevelSplit ? 1u : 0u);
        *bits++ = static_cast<std::uint8_t>(byte ^ flip);
    }
    if (x < width) {
        unsigned byte = 0;
        int i = 0;
        for (; x < width; ++x, ++i) byte = (byte << 1) | (pixels[x] >= kBilevelSplit ? 1u : 0u);
        byte <<= 8 - i;
        // The padding bits are white.
        const unsigned padMask = (1u << (8 - i)) - 1u;
        byte ^= flip;
        if (blackBit != 0)
            byte &= ~padMask & 0xffu;
        else
            byte |= padMask;
        *bits = static_cast<std::uint8_t>(byte);
    }
}

void UnpackBits(const std::uint8_t* bits, int width, std::uint8_t* pixels, int blackBit) {
    for (int x = 0; x < width; ++x) {
        const int bit = (bits[x >> 3] >> (7 - (x & 7))) & 1;
        pixels[x] = bit == blackBit ? 0 : 255;
    }
}

}  // namespace kovran::imaging::codec::detail
