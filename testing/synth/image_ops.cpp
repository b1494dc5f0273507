#include "testing/synth/image_ops.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace kovran::synth {

namespace {

std::vector<float> GaussianKernel(double sigma) {
    const int radius = std::max(1, static_cast<int>(std::ceil(3.0 * sigma)));
    std::vector<float> k(2 * radius + 1);
    double sum = 0.0;
    for (int i = -radius; i <= radius; ++i) {
        const double v = std::exp(-0.5 * i * i / (sigma * sigma));
        k[i + radius] = static_cast<float>(v);
        sum += v;
    }
    for (float& v : k) v = static_cast<float>(v / sum);
    return k;
}

// Convolves n values spaced `stride` apart with the kernel, clamping at the
// ends so that the border keeps its level instead of fading to black.
void ConvolveLine(const float* in, float* out, int n, const std::vector<float>& k) {
    const int radius = static_cast<int>(k.size() / 2);
    for (int i = 0; i < n; ++i) {
        float acc = 0.0f;
        if (i >= radius && i + radius < n) {
            const float* p = in + i - radius;
            for (std::size_t j = 0; j < k.size(); ++j) acc += p[j] * k[j];
        } else {
            for (int j = -radius; j <= radius; ++j)
                acc += in[std::clamp(i + j, 0, n - 1)] * k[j + radius];
        }
        out[i] = acc;
    }
}

// Blurs interleaved float data of `channels` channels in place.
void BlurFloat(std::vector<float>& data, int width, int height, int channels, double sigma) {
    const auto k = GaussianKernel(sigma);
    const int n = std::max(width, height);
    std::vector<float> line(n), result(n);
    for (int c = 0; c < channels; ++c) {
        for (int y = 0; y < height; ++y) {
            float* base = data.data() + static_cast<std::size_t>(y) * width * channels + c;
            for (int x = 0; x < width; ++x) line[x] = base[static_cast<std::size_t>(x) * channels];
            ConvolveLine(line.data(), result.data(), width, k);
            for (int x = 0; x < width; ++x)
                base[static_cast<std::size_t>(x) * channels] = result[x];
        }
        for (int x = 0; x < width; ++x) {
            float* base = data.data() + static_cast<std::size_t>(x) * channels + c;
            const std::size_t stride = static_cast<std::size_t>(width) * channels;
            for (int y = 0; y < height; ++y) line[y] = base[y * stride];
            ConvolveLine(line.data(), result.data(), height, k);
            for (int y = 0; y < height; ++y) base[y * stride] = result[y];
        }
    }
}

// Rounds half up after clamping (cheaper than llround on every pixel).
std::uint8_t ToByte(double v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0) + 0.5);
}

}  // namespace

void GaussianBlur(ImageBuffer& image, double sigma) {
    if (sigma <= 0.0) return;
    std::vector<float> data(image.Data(), image.Data() + image.Bytes());
    BlurFloat(data, image.Width(), image.Height(), image.Channels(), sigma);
    for (std::size_t i = 0; i < data.size(); ++i) image.Data()[i] = ToByte(data[i]);
}

