// The pixel operations of the codec layer on small hand-made pictures.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/codec/codec.h"

namespace kovran::imaging::codec {
namespace {

// A grey picture from rows of values.
Picture GreyPicture(const std::vector<std::vector<int>>& rows, Resolution res = {}) {
    const int h = static_cast<int>(rows.size());
    const int w = static_cast<int>(rows[0].size());
    Picture p{ImageBuffer(w, h, 1, 0, res), Depth::Grey};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.pixels.At(x, y) = static_cast<std::uint8_t>(rows[y][x]);
    return p;
}

std::vector<std::vector<int>> Rows(const Picture& p, int channel = 0) {
    std::vector<std::vector<int>> rows(p.pixels.Height());
    for (int y = 0; y < p.pixels.Height(); ++y)
        for (int x = 0; x < p.pixels.Width(); ++x) rows[y].push_back(p.pixels.At(x, y, channel));
    return rows;
}

TEST(CodecRotate, QuarterTurnsReadColumnsAndSwapTheResolution) {
    const Picture p = GreyPicture({{1, 2, 3}, {4, 5, 6}}, {300, 150});
    const Picture cw = Rotate(p, Turn::Clockwise);
    // The first row of a clockwise turn is the first column read bottom to top.
    EXPECT_EQ(Rows(cw), (std::vector<std::vector<int>>{{4, 1}, {5, 2}, {6, 3}}));
    EXPECT_EQ(cw.pixels.Res(), (Resolution{150, 300}));
    const Picture ccw = Rotate(p, Turn::CounterClockwise);
    EXPECT_EQ(Rows(ccw), (std::vector<std::vector<int>>{{3, 6}, {2, 5}, {1, 4}}));
    EXPECT_EQ(ccw.pixels.Res(), (Resolution{150, 300}));
    const Picture half = Rotate(p, Turn::Half);
    EXPECT_EQ(Rows(half), (std::vector<std::vector<int>>{{6, 5, 4}, {3, 2, 1}}));
    EXPECT_EQ(half.pixels.Res(), (Resolution{300, 150}));
    EXPECT_EQ(Rows(Rotate(p, Turn::None)), Rows(p));
    EXPECT_EQ(Rotate(Rotate(p, Turn::Clockwise), Turn::CounterClockwise).pixels, p.pixels);
    EXPECT_EQ(Rotate(Rotate(p, Turn::Half), Turn::Half).pixels, p.pixels);
}

TEST(CodecRotate, ColourPixelsMoveWhole) {
    Picture p{ImageBuffer(2, 1, 3), Depth::Rgb};
    for (int i = 0; i < 6; ++i) p.pixels.Data()[i] = static_cast<std::uint8_t>(i + 1);
    const Picture cw = Rotate(p, Turn::Clockwise);
    ASSERT_EQ(cw.pixels.Width(), 1);
    ASSERT_EQ(cw.pixels.Height(), 2);
    EXPECT_EQ(cw.depth, Depth::Rgb);
    EXPECT_EQ(std::vector<int>(cw.pixels.Data(), cw.pixels.Data() + 6),
              (std::vector<int>{1, 2, 3, 4, 5, 6}));
    const Picture half = Rotate(p, Turn::Half);
    EXPECT_EQ(std::vector<int>(half.pixels.Data(), half.pixels.Data() + 6),
              (std::vector<int>{4, 5, 6, 1, 2, 3}));
}

TEST(CodecFlip, UpsideDownReversesTheRowsOnly) {
    const Picture p = GreyPicture({{1, 2}, {3, 4}, {5, 6}}, {200, 100});
    const Picture f = FlipUpsideDown(p);
    EXPECT_EQ(Rows(f), (std::vector<std::vector<int>>{{5, 6}, {3, 4}, {1, 2}}));
    EXPECT_EQ(f.pixels.Res(), (Resolution{200, 100}));
}

TEST(CodecThreshold, BelowTheThresholdIsBlack) {
    const Picture p = GreyPicture({{0, 127, 128, 255}}, {300, 300});
    const Picture b = Threshold(p, 128);
    EXPECT_EQ(b.depth, Depth::Bilevel);
    EXPECT_EQ(Rows(b), (std::vector<std::vector<int>>{{0, 0, 255, 255}}));
    EXPECT_EQ(b.pixels.Res(), (Resolution{300, 300}));
    EXPECT_EQ(Rows(Threshold(p, 0)), (std::vector<std::vector<int>>{{255, 255, 255, 255}}));
    EXPECT_EQ(Rows(Threshold(p, 256)), (std::vector<std::vector<int>>{{0, 0, 0, 0}}));
}

TEST(CodecThreshold, ColourGoesByItsLuma) {
    // Pure green is bright (luma 150), pure blue dark (29).
    Picture p{ImageBuffer(2, 1, 3), Depth::Rgb};
    p.pixels.At(0, 0, 1) = 255;
    p.pixels.At(1, 0, 2) = 255;
    EXPECT_EQ(Rows(Threshold(p, 100)), (std::vector<std::vector<int>>{{255, 0}}));
}

TEST(CodecConvertDepth, GreyRgbAndBilevel) {
    Picture rgb{ImageBuffer(3, 1, 3, 0, {300, 300}), Depth::Rgb};
    const std::uint8_t px[] = {255, 0, 0, 0, 255, 0, 10, 20, 30};
    std::copy(std::begin(px), std::end(px), rgb.pixels.Data());
    const Picture grey = ConvertDepth(rgb, Depth::Grey);
    EXPECT_EQ(grey.depth, Depth::Grey);
    EXPECT_EQ(grey.pixels.Channels(), 1);
    // 0.299 R + 0.587 G + 0.114 B, rounded.
    EXPECT_EQ(Rows(grey), (std::vector<std::vector<int>>{{76, 150, 18}}));
    EXPECT_EQ(grey.pixels.Res(), (Resolution{300, 300}));

    const Picture back = ConvertDepth(grey, Depth::Rgb);
    EXPECT_EQ(back.pixels.Channels(), 3);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Rows(back, c), Rows(grey)) << c;

    const Picture bilevel = ConvertDepth(grey, Depth::Bilevel, 100);
    EXPECT_EQ(bilevel.depth, Depth::Bilevel);
    EXPECT_EQ(Rows(bilevel), (std::vector<std::vector<int>>{{0, 255, 0}}));
    const Picture fromBilevel = ConvertDepth(bilevel, Depth::Rgb);
    EXPECT_EQ(Rows(fromBilevel, 2), (std::vector<std::vector<int>>{{0, 255, 0}}));
    EXPECT_EQ(Rows(ConvertDepth(bilevel, Depth::Grey)), Rows(bilevel));
    EXPECT_EQ(ConvertDepth(grey, Depth::Grey).pixels, grey.pixels);
}

}  // namespace
}  // namespace kovran::imaging::codec
