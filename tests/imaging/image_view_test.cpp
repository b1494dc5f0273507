#include "imaging/image_view.h"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "imaging/mat_adapter.h"

namespace kovran::imaging {
namespace {

// Sizes that cannot describe memory are refused when the view or buffer is
// made, not when a pixel is first touched.
TEST(ImageView, RefusesGeometryThatCannotDescribeMemory) {
    std::uint8_t pixels[64] = {};
    EXPECT_NO_THROW(ImageView(pixels, 4, 4, 16, 3));
    EXPECT_NO_THROW(ImageView(nullptr, 0, 0, 0));
    EXPECT_THROW(ImageView(pixels, -1, 4, 4), std::invalid_argument);
    EXPECT_THROW(ImageView(pixels, 4, -1, 4), std::invalid_argument);
    EXPECT_THROW(ImageView(pixels, 4, 4, 3), std::invalid_argument);      // stride < row
    EXPECT_THROW(ImageView(pixels, 4, 4, 11, 3), std::invalid_argument);  // 12-byte rows
    EXPECT_THROW(ImageView(pixels, 4, 4, 20, 5), std::invalid_argument);  // channels
    EXPECT_THROW(ImageView(pixels, 4, 4, 4, 0), std::invalid_argument);
    EXPECT_THROW(ImageView(nullptr, 4, 4, 4), std::invalid_argument);
    // Rows times stride beyond the address range.
    constexpr auto kHuge = std::numeric_limits<std::ptrdiff_t>::max() / 2;
    EXPECT_THROW(ImageView(pixels, 4, 3, kHuge), std::invalid_argument);
    EXPECT_NO_THROW(ImageView(pixels, 4, 2, kHuge));

    EXPECT_THROW(ImageBuffer(std::numeric_limits<int>::max(), std::numeric_limits<int>::max()),
                 std::invalid_argument);
    EXPECT_THROW(ImageBuffer((1 << 16) + 1, 1 << 14, 1), std::invalid_argument);  // over 1 GiB
    EXPECT_THROW(ImageBuffer(std::numeric_limits<int>::max(), 1, 4), std::invalid_argument);
    EXPECT_THROW(ImageBuffer(-3, 2), std::invalid_argument);
    EXPECT_EQ(PackedBytes(1 << 15, 1 << 15, 1), kMaxBufferBytes);
}

TEST(ImageView, StridedAccessAndCrop) {
    // Two rows of three RGB pixels, each row padded to 12 bytes.
    std::vector<std::uint8_t> bytes(24, 0);
    ImageView v(bytes.data(), 3, 2, 12, 3, {300, 200});
    v.At(2, 1, 1) = 7;
    EXPECT_EQ(bytes[12 + 2 * 3 + 1], 7);
    EXPECT_EQ(v.Res(), (Resolution{300, 200}));

    const ImageView crop = v.Crop(1, 1, 5, 5);  // clipped to 2 x 1
    EXPECT_EQ(crop.Width(), 2);
    EXPECT_EQ(crop.Height(), 1);
    EXPECT_EQ(crop.Stride(), 12);
    EXPECT_EQ(crop.At(1, 0, 1), 7);
    EXPECT_TRUE(v.Crop(3, 0, 1, 1).Empty());
    EXPECT_TRUE(v.Crop(-5, -5, 2, 2).Empty());

    const ConstImageView readOnly = v;  // writable reads as constant
    EXPECT_EQ(readOnly.At(2, 1, 1), 7);
}

TEST(ImageBuffer, OwnsPackedPixelsAndMovesThem) {
    ImageBuffer b(5, 3, 1, 9, {600, 600});
    EXPECT_EQ(b.Stride(), 5);
    EXPECT_EQ(b.Bytes(), 15u);
    EXPECT_EQ(b.At(4, 2), 9);
    b.View().At(4, 2) = 1;
    EXPECT_EQ(b.At(4, 2), 1);

    const ImageBuffer copy = b;
    ImageBuffer moved = std::move(b);
    EXPECT_TRUE(b.Empty());  // NOLINT(bugprone-use-after-move): moved-from is empty
    EXPECT_EQ(b.Bytes(), 0u);
    EXPECT_EQ(moved, copy);
    EXPECT_EQ(moved.Res(), (Resolution{600, 600}));

    // A copy of a strided view is packed.
    std::vector<std::uint8_t> bytes = {1, 2, 0xEE, 3, 4, 0xEE};
    const ImageBuffer packed = ImageBuffer::CopyOf(ConstImageView(bytes.data(), 2, 2, 3));
    EXPECT_EQ(std::vector<std::uint8_t>(packed.Data(), packed.Data() + packed.Bytes()),
              (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

// The adapter shares memory both ways: what OpenCV writes the view sees.
TEST(MatAdapter, SharesPixelsWithoutCopying) {
    ImageBuffer b(4, 3, 3, 0);
    cv::Mat m = ToMat(b.View());
    ASSERT_EQ(m.type(), CV_8UC3);
    EXPECT_EQ(m.data, b.Data());
    m.at<cv::Vec3b>(2, 1)[2] = 42;
    EXPECT_EQ(b.At(1, 2, 2), 42);

    cv::Mat wide(10, 20, CV_8UC1, cv::Scalar(5));
    cv::Mat roi = wide(cv::Rect(3, 2, 4, 5));  // strided: step 20, 4 wide
    const ImageView v = ToView(roi, {300, 300});
    EXPECT_EQ(v.Width(), 4);
    EXPECT_EQ(v.Height(), 5);
    EXPECT_EQ(v.Stride(), 20);
    v.At(0, 0) = 99;
    EXPECT_EQ(wide.at<std::uint8_t>(2, 3), 99);
    EXPECT_EQ(ToMat(v).data, roi.data);

    cv::Mat floats(2, 2, CV_32FC1);
    EXPECT_THROW(ToView(floats), std::invalid_argument);
    EXPECT_TRUE(ToMat(ImageView()).empty());
}

}  // namespace
}  // namespace kovran::imaging