ImageBuffer RotateImage(const ImageBuffer& image, double angleDeg, double dx, double dy, Rgb fill) {
    ImageBuffer out(image.Width(), image.Height(), image.Channels(), 0, image.Res());
    const double a = angleDeg * M_PI / 180.0;
    const double ca = std::cos(a), sa = std::sin(a);
    const double cx = (image.Width() - 1) / 2.0, cy = (image.Height() - 1) / 2.0;
    const std::uint8_t fillValues[3] = {fill.r, fill.g, fill.b};
    const std::uint8_t fillGrey = ToByte(0.299 * fill.r + 0.587 * fill.g + 0.114 * fill.b);
    const int ch = image.Channels();
    for (int y = 0; y < out.Height(); ++y) {
        std::uint8_t* dst = out.Row(y);
        // Inverse mapping: the destination pixel comes from the source point
        // rotated back by the angle (y grows downwards, hence the signs).
        const double ry = y - cy - dy;
        for (int x = 0; x < out.Width(); ++x) {
            const double rx = x - cx - dx;
            const double sx = ca * rx - sa * ry + cx;
            const double sy = sa * rx + ca * ry + cy;
            std::uint8_t* p = dst + static_cast<std::size_t>(x) * ch;
            // Points on the last row or column are inside too (exact for a
            // zero angle); beyond them the backdrop shows.
            if (sx < 0.0 || sy < 0.0 || sx > image.Width() - 1 || sy > image.Height() - 1) {
                if (ch == 1) {
                    p[0] = fillGrey;
                } else {
                    for (int c = 0; c < 3; ++c) p[c] = fillValues[c];
                }
                continue;
            }
            const int x0 = std::min(static_cast<int>(sx), image.Width() - 1);
            const int y0 = std::min(static_cast<int>(sy), image.Height() - 1);
            const int x1 = std::min(x0 + 1, image.Width() - 1),
                      y1 = std::min(y0 + 1, image.Height() - 1);
            const double fx = sx - x0, fy = sy - y0;
            const std::uint8_t* s00 = image.Row(y0) + static_cast<std::size_t>(x0) * ch;
            const std::uint8_t* s10 = image.Row(y0) + static_cast<std::size_t>(x1) * ch;
            const std::uint8_t* s01 = image.Row(y1) + static_cast<std::size_t>(x0) * ch;
            const std::uint8_t* s11 = image.Row(y1) + static_cast<std::size_t>(x1) * ch;
            for (int c = 0; c < ch; ++c) {
                const double top = s00[c] + (s10[c] - s00[c]) * fx;
                const double bottom = s01[c] + (s11[c] - s01[c]) * fx;
                p[c] = ToByte(top + (bottom - top) * fy);
            }
        }
    }
    return out;
}

void AddNoise(ImageBuffer& image, double sigma, Rng& rng) {
    if (sigma <= 0.0) return;
    for (auto& p : std::span(image.Data(), image.Bytes())) p = ToByte(p + sigma * rng.Normal());
}

void AdjustContrastBrightness(ImageBuffer& image, double contrast, double brightness) {
    if (contrast == 1.0 && brightness == 0.0) return;
    std::uint8_t table[256];
    for (int v = 0; v < 256; ++v) table[v] = ToByte((v - 128.0) * contrast + 128.0 + brightness);
    for (auto& p : std::span(image.Data(), image.Bytes())) p = table[p];
}

void InkSpread(ImageBuffer& image, double radius) {
    if (radius <= 0.0) return;
    const int whole = static_cast<int>(std::ceil(radius));
    const double weight = radius / whole;  // share of the full erosion
    const int ch = image.Channels();
    ImageBuffer eroded = image;
    // A square erosion by `whole` pixels, separable: rows then columns.
    ImageBuffer tmp = image;
    for (int y = 0; y < image.Height(); ++y) {
        const std::uint8_t* src = image.Row(y);
        std::uint8_t* dst = tmp.Row(y);
        for (int x = 0; x < image.Width(); ++x) {
            const int a = std::max(0, x - whole), b = std::min(image.Width() - 1, x + whole);
            for (int c = 0; c < ch; ++c) {
                std::uint8_t m = 255;
                for (int i = a; i <= b; ++i)
                    m = std::min(m, src[static_cast<std::size_t>(i) * ch + c]);
                dst[static_cast<std::size_t>(x) * ch + c] = m;
            }
        }
    }
    for (int y = 0; y < image.Height(); ++y) {
        const int a = std::max(0, y - whole), b = std::min(image.Height() - 1, y + whole);
        std::uint8_t* dst = eroded.Row(y);
        for (int i = 0; i < image.Width() * ch; ++i) {
            std::uint8_t m = 255;
            for (int j = a; j <= b; ++j) m = std::min(m, tmp.Row(j)[i]);
            dst[i] = m;
        }
    }
    for (std::size_t i = 0; i < image.Bytes(); ++i)
        image.Data()[i] = ToByte(image.Data()[i] * (1.0 - weight) + eroded.Data()[i] * weight);
}

}  // namespace kovran::synth
