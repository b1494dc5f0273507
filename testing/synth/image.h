// The synthesizer's rasters are the library's image buffers: scans are 8-bit
// grey (one channel) or RGB (three, interleaved), and ink coverage is a
// one-channel buffer from 0 (paper) to kFullInk.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/image_view.h"

namespace kovran::synth {

using imaging::ImageBuffer;

inline constexpr std::uint8_t kFullInk = 255;

// Coverage in [0, 1] as a coverage byte, rounded.
inline std::uint8_t CoverageByte(double a) {
    return static_cast<std::uint8_t>(std::clamp(a, 0.0, 1.0) * kFullInk + 0.5);
}
// The pixels alone (without size or resolution), e.g. to compare two renderings.
inline std::vector<std::uint8_t> PixelBytes(const ImageBuffer& image) {
    return {image.Data(), image.Data() + image.Bytes()};
}

// A coverage byte as a share of full ink.
inline float CoverageShare(std::uint8_t v) {
    return static_cast<float>(v) / kFullInk;
}

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// Paints colour over the image where the coverage (placed with its
// origin at ox, oy) has ink: out = out * (1 - a) + colour * a.
void PaintCoverage(ImageBuffer& image, const ImageBuffer& coverage, int ox, int oy, Rgb colour,
                   float opacity = 1.0f);

// Multiplies the image by a transmission: out = out * (1 - a * (1 - colour)),
// the way overprinted ink darkens what is below it.
void MultiplyCoverage(ImageBuffer& image, const ImageBuffer& coverage, int ox, int oy, Rgb colour);

// Luma of an RGB image (ITU-R BT.601 weights); a grey image is copied.
ImageBuffer ToGrey(const ImageBuffer& image);

}  // namespace kovran::synth
