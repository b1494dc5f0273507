// The bitmap file image byte by byte, with the retrieval brightness and
// contrast, and the blank page test on drawn sides.
#include <gtest/gtest.h>

#include "api/frame_state.h"
#include "imaging/record_maker.h"
#include "imaging/retrieval/bitmap_image.h"
#include "imaging/retrieval/blank_page.h"

namespace kovran::test {
namespace {

using imaging::output::ByteOrder;
using imaging::retrieval::Adjust;
using imaging::retrieval::AdjustSample;
using imaging::retrieval::BuildBitmap;
using imaging::retrieval::PageBlank;

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t o) {
    return b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (static_cast<std::uint32_t>(b[o + 3]) << 24);
}

TEST(BitmapImage, BrightnessAndContrastFloorByShift) {
    // contrast x (v - 128) / 128 rounds towards minus infinity.
    EXPECT_EQ(AdjustSample(127, {0, 1}), 126);
    EXPECT_EQ(AdjustSample(0, {0, 100}), 0);      // -100 clamped
    EXPECT_EQ(AdjustSample(255, {0, 100}), 255);  // 354 clamped
    EXPECT_EQ(AdjustSample(129, {0, 100}), 129);  // 100 >> 7 = 0
    EXPECT_EQ(AdjustSample(127, {0, 100}), 126);  // -100 >> 7 = -1
    EXPECT_EQ(AdjustSample(28, {0, -100}), 106);  // 28 + (10000 >> 7) = 28 + 78
    EXPECT_EQ(AdjustSample(200, {-100, 0}), 100);
    EXPECT_EQ(AdjustSample(200, {100, 0}), 255);
    EXPECT_EQ(AdjustSample(100, {10, 50}), 99);  // 100 + 10 + floor(-10.9375)
}

TEST(BitmapImage, GreyFileBytes) {
    ImageRecord r = MakeRecord(3, 2, 1, 255, 300);
    Pixel(r, 0, 0) = 10;
    Pixel(r, 1, 0) = 127;
    Pixel(r, 2, 0) = 200;
    Pixel(r, 0, 1) = 1;
    Pixel(r, 1, 1) = 2;
    Pixel(r, 2, 1) = 3;
    const auto b = BuildBitmap(r, {5, 1}, ByteOrder::Bgr);
    ASSERT_TRUE(b);
    const std::size_t offset = 14 + 40 + 1024;
    ASSERT_EQ(b->size(), offset + 2 * 4);  // rows of 3 padded to 4
    EXPECT_EQ((*b)[0], 'B');
    EXPECT_EQ((*b)[1], 'M');
    EXPECT_EQ(U32(*b, 2), b->size());
    EXPECT_EQ(U32(*b, 6), 0u);
    EXPECT_EQ(U32(*b, 10), offset);
    EXPECT_EQ(U32(*b, 14), 40u);
    EXPECT_EQ(U32(*b, 18), 3u);
    EXPECT_EQ(U32(*b, 22), 2u);  // positive: bottom-up
    EXPECT_EQ((*b)[26] | ((*b)[27] << 8), 1);
    EXPECT_EQ((*b)[28] | ((*b)[29] << 8), 8);
    EXPECT_EQ(U32(*b, 30), 0u);
    EXPECT_EQ(U32(*b, 34), 8u);
    EXPECT_EQ(U32(*b, 38), 11811u);  // 300 x 39.3701
    EXPECT_EQ(U32(*b, 42), 11811u);
    EXPECT_EQ(U32(*b, 46), 256u);
    for (int i : {0, 1, 128, 255}) {
        EXPECT_EQ((*b)[54 + i * 4], i);
        EXPECT_EQ((*b)[54 + i * 4 + 1], i);
        EXPECT_EQ((*b)[54 + i * 4 + 2], i);
        EXPECT_EQ((*b)[54 + i * 4 + 3], 0);
    }
    // The bottom line first; brightness 5 and contrast 1 applied.
    const std::vector<std::uint8_t> rows(b->begin() + offset, b->end());
    EXPECT_EQ(rows, (std::vector<std::uint8_t>{5, 6, 7, 0, 14, 131, 205, 0}));
}

TEST(BitmapImage, ColourTripletsInEitherOrder) {
    ImageRecord r = MakeRecord(2, 1, 3, 0, 200);
    Pixel(r, 0, 0, 0) = 1;  // red
    Pixel(r, 0, 0, 1) = 2;  // green
    Pixel(r, 0, 0, 2) = 3;  // blue
    Pixel(r, 1, 0, 0) = 4;
    Pixel(r, 1, 0, 1) = 5;
    Pixel(r, 1, 0, 2) = 6;
    const auto bgr = BuildBitmap(r, {}, ByteOrder::Bgr);
    ASSERT_TRUE(bgr);
    EXPECT_EQ(bgr->size(), 54u + 8u);
    EXPECT_EQ((*bgr)[28], 24);
    EXPECT_EQ(U32(*bgr, 38), 7874u);  // 200 dpi
    EXPECT_EQ(U32(*bgr, 46), 0u);
    EXPECT_EQ(std::vector<std::uint8_t>(bgr->begin() + 54, bgr->end()),
              (std::vector<std::uint8_t>{3, 2, 1, 6, 5, 4, 0, 0}));
    const auto rgb = BuildBitmap(r, {}, ByteOrder::Rgb);
    ASSERT_TRUE(rgb);
    EXPECT_EQ(std::vector<std::uint8_t>(rgb->begin() + 54, rgb->end()),
              (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 0, 0}));
    // One extra channel line (infrared) delivered as grey.
    ImageRecord ir = MakeRecord(2, 1, 4, 9, 200);
    const auto grey = BuildBitmap(ir, {}, ByteOrder::Bgr, {.first = 3, .count = 1});
    ASSERT_TRUE(grey);
    EXPECT_EQ((*grey)[28], 8);
    EXPECT_FALSE(BuildBitmap(ir, {}, ByteOrder::Bgr, {.first = 4, .count = 1}));
}

