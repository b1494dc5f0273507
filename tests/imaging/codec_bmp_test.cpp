// BMP: the exact bitmap file image the library hands out, and files that
// lie about their sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "imaging/codec/codec.h"

namespace kovran::imaging::codec {
namespace {

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Picture Gradient(int w, int h, Depth depth, Resolution res = {300, 300}) {
    const int ch = depth == Depth::Rgb ? 3 : 1;
    Picture p{ImageBuffer(w, h, ch, 0, res), depth};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < ch; ++c)
                p.pixels.At(x, y, c) = depth == Depth::Bilevel
                                           ? ((x + y) % 3 == 0 ? 0 : 255)
                                           : static_cast<std::uint8_t>(x * 40 + y * 7 + c * 60);
    return p;
}

Bytes MustEncode(const Picture& p, EncodeOptions o = {.format = Format::Bmp}) {
    std::string why;
    auto bytes = Encode(p, o, &why);
    EXPECT_TRUE(bytes.has_value()) << why;
    return bytes.value_or(Bytes{});
}

TEST(CodecBmpWrite, EightBitsHaveTheBitmapFileImageLayout) {
    const Picture p = Gradient(3, 2, Depth::Grey);
    const Bytes b = MustEncode(p);
    const std::size_t offset = 14 + 40 + 256 * 4;
    ASSERT_EQ(b.size(), offset + 2 * 4);  // rows of 3 bytes padded to 4
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(U32(b, 2), b.size());
    EXPECT_EQ(U32(b, 6), 0u);
    EXPECT_EQ(U32(b, 10), offset);
    EXPECT_EQ(U32(b, 14), 40u);
    EXPECT_EQ(U32(b, 18), 3u);
    EXPECT_EQ(U32(b, 22), 2u);  // positive: bottom-up
    EXPECT_EQ(U16(b, 26), 1);
    EXPECT_EQ(U16(b, 28), 8);
    EXPECT_EQ(U32(b, 30), 0u);
    EXPECT_EQ(U32(b, 34), 8u);
    EXPECT_EQ(U32(b, 38), 11811u);  // 300 dpi x 39.3701
    EXPECT_EQ(U32(b, 42), 11811u);
    EXPECT_EQ(U32(b, 46), 256u);
    for (std::uint32_t i = 0; i < 256; ++i)
        ASSERT_EQ(U32(b, 54 + 4 * i), i | i << 8 | i << 16) << i;
    // The last row comes first, each padded with zeros.
    EXPECT_EQ(std::vector<int>(b.begin() + offset, b.end()),
              (std::vector<int>{7, 47, 87, 0, 0, 40, 80, 0}));
}

TEST(CodecBmpWrite, TwentyFourBitsAreBgrUnlessRgbIsAsked) {
    Picture p{ImageBuffer(1, 1, 3, 0, {200, 100}), Depth::Rgb};
    p.pixels.At(0, 0, 0) = 10;
    p.pixels.At(0, 0, 1) = 20;
    p.pixels.At(0, 0, 2) = 30;
    const Bytes bgr = MustEncode(p);
    ASSERT_EQ(bgr.size(), 54u + 4);
    EXPECT_EQ(U32(bgr, 10), 54u);
    EXPECT_EQ(U16(bgr, 28), 24);
    EXPECT_EQ(U32(bgr, 38), 7874u);  // 200 dpi
    EXPECT_EQ(U32(bgr, 42), 3937u);  // 100 dpi
    EXPECT_EQ(U32(bgr, 46), 0u);
    EXPECT_EQ(std::vector<int>(bgr.begin() + 54, bgr.end()), (std::vector<int>{30, 20, 10, 0}));
    const Bytes rgb = MustEncode(p, {.format = Format::Bmp, .bmpOrder = ChannelOrder::Rgb});
    EXPECT_EQ(std::vector<int>(rgb.begin() + 54, rgb.end()), (std::vector<int>{10, 20, 30, 0}));
}

TEST(CodecBmpWrite, OneBitHasABlackAndWhitePalette) {
    const Picture p = Gradient(10, 2, Depth::Bilevel);
    const Bytes b = MustEncode(p);
    ASSERT_EQ(b.size(), 14u + 40 + 8 + 2 * 4);
    EXPECT_EQ(U16(b, 28), 1);
    EXPECT_EQ(U32(b, 46), 2u);
    EXPECT_EQ(U32(b, 54), 0u);
    EXPECT_EQ(U32(b, 58), 0x00ffffffu);
    // Bottom row (y = 1): black where (x + 1) % 3 == 0, i.e. x = 2, 5, 8.
    EXPECT_EQ(b[62], 0b11011011);
    EXPECT_EQ(b[63] & 0xc0, 0b01000000);
}

TEST(CodecBmpRead, EveryDepthComesBack) {
    for (Depth depth : {Depth::Bilevel, Depth::Grey, Depth::Rgb}) {
        const Picture p = Gradient(13, 5, depth, {300, 200});
        std::string why;
        const auto back = Decode(MustEncode(p), &why);
        ASSERT_TRUE(back.has_value()) << why;
        EXPECT_EQ(back->depth, depth);
        EXPECT_EQ(back->pixels, p.pixels) << static_cast<int>(depth);
    }
}

TEST(CodecBmpRead, ANegativeHeightIsTopDown) {
    const Picture p = Gradient(4, 3, Depth::Grey);
    Bytes b = MustEncode(p);
    // Store the rows in the other order and say so.
    const std::size_t offset = U32(b, 10);
    Bytes rows(b.begin() + offset, b.end());
    for (int y = 0; y < 3; ++y)
        std::memcpy(b.data() + offset + 4 * y, rows.data() + 4 * (2 - y), 4);
    Put32(b, 22, static_cast<std::uint32_t>(-3));
    const auto back = Decode(b);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->pixels, p.pixels);
}

