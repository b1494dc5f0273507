#include "testing/synth/image.h"

#include <algorithm>
#include <cmath>

namespace kovran::synth {

namespace {

template <typename Blend>
void blendCoverage(Image& image, const Plane& coverage, int ox, int oy, Blend blend) {
    const int x0 = std::max(0, ox), y0 = std::max(0, oy);
    const int x1 = std::min(image.width, ox + coverage.width);
    const int y1 = std::min(image.height, oy + coverage.height);
    for (int y = y0; y < y1; ++y) {
        const float* cov = coverage.row(y - oy);
        std::uint8_t* out = image.row(y);
        for (int x = x0; x < x1; ++x) {
            const float a = cov[x - ox];
            if (a <= 0.0f) continue;
            std::uint8_t* p = out + static_cast<std::size_t>(x) * image.channels;
            blend(p, std::min(a, 1.0f));
        }
    }
}

// Rounds half up after clamping (cheaper than llround on every pixel).
std::uint8_t toByte(float v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f);
}

}  // namespace

void paintCoverage(Image& image, const Plane& coverage, int ox, int oy, Rgb colour, float opacity) {
    const float grey = 0.299f * colour.r + 0.587f * colour.g + 0.114f * colour.b;
    const float rgb[3] = {static_cast<float>(colour.r), static_cast<float>(colour.g),
                          static_cast<float>(colour.b)};
    const int channels = image.channels;
    blendCoverage(image, coverage, ox, oy, [&](std::uint8_t* p, float a) {
        a *= opacity;
        if (channels == 1) {
            p[0] = toByte(p[0] * (1.0f - a) + grey * a);
        } else {
            for (int c = 0; c < 3; ++c) p[c] = toByte(p[c] * (1.0f - a) + rgb[c] * a);
        }
    });
}

void multiplyCoverage(Image& image, const Plane& coverage, int ox, int oy, Rgb colour) {
    const float grey = (0.299f * colour.r + 0.587f * colour.g + 0.114f * colour.b) / 255.0f;
    const float rgb[3] = {colour.r / 255.0f, colour.g / 255.0f, colour.b / 255.0f};
    const int channels = image.channels;
    blendCoverage(image, coverage, ox, oy, [&](std::uint8_t* p, float a) {
        if (channels == 1) {
            p[0] = toByte(p[0] * (1.0f - a * (1.0f - grey)));
        } else {
            for (int c = 0; c < 3; ++c) p[c] = toByte(p[c] * (1.0f - a * (1.0f - rgb[c])));
        }
    });
}

Image toGrey(const Image& image) {
    if (image.channels == 1) return image;
    Image grey(image.width, image.height, 1);
    const std::size_t n = static_cast<std::size_t>(image.width) * image.height;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* p = &image.pixels[i * 3];
        grey.pixels[i] = toByte(0.299f * p[0] + 0.587f * p[1] + 0.114f * p[2]);
    }
    return grey;
}

}  // namespace kovran::synth
