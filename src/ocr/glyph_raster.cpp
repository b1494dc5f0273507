#include "ocr/glyph_raster.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kovran::ocr {

namespace {

constexpr double kFar = 1e18;

// One-dimensional squared distance transform of the sampled function f with
// sample spacing sp (the lower envelope of parabolas of Felzenszwalb and
// Huttenlocher); positions are in millimetres.
void Transform1d(const std::vector<double>& f, double sp, std::vector<double>& d,
                 std::vector<int>& v, std::vector<double>& z) {
    const int n = static_cast<int>(f.size());
    d.assign(n, kFar);
    v.assign(n, 0);
    z.assign(n + 1, 0.0);
    if (n == 0) return;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    int k = 0;
    z[0] = -kInf;
    z[1] = kInf;
    for (int q = 1; q < n; ++q) {
        const double xq = q * sp;
        double s = 0;
        for (;;) {
            const double xp = v[k] * sp;
            s = ((f[q] + xq * xq) - (f[v[k]] + xp * xp)) / (2 * (xq - xp));
            if (s <= z[k] && k > 0) {
                --k;
                continue;
            }
            break;
        }
        ++k;
        v[k] = q;
        z[k] = s;
        z[k + 1] = kInf;
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        const double xq = q * sp;
        while (z[k + 1] < xq) ++k;
        const double dq = xq - v[k] * sp;
        d[q] = dq * dq + f[v[k]];
    }
}

}  // namespace

std::vector<double> SquaredDistanceTo(const FineMask& m, std::uint8_t value) {
    const int w = m.width, h = m.height;
    std::vector<double> out(static_cast<std::size_t>(w) * h, kFar);
    if (w == 0 || h == 0) return out;
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = m.bits[i] == value ? 0.0 : kFar;
    std::vector<double> f, d, z;
    std::vector<int> v;
    f.resize(h);
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) f[y] = out[static_cast<std::size_t>(y) * w + x];
        Transform1d(f, m.pitchYMm, d, v, z);
        for (int y = 0; y < h; ++y) out[static_cast<std::size_t>(y) * w + x] = d[y];
    }
    f.resize(w);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) f[x] = out[static_cast<std::size_t>(y) * w + x];
        Transform1d(f, m.pitchXMm, d, v, z);
        for (int x = 0; x < w; ++x) out[static_cast<std::size_t>(y) * w + x] = d[x];
    }
    return out;
}

void OffsetOutline(FineMask& m, double mm) {
    if (mm == 0.0 || m.bits.empty()) return;
    if (mm > 0) {
        const auto d = SquaredDistanceTo(m, 1);
        for (std::size_t i = 0; i < d.size(); ++i) m.bits[i] = d[i] <= mm * mm ? 1 : 0;
    } else {
        const auto d = SquaredDistanceTo(m, 0);
        // Beyond the mask's border lies paper as well.
        for (int y = 0; y < m.height; ++y)
            for (int x = 0; x < m.width; ++x) {
                const double bx = std::min(x + 0.5, m.width - x - 0.5) * m.pitchXMm;
                const double by = std::min(y + 0.5, m.height - y - 0.5) * m.pitchYMm;
                const double edge = std::min(bx, by);
                const std::size_t i = static_cast<std::size_t>(y) * m.width + x;
                const double dist = std::min(d[i], edge * edge);
                m.bits[i] = m.bits[i] && dist > mm * mm ? 1 : 0;
            }
    }
}

void RoundCorners(FineMask& m, double mm) {
    if (mm <= 0.0) return;
    // Opening rounds the outer corners, closing the inner ones.
    OffsetOutline(m, -mm);
    OffsetOutline(m, mm);
    OffsetOutline(m, mm);
    OffsetOutline(m, -mm);
}

std::vector<std::uint8_t> AreaCoverage(const FineMask& m, int fx, int fy) {
    const int w = m.width / fx, h = m.height / fy;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(std::max(w, 0)) * std::max(h, 0), 0);
    const int area = fx * fy;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int n = 0;
            for (int j = 0; j < fy; ++j)
                for (int i = 0; i < fx; ++i) n += m.At(x * fx + i, y * fy + j);
            out[static_cast<std::size_t>(y) * w + x] =
                static_cast<std::uint8_t>((n * 255 + area / 2) / area);
        }
    return out;
}

}  // namespace kovran::ocr