class BlankPage : public ::testing::Test {
  protected:
    void SetUp() override { ResetLibraryState(); }
    void TearDown() override { ResetLibraryState(); }
};

TEST_F(BlankPage, AWhitePageWithABlackFrameIsBlank) {
    // Small enough to be examined whole: the frame is the dark border.
    ImageRecord r = MakeRecord(250, 300, 1, 250, 300);
    for (int x = 0; x < 250; ++x)
        for (int y : {0, 1, 298, 299}) Pixel(r, x, y) = 0;
    for (int y = 0; y < 300; ++y)
        for (int x : {0, 1, 248, 249}) Pixel(r, x, y) = 0;
    EXPECT_EQ(PageBlank(r, 0, 128), KVX_WAR_BLANK_PAGE);
    // A dark mark inside counts, above the allowance of one pixel.
    Pixel(r, 100, 100) = 110;
    Pixel(r, 101, 100) = 110;
    EXPECT_EQ(PageBlank(r, 0, 128), KVX_OK);
    EXPECT_EQ(PageBlank(r, 0, 100), KVX_WAR_BLANK_PAGE);  // not darker than the level
}

TEST_F(BlankPage, ADarkLineOfOnePercentIsNotBlank) {
    // 2000 wide at 300 dpi: columns 100..1899 examined, allowance 5 x 1800 / 1000 = 9.
    ImageRecord r = MakeRecord(2000, 1000, 1, 240, 300);
    for (int x = 1000; x < 1020; ++x) Pixel(r, x, 500) = 20;
    EXPECT_EQ(PageBlank(r, 5, 128), KVX_OK);
    // Nine dark pixels are within the allowance.
    for (int x = 1009; x < 1020; ++x) Pixel(r, x, 500) = 240;
    EXPECT_EQ(PageBlank(r, 5, 128), KVX_WAR_BLANK_PAGE);
    // Outside the examined area (the first dpiV / 3 lines) nothing counts.
    for (int x = 500; x < 1500; ++x) Pixel(r, x, 50) = 150;
    EXPECT_EQ(PageBlank(r, 5, 200), KVX_WAR_BLANK_PAGE);
    // Any colour channel counts.
    ImageRecord c = MakeRecord(2000, 1000, 3, 240, 300);
    for (int x = 1000; x < 1020; ++x) Pixel(c, x, 500, 2) = 20;
    EXPECT_EQ(PageBlank(c, 5, 128), KVX_OK);
}

}  // namespace
}  // namespace kovran::test
