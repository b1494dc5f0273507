#include "ocr/glyph_normalise.h"

#include <gtest/gtest.h>

#include <vector>

#include "ocr/glyph_sources.h"

namespace kovran::ocr {
namespace {

struct Canvas {
    int w, h;
    std::vector<std::uint8_t> px;
    Canvas(int w_, int h_) : w(w_), h(h_), px(static_cast<std::size_t>(w_) * h_, 0) {}
    void Fill(int x0, int y0, int x1, int y1, std::uint8_t v = 1) {  // inclusive
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) px[y * w + x] = v;
    }
    imaging::ConstImageView View() const { return {px.data(), w, h, w}; }
};

int InkInRow(const Glyph32& g, int r) {
    int n = 0;
    for (int c = 0; c < 32; ++c) n += g.Bit(r, c);
    return n;
}

// The glyphs below are worked out by hand from the sampling rule: point
// (i, j) of a box lies at row t + i (b - t) / 32 and column l + j (r - l) / 32,
// its ink is interpolated bilinearly and the bit is set above 10/21. Each
// box has an inked frame on its sampled border so that no edge is trimmed,
// unless the case is about trimming.
Glyph32 FramedGlyph() {
    Glyph32 g;
    for (int k = 0; k < 32; ++k) {
        g.Set(0, k);
        g.Set(31, k);
        g.Set(k, 0);
        g.Set(k, 31);
    }
    return g;
}

TEST(GlyphNormaliseByHand, SamplesAtTheBoxStepsFromTheTopLeftCorner) {
    // Box 0..32 both ways: the step is exactly one pixel and the points are
    // the pixels 0..31 themselves (not the centres of 32 cells, and not a
    // step of 33/32 over the inclusive box).
    Canvas c(40, 40);
    c.Fill(0, 0, 32, 0);
    c.Fill(0, 31, 32, 31);
    c.Fill(0, 0, 0, 32);
    c.Fill(31, 0, 31, 32);
    c.Fill(10, 12, 10, 12);
    Glyph32 want = FramedGlyph();
    want.Set(12, 10);
    const auto got = NormaliseGlyph(c.View(), {0, 0, 32, 32});
    EXPECT_EQ(got.glyph, want);
    EXPECT_EQ(got.box, (GlyphBox{0, 0, 32, 32}));
}

TEST(GlyphNormaliseByHand, BitIsSetAboveTenTwentyFirsts) {
    // Box rows 0..32 (step 1), columns 0..31 (step 31/32): point j lies at
    // column 31 j / 32, so j = 16 sits at 15.5 and j = 17 at 16.46875.
    //  - ink at column 16 alone in row 10: j = 16 sees 0.5 (set: 0.5 > 10/21),
    //    j = 17 sees 1 - 0.46875 = 0.53125 (set);
    //  - ink at column 17 alone in row 20: j = 17 sees 0.46875 (not set:
    //    below 10/21), j = 18 (at 17.4375) sees 0.5625 (set).
    Canvas c(40, 40);
    c.Fill(0, 0, 31, 0);
    c.Fill(0, 31, 31, 32);
    c.Fill(0, 0, 0, 32);
    c.Fill(30, 0, 31, 32);
    c.Fill(16, 10, 16, 10);
    c.Fill(17, 20, 17, 20);
    Glyph32 want = FramedGlyph();
    want.Set(10, 16);
    want.Set(10, 17);
    want.Set(20, 18);
    EXPECT_EQ(NormaliseGlyph(c.View(), {0, 0, 32, 31}).glyph, want);
}

TEST(GlyphNormaliseByHand, InkIsInterpolatedBilinearlyBetweenTheFourPixels) {
    // Box 0..40 both ways: step 1.25, so the points fall at quarters.
    //  - one ink pixel at (9, 9): point (7, 7) lies at (8.75, 8.75) and sees
    //    0.75 x 0.75 = 0.5625 of it (set; the pixel below and left of the
    //    point, 8, is paper, so taking that pixel alone would miss it);
    //  - one ink pixel at (13, 13): point (10, 10) lies at (12.5, 12.5) and
    //    sees 0.5 x 0.5 = 0.25 of it (not set, though it is the pixel
    //    nearest the point); point (11, 11) at 13.75 sees 0.0625.
    // The frame (rows and columns 0 and 39..40) gives the framed glyph.
    Canvas c(45, 45);
    c.Fill(0, 0, 40, 0);
    c.Fill(0, 39, 40, 40);
    c.Fill(0, 0, 0, 40);
    c.Fill(39, 0, 40, 40);
    c.Fill(9, 9, 9, 9);
    c.Fill(13, 13, 13, 13);
    Glyph32 want = FramedGlyph();
    want.Set(7, 7);
    const auto got = NormaliseGlyph(c.View(), {0, 0, 40, 40});
    EXPECT_EQ(got.box, (GlyphBox{0, 0, 40, 40}));
    EXPECT_EQ(got.glyph, want);
}

TEST(GlyphNormaliseByHand, TrimmingMovesOneEdgePixelPerPassAtMostEightTimes) {
    // A solid block on rows 10..41 of a box that starts at row 0: the first
    // glyph row stays blank while the top moves down one row per pass, and
    // the trimming stops after eight passes with the top at row 8.
    Canvas c(40, 50);
    c.Fill(0, 10, 31, 41);
    const auto got = NormaliseGlyph(c.View(), {0, 0, 41, 31});
    EXPECT_EQ(got.box, (GlyphBox{8, 0, 41, 31}));
    // Hand-worked glyph at the final box 8..41 (step 33/32): row i samples
    // y = 8 + 33 i / 32; rows 0 and 1 (y = 8, 9.03) see at most 0.03125 of
    // ink, row 2 (y = 10.06) is inked; every column is inked.
    Glyph32 want;
    for (int i = 2; i < 32; ++i) want.rows[i] = 0xFFFFFFFFu;
    EXPECT_EQ(got.glyph, want);
}

TEST(GlyphNormaliseByHand, StrayInkAtTheTopIsTrimmedOnceThenTheRowIsKept) {
    // One stray pixel on row 0 over a block on rows 2..33 (box 0..33 high,
    // columns 0..31): glyph row 0 holds one bit, so the top moves to 1; row 1
    // is blank, so it moves to 2; the block's first row is full and stays.
    Canvas c(40, 40);
    c.Fill(5, 0, 5, 0);
    c.Fill(0, 2, 31, 33);
    const auto got = NormaliseGlyph(c.View(), {0, 0, 33, 31});
    EXPECT_EQ(got.box, (GlyphBox{2, 0, 33, 31}));
    Glyph32 full;
    full.rows.fill(0xFFFFFFFFu);
    EXPECT_EQ(got.glyph, full);
}

TEST(GlyphNormaliseByHand, TallNarrowBoxesSampleASecondTimeHalfAStepLower) {
    // Box rows 0..64 (step 2): the points lie on even rows, and a one-pixel
    // line on row 21 falls between them. A box narrower than 64 pixels and
    // at least 64 high samples again one row lower and keeps row 10 (21 =
    // 2 x 10 + 1); a box 64 pixels wide does not.
    for (int width : {32, 64}) {
        Canvas c(70, 70);
        const int r = width - 1;
        c.Fill(0, 0, r, 0);
        c.Fill(0, 62, r, 64);
        c.Fill(0, 0, 0, 64);
        // Point 31 lies at column 30.03 (r = 31) or 61.03 (r = 63), point 30
        // at 29.06 or 59.06: the frame's right edge covers the one, not the other.
        c.Fill(width < 64 ? r - 1 : r - 2, 0, r, 64);
        c.Fill(0, 21, r, 21);
        Glyph32 want = FramedGlyph();
        if (width < 64) want.rows[10] = 0xFFFFFFFFu;
        // The second sampling also finds the frame's inner rows one step on:
        // row 0 again (y = 1 is paper, y = 0 is ink) and row 31 (y = 63).
        EXPECT_EQ(NormaliseGlyph(c.View(), {0, 0, 64, r}).glyph, want) << width;
    }
}

TEST(GlyphNormaliseByHand, BottomRightAndLeftEdgesWithOneInkBitAreTrimmed) {
    // A solid 32 x 32 block and one stray pixel beside it, in a box one or
    // two pixels too large on that side. Worked by hand for the bottom case
    // (box rows 0..33, step 33/32; columns 0..31, step 31/32): glyph row 31
    // samples y = 31.97, so only column point 5 (x = 4.84, weight 0.84 on
    // the stray at column 5) passes 10/21: one bit, the bottom moves to 32,
    // where the step is 1 and every point lies on the block. The right case
    // is its transpose. Left: block on columns 2..33, stray at (0, 5);
    // column 0 holds one bit, so the left edge moves to 1, then (column 1
    // blank) to 2.
    Glyph32 full;
    full.rows.fill(0xFFFFFFFFu);
    struct Case {
        const char* edge;
        int blockX, strayX, strayY;
        GlyphBox box, trimmed;
    };
    for (const Case& k : {Case{"bottom", 0, 5, 32, {0, 0, 33, 31}, {0, 0, 32, 31}},
                          Case{"right", 0, 32, 5, {0, 0, 31, 33}, {0, 0, 31, 32}},
                          Case{"left", 2, 0, 5, {0, 0, 31, 33}, {0, 2, 31, 33}}}) {
        Canvas c(40, 40);
        c.Fill(k.blockX, 0, k.blockX + 31, 31);
        c.Fill(k.strayX, k.strayY, k.strayX, k.strayY);
        const auto got = NormaliseGlyph(c.View(), k.box);
        EXPECT_EQ(got.box, k.trimmed) << k.edge;
        EXPECT_EQ(got.glyph, full) << k.edge;
    }
}

TEST(GlyphNormaliseByHand, TheSecondSamplingStartsAtSixtyFourRows) {
    // A box 32 columns wide and 64 rows high (rows 0..63, step 63/32) samples
    // a second time; one 63 rows high (rows 0..62, step 62/32) does not. The
    // line lies where only the second sampling of glyph row 10 finds it:
    //  - 64 rows, line on row 21: row 10 samples y = 19.69 (no ink) and 11
    //    samples y = 21.66 (0.34 of ink, below 10/21); half a step lower,
    //    row 10 samples y = 20.67, 0.67 of ink;
    //  - 63 rows, line on row 20: rows 10 and 11 sample y = 19.38 (0.38) and
    //    21.31 (none); half a step lower, y = 20.34 would see 0.66.
    // A frame (rows 0..2 and from 58 down, columns 0..1 and 29..31) keeps
    // every edge in place; the points of columns 4..27 lie inside it.
    struct Case {
        int bottom, line;
        bool twice;
    };
    for (const Case& k : {Case{63, 21, true}, Case{62, 20, false}}) {
        Canvas c(40, 70);
        c.Fill(0, 0, 31, 2);
        c.Fill(0, 58, 31, k.bottom);
        c.Fill(0, 0, 1, k.bottom);
        c.Fill(29, 0, 31, k.bottom);
        c.Fill(0, k.line, 31, k.line);
        const auto got = NormaliseGlyph(c.View(), {0, 0, k.bottom, 31});
        EXPECT_EQ(got.box, (GlyphBox{0, 0, k.bottom, 31})) << k.bottom;
        for (int j = 4; j <= 27; ++j) {
            EXPECT_EQ(got.glyph.Bit(10, j), k.twice) << k.bottom << " column " << j;
            EXPECT_FALSE(got.glyph.Bit(11, j)) << k.bottom << " column " << j;
        }
    }
}

TEST(GlyphNormalise, SolidAndEmptyBoxes) {
    Canvas c(40, 50);
    c.Fill(5, 5, 34, 44);
    const auto solid = NormaliseGlyph(c.View(), {5, 5, 44, 34});
    EXPECT_EQ(solid.glyph.InkCount(), 32 * 32);
    EXPECT_EQ(solid.box, (GlyphBox{5, 5, 44, 34}));

    Canvas blank(40, 50);
    EXPECT_EQ(NormaliseGlyph(blank.View(), {0, 0, 49, 39}).glyph.InkCount(), 0);
    // Boxes outside the image are clipped, never read out of bounds.
    EXPECT_EQ(NormaliseGlyph(c.View(), {-10, -10, 100, 100}).glyph.InkCount() > 0, true);
    EXPECT_EQ(NormaliseGlyph(c.View(), {60, 60, 70, 70}).glyph.InkCount(), 0);
    EXPECT_EQ(NormaliseGlyph(imaging::ConstImageView{}, {0, 0, 10, 10}).glyph.InkCount(), 0);
}

TEST(GlyphNormalise, GlyphBitsFollowTheFileLayout) {
    // Ink in the left half only: the set bits are the high bits of each row.
    Canvas c(64, 64);
    c.Fill(0, 0, 31, 63);
    const Glyph32 g = NormaliseGlyph(c.View(), {0, 0, 63, 63}).glyph;
    for (int r = 0; r < 32; ++r) {
        EXPECT_TRUE(g.Bit(r, 0));
        EXPECT_FALSE(g.Bit(r, 31));
        EXPECT_EQ(g.rows[r] & 0x80000000u, 0x80000000u);
    }
}

TEST(GlyphNormalise, TrimsStrayEdgeInk) {
    // A bar with one speck of noise two rows above it inside the given box:
    // the top edge moves down to the bar and the glyph equals the tight one.
    Canvas c(60, 80);
    c.Fill(10, 20, 49, 69);
    c.Fill(30, 14, 30, 14);
    const auto loose = NormaliseGlyph(c.View(), {14, 10, 69, 49});
    const auto tight = NormaliseGlyph(c.View(), {20, 10, 69, 49});
    EXPECT_GT(loose.box.top, 14);
    EXPECT_LE(loose.box.top, 20);
    EXPECT_LT(GlyphDistance(loose.glyph, tight.glyph), 40);
    EXPECT_EQ(InkInRow(loose.glyph, 0), 32);
}

TEST(GlyphNormalise, TallNarrowBoxKeepsThinHorizontalStroke) {
    // 20 x 200: the sample rows fall about 6 pixels apart; a one-pixel bar
    // between two of them is found by the second sampling.
    Canvas c(20, 200);
    c.Fill(0, 0, 3, 199);
    c.Fill(0, 34, 19, 34);
    c.Fill(16, 0, 19, 199);
    const auto g = NormaliseGlyph(c.View(), {0, 0, 199, 19});
    int widest = 0;
    for (int r = 0; r < 32; ++r) widest = std::max(widest, InkInRow(g.glyph, r));
    EXPECT_EQ(widest, 32);

    // The same shape 70 pixels wide samples once: the bar falls between rows.
    Canvas wide(70, 200);
    wide.Fill(0, 0, 10, 199);
    wide.Fill(0, 34, 69, 34);
    wide.Fill(59, 0, 69, 199);
    const auto once = NormaliseGlyph(wide.View(), {0, 0, 199, 69});
    widest = 0;
    for (int r = 0; r < 32; ++r) widest = std::max(widest, InkInRow(once.glyph, r));
    EXPECT_LT(widest, 32);
}

TEST(GlyphNormalise, GreyViewWithThresholdMatchesBinary) {
    Canvas bin(30, 40), grey(30, 40);
    grey.Fill(0, 0, 29, 39, 230);
    bin.Fill(5, 5, 12, 34);
    grey.Fill(5, 5, 12, 34, 40);
    bin.Fill(13, 5, 24, 10);
    grey.Fill(13, 5, 24, 10, 90);
    const GlyphBox box{5, 5, 34, 24};
    EXPECT_EQ(NormaliseGlyph(bin.View(), box).glyph,
              NormaliseGlyph(grey.View(), box, {.threshold = 128}).glyph);
    // At threshold 60 the lighter bar is paper.
    EXPECT_NE(NormaliseGlyph(bin.View(), box).glyph,
              NormaliseGlyph(grey.View(), box, {.threshold = 60}).glyph);
}

TEST(GlyphNormalise, SameShapeAtTwoResolutionsStaysNearestToItself) {
    // Normalising removes the scale: each character at 300 dpi is nearer to
    // itself at 600 dpi than to any other character there.
    const GlyphSet e13b = GlyphSet::Builtin(GlyphFamily::E13B);
    auto glyphAt = [&](char ch, double dpi) {
        const auto r = e13b.Render(ch, {dpi, 0, 0});
        return NormaliseGlyph(r->image.View(), {r->inkTop, r->inkLeft, r->inkBottom, r->inkRight})
            .glyph;
    };
    for (char ch : e13b.Characters()) {
        const Glyph32 low = glyphAt(ch, 300);
        const int self = GlyphDistance(low, glyphAt(ch, 600));
        EXPECT_LT(self, 120) << ch;
        for (char other : e13b.Characters()) {
            if (other != ch) {
                EXPECT_LT(self, GlyphDistance(low, glyphAt(other, 600))) << ch << other;
            }
        }
    }
}

Glyph32 CellPattern(int band, int column, int count) {
    // count pixels inside cell (band, column) of the 3 x 3 grid
    static constexpr int start[3] = {0, 11, 22};
    Glyph32 g;
    int n = 0;
    for (int r = start[band]; r < start[band] + 10 && n < count; ++r)
        for (int c = start[column]; c < start[column] + 10 && n < count; ++c, ++n) g.Set(r, c);
    return g;
}

Glyph32 merge(const Glyph32& a, const Glyph32& b) {
    Glyph32 g;
    for (int r = 0; r < 32; ++r) g.rows[r] = a.rows[r] | b.rows[r];
    return g;
}

TEST(GlyphDistance, CountsMismatchesAndAppliesCellAndBandLimits) {
    const Glyph32 empty;
    Glyph32 one;
    one.Set(31, 31);
    EXPECT_EQ(GlyphDistance(one, one), 0);
    EXPECT_EQ(GlyphDistance(one, empty), 1);
    EXPECT_EQ(GlyphDistance(one, empty, {140, 70}), 1);

    const Glyph32 cell71 = CellPattern(2, 1, 71);
    EXPECT_EQ(GlyphDistance(cell71, empty), 71);
    EXPECT_EQ(GlyphDistance(cell71, empty, {140, 70}), kNoMatchDistance);
    EXPECT_EQ(GlyphDistance(CellPattern(2, 1, 70), empty, {140, 70}), 70);

    // Three cells of 50 in one row band: 150 > 140.
    const Glyph32 rowBand =
        merge(merge(CellPattern(1, 0, 50), CellPattern(1, 1, 50)), CellPattern(1, 2, 50));
    EXPECT_EQ(GlyphDistance(rowBand, empty, {140, 70}), kNoMatchDistance);
    EXPECT_EQ(GlyphDistance(rowBand, empty, {150, 70}), 150);
    // The same in one column of cells.
    const Glyph32 columnBand =
        merge(merge(CellPattern(0, 2, 50), CellPattern(1, 2, 50)), CellPattern(2, 2, 50));
    EXPECT_EQ(GlyphDistance(columnBand, empty, {140, 70}), kNoMatchDistance);
    // Spread over the diagonal the same 150 mismatches pass.
    const Glyph32 diagonal =
        merge(merge(CellPattern(0, 0, 50), CellPattern(1, 1, 50)), CellPattern(2, 2, 50));
    EXPECT_EQ(GlyphDistance(diagonal, empty, {140, 70}), 150);
}

TEST(GlyphDistance, CellsAreRowsAndColumnsZeroToTenElevenToTwentyOneAndTheRest) {
    // A run of mismatches along column 0 (or row 0) with a cell limit of 10:
    // eleven in one cell is no match, ten and one beside it are. The runs
    // start on each side of the cell boundaries 10|11 and 21|22.
    const Glyph32 empty;
    auto run = [](bool down, int from, int to) {
        Glyph32 g;
        for (int k = from; k <= to; ++k) down ? g.Set(k, 0) : g.Set(0, k);
        return g;
    };
    for (bool down : {true, false}) {
        SCOPED_TRACE(down ? "down column 0" : "along row 0");
        EXPECT_EQ(GlyphDistance(run(down, 0, 10), empty, {1000, 10}), kNoMatchDistance);
        EXPECT_EQ(GlyphDistance(run(down, 1, 11), empty, {1000, 10}), 11);
        EXPECT_EQ(GlyphDistance(run(down, 11, 21), empty, {1000, 10}), kNoMatchDistance);
        EXPECT_EQ(GlyphDistance(run(down, 12, 22), empty, {1000, 10}), 11);
        EXPECT_EQ(GlyphDistance(run(down, 22, 31), empty, {1000, 10}), 10);
    }
}

}  // namespace
}  // namespace kovran::ocr
