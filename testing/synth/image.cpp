#include "testing/synth/image.h"

#include <algorithm>
#include <cmath>

namespace kovran::synth {

namespace {

template <typename Blend>
void BlendCoverage(ImageBuffer& image, const ImageBuffer& coverage, int ox, int oy, Blend blend) {
    const int x0 = std::max(0, ox), y0 = std::max(0, oy);
    const int x1 = std::min(image.Width(), ox + coverage.Width());
    const int y1 = std::min(image.Height(), oy + coverage.Height());
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* cov = coverage.Row(y - oy);
        std::uint8_t* out = image.Row(y);
        for (int x = x0; x < x1; ++x) {
            if (cov[x - ox] == 0) continue;
            std::uint8_t* p = out + static_cast<std::size_t>(x) * image.Channels();
            blend(p, CoverageShare(cov[x - ox]));
        }
    }
}

// Rounds half up after clamping (cheaper than llround on every pixel).
std::uint8_t ToByte(float v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f);
}

}  // namespace

void PaintCoverage(ImageBuffer& image, const ImageBuffer& coverage, int ox, int oy, Rgb colour,
                   float opacity) {
    const float grey = 0.299f * colour.r + 0.587f * colour.g + 0.114f * colour.b;
    const float rgb[3] = {static_cast<float>(colour.r), static_cast<float>(colour.g),
                          static_cast<float>(colour.b)};
    const int channels = image.Channels();
    BlendCoverage(image, coverage, ox, oy, [&](std::uint8_t* p, float a) {
        a *= opacity;
        if (channels == 1) {
            p[0] = ToByte(p[0] * (1.0f - a) + grey * a);
        } else {
            for (int c = 0; c < 3; ++c) p[c] = ToByte(p[c] * (1.0f - a) + rgb[c] * a);
        }
    });
}

void MultiplyCoverage(ImageBuffer& image, const ImageBuffer& coverage, int ox, int oy, Rgb colour) {
    const float grey = (0.299f * colour.r + 0.587f * colour.g + 0.114f * colour.b) / 255.0f;
    const float rgb[3] = {colour.r / 255.0f, colour.g / 255.0f, colour.b / 255.0f};
    const int channels = image.Channels();
    BlendCoverage(image, coverage, ox, oy, [&](std::uint8_t* p, float a) {
        if (channels == 1) {
            p[0] = ToByte(p[0] * (1.0f - a * (1.0f - grey)));
        } else {
            for (int c = 0; c < 3; ++c) p[c] = ToByte(p[c] * (1.0f - a * (1.0f - rgb[c])));
        }
    });
}

ImageBuffer ToGrey(const ImageBuffer& image) {
    if (image.Channels() == 1) return image;
    ImageBuffer grey(image.Width(), image.Height(), 1, 0, image.Res());
    for (int y = 0; y < image.Height(); ++y) {
        const std::uint8_t* p = image.Row(y);
        std::uint8_t* out = grey.Row(y);
        for (int x = 0; x < image.Width(); ++x, p += 3)
            out[x] = ToByte(0.299f * p[0] + 0.587f * p[1] + 0.114f * p[2]);
    }
    return grey;
}

}  // namespace kovran::synth