TEST(CodecBmpRead, FourBitColourPalette) {
    // 3 x 1 pixels of 4 bits, palette of 3 entries (one of them colour).
    Bytes b(14 + 40 + 3 * 4 + 4, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    Put32(b, 10, 14 + 40 + 12);
    Put32(b, 14, 40);
    Put32(b, 18, 3);
    Put32(b, 22, 1);
    b[26] = 1;
    b[28] = 4;
    Put32(b, 46, 3);
    const std::uint8_t palette[] = {0, 0, 0, 0, 255, 255, 255, 0, 255, 0, 0, 0};  // B, G, R
    std::memcpy(b.data() + 54, palette, sizeof palette);
    b[66] = 0x12;  // pixels 1, 2
    b[67] = 0x00;  // pixel 0
    const auto p = Decode(b);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->depth, Depth::Rgb);
    EXPECT_EQ(std::vector<int>(p->pixels.Data(), p->pixels.Data() + 9),
              (std::vector<int>{255, 255, 255, 0, 0, 255, 0, 0, 0}));
}

class CodecBmpHostile : public ::testing::Test {
  protected:
    void ExpectRefused(const Bytes& b, const char* what) {
        std::string why;
        EXPECT_FALSE(Decode(b, &why).has_value()) << what;
        EXPECT_FALSE(why.empty()) << what;
    }
    Bytes good_ = MustEncode(Gradient(5, 4, Depth::Grey));
};

TEST_F(CodecBmpHostile, EveryTruncationIsRefused) {
    for (std::size_t n = 0; n < good_.size(); ++n)
        EXPECT_FALSE(Decode(std::span(good_.data(), n)).has_value()) << n;
    EXPECT_TRUE(Decode(good_).has_value());
}

TEST_F(CodecBmpHostile, SizesThatCannotBe) {
    const std::int32_t widths[] = {0, -5, std::numeric_limits<std::int32_t>::max(), 1 << 20};
    for (std::int32_t w : widths) {
        Bytes b = good_;
        Put32(b, 18, static_cast<std::uint32_t>(w));
        ExpectRefused(b, "width");
    }
    const std::int32_t heights[] = {0, std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::max(), -(1 << 20), 5};
    for (std::int32_t h : heights) {
        Bytes b = good_;
        Put32(b, 22, static_cast<std::uint32_t>(h));
        ExpectRefused(b, "height");
    }
    // Both within the side limit but beyond a buffer.
    Bytes b = good_;
    Put32(b, 18, 1 << 19);
    Put32(b, 22, 1 << 19);
    ExpectRefused(b, "area");
}

TEST_F(CodecBmpHostile, LyingOffsetsHeadersAndPalettes) {
    Bytes b = good_;
    Put32(b, 10, static_cast<std::uint32_t>(good_.size()));  // pixels beyond the end
    ExpectRefused(b, "offset at end");
    b = good_;
    Put32(b, 10, 0xfffffff0u);
    ExpectRefused(b, "offset far");
    b = good_;
    Put32(b, 10, 20);  // inside the headers
    ExpectRefused(b, "offset inside");
    b = good_;
    Put32(b, 14, 0xffffffffu);
    ExpectRefused(b, "header size");
    b = good_;
    Put32(b, 14, 39);
    ExpectRefused(b, "header size 39");
    b = good_;
    Put32(b, 46, 257);
    ExpectRefused(b, "palette of 257");
    b = good_;
    Put32(b, 46, 0x40000000u);
    ExpectRefused(b, "palette overflow");
    b = good_;
    b[28] = 32;
    ExpectRefused(b, "32 bits");
    b = good_;
    b[30] = 1;  // RLE8
    ExpectRefused(b, "compressed");
}

TEST_F(CodecBmpHostile, APaletteIndexBeyondThePaletteReadsBlack) {
    Bytes b = good_;
    Put32(b, 46, 16);  // 16 entries kept, pixels still index up to 255
    const auto p = Decode(b);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->pixels.At(0, 1), 7);
    EXPECT_EQ(p->pixels.At(1, 0), 0);  // index 40
}

}  // namespace
}  // namespace kovran::imaging::codec
