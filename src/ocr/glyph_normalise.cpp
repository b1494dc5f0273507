#include "ocr/glyph_normalise.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace kovran::ocr {

int Glyph32::InkCount() const {
    int n = 0;
    for (std::uint32_t r : rows) n += std::popcount(r);
    return n;
}

namespace {

constexpr double kInkLimit = 10.0 / 21.0;

// The view and how its bytes read as ink.
struct InkSource {
    imaging::ConstImageView view;
    InkRule rule;
};

double InkAt(const InkSource& src, int x, int y) {
    return (x >= 0 && y >= 0 && x < src.view.Width() && y < src.view.Height() &&
            src.rule.IsInk(src.view.At(x, y)))
               ? 1.0
               : 0.0;
}

// Bilinear ink value at a fractional position; pixels whose weight is zero
// are never read, so a position on the last column needs no neighbour.
double SampleInk(const InkSource& view, double x, double y) {
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    const double fx = x - x0;
    const double fy = y - y0;
    double v = (1 - fx) * (1 - fy) * InkAt(view, x0, y0);
    if (fx > 0) v += fx * (1 - fy) * InkAt(view, x0 + 1, y0);
    if (fy > 0) v += (1 - fx) * fy * InkAt(view, x0, y0 + 1);
    if (fx > 0 && fy > 0) v += fx * fy * InkAt(view, x0 + 1, y0 + 1);
    return v;
}

Glyph32 SampleBox(const InkSource& view, const GlyphBox& box) {
    Glyph32 g;
    const double stepY = (box.bottom - box.top) / 32.0;
    const double stepX = (box.right - box.left) / 32.0;
    // A tall narrow box steps over two or more rows per glyph row, so a thin
    // horizontal stroke can fall between the sample rows: sample a second
    // time half a step lower and keep the ink of either.
    const bool twice = box.Width() < 64 && box.Height() >= 64;
    for (int i = 0; i < 32; ++i) {
        const double y = box.top + i * stepY;
        for (int j = 0; j < 32; ++j) {
            const double x = box.left + j * stepX;
            bool on = SampleInk(view, x, y) > kInkLimit;
            if (!on && twice) on = SampleInk(view, x, y + stepY / 2) > kInkLimit;
            if (on) g.Set(i, j);
        }
    }
    return g;
}

int RowsWithInkInColumn(const Glyph32& g, int column) {
    int n = 0;
    for (int r = 0; r < 32; ++r) n += g.Bit(r, column) ? 1 : 0;
    return n;
}

}  // namespace

NormalisedGlyph NormaliseGlyph(imaging::ConstImageView image, GlyphBox box, InkRule rule) {
    NormalisedGlyph out;
    if (image.Empty()) return out;
    const InkSource view{image, rule};
    box.top = std::max(box.top, 0);
    box.left = std::max(box.left, 0);
    box.bottom = std::min(box.bottom, image.Height() - 1);
    box.right = std::min(box.right, image.Width() - 1);
    out.box = box;
    if (box.bottom < box.top || box.right < box.left) return out;

    out.glyph = SampleBox(view, box);
    for (int pass = 0; pass < 8; ++pass) {
        const Glyph32& g = out.glyph;
        bool moved = false;
        // An edge is only moved while the box stays at least two pixels
        // across, so a thin stroke is never trimmed away entirely.
        if (box.bottom - box.top >= 2) {
            if (std::popcount(g.rows[0]) <= 1) {
                ++box.top;
                moved = true;
            }
            if (std::popcount(g.rows[31]) < 2) {
                --box.bottom;
                moved = true;
            }
        }
        if (box.right - box.left >= 2) {
            if (RowsWithInkInColumn(g, 31) < 2) {
                --box.right;
                moved = true;
            }
            if (RowsWithInkInColumn(g, 0) < 2) {
                ++box.left;
                moved = true;
            }
        }
        if (!moved) break;
        out.box = box;
        out.glyph = SampleBox(view, box);
    }
    return out;
}

namespace {

// Bit masks of the three column groups 0-10, 11-21, 22-31 (column k is bit 31 - k).
constexpr std::uint32_t kColumnMask[3] = {0xFFE00000u, 0x001FFC00u, 0x000003FFu};
constexpr int kBandEnd[3] = {11, 22, 32};

}  // namespace

int GlyphDistance(const Glyph32& a, const Glyph32& b) {
    int n = 0;
    for (int r = 0; r < 32; ++r) n += std::popcount(a.rows[r] ^ b.rows[r]);
    return n;
}

int GlyphDistance(const Glyph32& a, const Glyph32& b, DistanceLimits limits) {
    int cells[3][3] = {};
    int total = 0;
    int row = 0;
    for (int band = 0; band < 3; ++band) {
        for (; row < kBandEnd[band]; ++row) {
            const std::uint32_t x = a.rows[row] ^ b.rows[row];
            for (int c = 0; c < 3; ++c) cells[band][c] += std::popcount(x & kColumnMask[c]);
        }
        // A row band is complete here: its cells and its own sum can be
        // judged at once, which cuts most comparisons short.
        int bandSum = 0;
        for (int c = 0; c < 3; ++c) {
            if (cells[band][c] > limits.cell) return kNoMatchDistance;
            bandSum += cells[band][c];
        }
        if (bandSum > limits.band) return kNoMatchDistance;
        total += bandSum;
    }
    for (int c = 0; c < 3; ++c) {
        if (cells[0][c] + cells[1][c] + cells[2][c] > limits.band) return kNoMatchDistance;
    }
    return total;
}

}  // namespace kovran::ocr
