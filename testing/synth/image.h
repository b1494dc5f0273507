// Plain raster types of the document synthesizer: an 8-bit image with one
// (grey) or three (RGB, interleaved) channels, and a float plane used for ink
// coverage and signal work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace kovran::synth {

struct Image {
    int width = 0;
    int height = 0;
    int channels = 1;  // 1 grey, 3 RGB
    std::vector<std::uint8_t> pixels;

    Image() = default;
    Image(int w, int h, int c, std::uint8_t fill = 255) : width(w), height(h), channels(c) {
        if (w <= 0 || h <= 0 || (c != 1 && c != 3) || static_cast<long long>(w) * h > (1LL << 28))
            throw std::invalid_argument("image size out of range");
        pixels.assign(static_cast<std::size_t>(w) * h * c, fill);
    }
    std::uint8_t* row(int y) {
        return pixels.data() + static_cast<std::size_t>(y) * width * channels;
    }
    const std::uint8_t* row(int y) const {
        return pixels.data() + static_cast<std::size_t>(y) * width * channels;
    }
    std::uint8_t& at(int x, int y, int c = 0) {
        return pixels[(static_cast<std::size_t>(y) * width + x) * channels + c];
    }
    std::uint8_t at(int x, int y, int c = 0) const {
        return pixels[(static_cast<std::size_t>(y) * width + x) * channels + c];
    }
};

// Coverage in [0, 1] (or any float field) on a pixel grid.
struct Plane {
    int width = 0;
    int height = 0;
    std::vector<float> values;

    Plane() = default;
    Plane(int w, int h, float fill = 0.0f) : width(w), height(h) {
        if (w <= 0 || h <= 0 || static_cast<long long>(w) * h > (1LL << 28))
            throw std::invalid_argument("plane size out of range");
        values.assign(static_cast<std::size_t>(w) * h, fill);
    }
    float& at(int x, int y) { return values[static_cast<std::size_t>(y) * width + x]; }
    float at(int x, int y) const { return values[static_cast<std::size_t>(y) * width + x]; }
    float* row(int y) { return values.data() + static_cast<std::size_t>(y) * width; }
    const float* row(int y) const { return values.data() + static_cast<std::size_t>(y) * width; }
};

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// Paints colour over the image where the coverage plane (placed with its
// origin at ox, oy) has ink: out = out * (1 - a) + colour * a.
void paintCoverage(Image& image, const Plane& coverage, int ox, int oy, Rgb colour,
                   float opacity = 1.0f);

// Multiplies the image by a transmission: out = out * (1 - a * (1 - colour)),
// the way overprinted ink darkens what is below it.
void multiplyCoverage(Image& image, const Plane& coverage, int ox, int oy, Rgb colour);

// Luma of an RGB image (ITU-R BT.601 weights); a grey image is copied.
Image toGrey(const Image& image);

}  // namespace kovran::synth
