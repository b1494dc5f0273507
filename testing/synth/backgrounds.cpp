#include "testing/synth/backgrounds.h"

#include <algorithm>
#include <cmath>

namespace kovran::synth {

namespace {

// Coverage of a line of half-width hw (pixels) at distance d from its centre,
// with one pixel of anti-aliasing.
float LineCoverage(double d, double hw) {
    return static_cast<float>(std::clamp(hw + 0.5 - std::fabs(d), 0.0, 1.0));
}

}  // namespace

void DrawBackground(ImageBuffer& image, const Background& bg, double pxPerMmX, double pxPerMmY) {
    const double a = bg.angleDeg * M_PI / 180.0;
    const double ca = std::cos(a), sa = std::sin(a);
    const double px = std::sqrt(pxPerMmX * pxPerMmY);
    if (bg.kind == Background::Kind::Gradient) {
        const double span = std::fabs(image.Width() / pxPerMmX * ca) +
                            std::fabs(image.Height() / pxPerMmY * sa) + 1e-9;
        const double minU =
            std::min({0.0, image.Width() / pxPerMmX * ca, image.Height() / pxPerMmY * sa,
                      image.Width() / pxPerMmX * ca + image.Height() / pxPerMmY * sa});
        for (int y = 0; y < image.Height(); ++y)
            for (int x = 0; x < image.Width(); ++x) {
                const double u = (x / pxPerMmX * ca + y / pxPerMmY * sa - minU) / span;
                const Rgb c{
                    static_cast<std::uint8_t>(bg.colour.r + (bg.colour2.r - bg.colour.r) * u),
                    static_cast<std::uint8_t>(bg.colour.g + (bg.colour2.g - bg.colour.g) * u),
                    static_cast<std::uint8_t>(bg.colour.b + (bg.colour2.b - bg.colour.b) * u)};
                std::uint8_t* p = &image.At(x, y);
                // Multiplied onto the paper so that its tint stays.
                if (image.Channels() == 1) {
                    p[0] = static_cast<std::uint8_t>(
                        p[0] * (0.299 * c.r + 0.587 * c.g + 0.114 * c.b) / 255.0);
                } else {
                    p[0] = static_cast<std::uint8_t>(p[0] * c.r / 255);
                    p[1] = static_cast<std::uint8_t>(p[1] * c.g / 255);
                    p[2] = static_cast<std::uint8_t>(p[2] * c.b / 255);
                }
            }
        return;
    }
    ImageBuffer cov(image.Width(), image.Height());
    const double period = bg.periodMm * px, hw = bg.lineMm * px / 2.0;
    const double amp = bg.amplitudeMm * px, wave = std::max(bg.periodMm * 8.0, 5.0) * px;
    for (int y = 0; y < image.Height(); ++y) {
        std::uint8_t* row = cov.Row(y);
        for (int x = 0; x < image.Width(); ++x) {
            // Pattern axes: u along the lines, v across them.
            const double u = x * ca + y * sa, v = -x * sa + y * ca;
            switch (bg.kind) {
                case Background::Kind::Waves: {
                    const double w = v - amp * std::sin(2.0 * M_PI * u / wave);
                    const double d = w - period * std::round(w / period);
                    row[x] = CoverageByte(LineCoverage(d, hw));
                    break;
                }
                case Background::Kind::Lines: {
                    const double d = v - period * std::round(v / period);
                    row[x] = CoverageByte(LineCoverage(d, hw));
                    break;
                }
                case Background::Kind::Dots: {
                    const double du = u - period * std::round(u / period);
                    const double dv = v - period * std::round(v / period);
                    row[x] = CoverageByte(LineCoverage(std::hypot(du, dv), hw));
                    break;
                }
                case Background::Kind::Gradient:
                    break;
            }
        }
    }
    MultiplyCoverage(image, cov, 0, 0, bg.colour);
}

ImageBuffer PhotoCoverage(int w, int h, double darkness, double pxPerMm, Rng& rng) {
    ImageBuffer out(w, h);
    // Random shading on a coarse grid (about 3 mm), bilinearly enlarged, with
    // a lighter oval in the middle like a face on a dark ground.
    const double cell = std::max(2.0, 3.0 * pxPerMm);
    const int gw = static_cast<int>(w / cell) + 2, gh = static_cast<int>(h / cell) + 2;
    std::vector<double> grid(static_cast<std::size_t>(gw) * gh);
    for (double& g : grid) g = rng.Uniform(-0.12, 0.12);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double gx = x / cell, gy = y / cell;
            const int ix = static_cast<int>(gx), iy = static_cast<int>(gy);
            const double fx = gx - ix, fy = gy - iy;
            auto G = [&](int a, int b) { return grid[static_cast<std::size_t>(b) * gw + a]; };
            const double n = (G(ix, iy) * (1 - fx) + G(ix + 1, iy) * fx) * (1 - fy) +
                             (G(ix, iy + 1) * (1 - fx) + G(ix + 1, iy + 1) * fx) * fy;
            const double ex = (x - w / 2.0) / (w * 0.28), ey = (y - h * 0.45) / (h * 0.33);
            const double face = std::exp(-(ex * ex + ey * ey) * 2.0) * 0.35;
            out.At(x, y) = CoverageByte(darkness + n - face * darkness);
        }
    return out;
}

}  // namespace kovran::synth
