// The 32 x 32 binary glyph that the font databases store and the recogniser
// compares, and the normalisation of a character box into it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "imaging/image_view.h"

namespace kovran::ocr {

// 32 rows of 32 bits; bit 31 - k of a row is column k (the leftmost column is
// the most significant bit), exactly as a database file stores a glyph.
struct Glyph32 {
    std::array<std::uint32_t, 32> rows{};

    bool Bit(int row, int column) const { return (rows[row] >> (31 - column)) & 1u; }
    void Set(int row, int column) { rows[row] |= 1u << (31 - column); }
    int InkCount() const;
    bool operator==(const Glyph32&) const = default;
};

// How ink is told from paper in an 8-bit grey or binary view: threshold 0
// (a binary image: any non-zero byte is ink) or t > 0 (a byte below t is
// ink, 0 being black).
struct InkRule {
    int threshold = 0;

    bool IsInk(std::uint8_t v) const { return threshold == 0 ? v != 0 : v < threshold; }
};

// Character box, edges inclusive, in pixels of the view.
struct GlyphBox {
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;

    int Width() const { return right - left + 1; }
    int Height() const { return bottom - top + 1; }
    bool operator==(const GlyphBox&) const = default;
};

struct NormalisedGlyph {
    Glyph32 glyph;
    GlyphBox box;  // the box after the trimming of sparse edge rows and columns
};

// Samples the box at 32 x 32 points with bilinear interpolation of the ink
// (a bit is set above 10/21), then trims edges that hold at most stray ink and
// samples again, up to 8 times. The box is clipped to the view; an empty box
// or view gives an empty glyph. The first channel of the view is read.
NormalisedGlyph NormaliseGlyph(imaging::ConstImageView view, GlyphBox box, InkRule rule = {});

// Limits of the recogniser's comparison: the 32 x 32 square is cut into 3 x 3
// cells (rows and columns 0-10, 11-21, 22-31); a cell with more mismatches than
// `cell`, or a band of three cells (a row or a column of cells) with more than
// `band`, rejects the pair.
struct DistanceLimits {
    int band = 140;
    int cell = 70;
};

inline constexpr int kNoMatchDistance = 1024;

// Number of mismatching pixels between two glyphs.
int GlyphDistance(const Glyph32& a, const Glyph32& b);
// The same, or kNoMatchDistance as soon as a cell or band limit is exceeded.
int GlyphDistance(const Glyph32& a, const Glyph32& b, DistanceLimits limits);

}  // namespace kovran::ocr
