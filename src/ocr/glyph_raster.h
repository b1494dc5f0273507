// Fine raster of a glyph shape and the print effects applied to it as a
// whole: a stroke grown or thinned by an outline offset (Euclidean distance
// on the fine grid), corners rounded (an opening then a closing with a disc)
// and the area coverage of each pixel of the target resolution. Applying the
// effects to the whole shape, never to the pieces it is drawn from, keeps a
// thinned character in one piece and lets a grown one fill its counters the
// way ink spread does.
#pragma once

#include <cstdint>
#include <vector>

namespace kovran::ocr {

// A binary mask on a fine grid; pixel (x, y) covers
// [x * pitchXMm, (x + 1) * pitchXMm) x [y * pitchYMm, (y + 1) * pitchYMm).
struct FineMask {
    int width = 0;
    int height = 0;
    double pitchXMm = 0.01;
    double pitchYMm = 0.01;
    std::vector<std::uint8_t> bits;  // 1 ink

    FineMask() = default;
    FineMask(int w, int h, double px, double py)
        : width(w),
          height(h),
          pitchXMm(px),
          pitchYMm(py),
          bits(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0) {}
    std::uint8_t& At(int x, int y) { return bits[static_cast<std::size_t>(y) * width + x]; }
    std::uint8_t At(int x, int y) const { return bits[static_cast<std::size_t>(y) * width + x]; }
};

// Squared distance, in mm^2, from every pixel centre to the nearest pixel of
// the given value (`ink` 1: to ink; 0: to paper); pixels of that value get 0.
std::vector<double> SquaredDistanceTo(const FineMask& mask, std::uint8_t value);

// Grows the ink by mm (> 0) or thins it by -mm (< 0): a pixel is ink after
// growth when it lies within mm of ink, and stays ink after thinning when it
// lies more than -mm from paper.
void OffsetOutline(FineMask& mask, double mm);

// Rounds convex and concave corners with a disc of radius mm.
void RoundCorners(FineMask& mask, double mm);

// Area coverage of target pixels of `factorX` x `factorY` fine pixels each,
// 0..255, row-major, (width / factorX) x (height / factorY) values.
std::vector<std::uint8_t> AreaCoverage(const FineMask& mask, int factorX, int factorY);

}  // namespace kovran::ocr
