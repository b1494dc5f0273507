// The retrieval's wrap with its resize and turns, and the stretches.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "api/settings.h"
#include "imaging/deskew.h"
#include "imaging/deskew_state.h"
#include "imaging/mat_adapter.h"
#include "imaging/record_planes.h"
#include "imaging/resize.h"
#include "imaging/stretch.h"
#include "imaging/synthetic_side.h"
#include "imaging/wrap.h"

namespace kovran::imaging {
namespace {

using testing_side::Plane;
using testing_side::RecordOf;

ConstImageView ToViewOf(const cv::Mat& mat) {
    return ToView(mat);
}

// A small side whose every pixel differs: value = 10 y + x (+ 100 c).
ImageRecord Numbered(int width, int height, int channels = 1) {
    cv::Mat image(height, width, CV_8UC1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.at<std::uint8_t>(y, x) = static_cast<std::uint8_t>(10 * y + x);
    ImageRecord r = RecordOf(image, 200, 200, channels, 3, 5);
    for (int c = 1; c < channels; ++c) Plane(r, c) += 100 * c;
    r.completed = true;
    r.deskewed = true;
    return r;
}

class WrapTest : public ::testing::Test {
  protected:
    void SetUp() override { saved_ = Settings().scan.deskew; }
    void TearDown() override { Settings().scan.deskew = saved_; }
    bool saved_ = false;
};

TEST_F(WrapTest, PlainCopyKeepsTheLines) {
    ImageRecord in = Numbered(13, 6, 3);
    ImageRecord out;
    std::string message;
    ASSERT_TRUE(Wrap(in, {}, &out, &message)) << message;
    EXPECT_EQ(out.width, 13);
    EXPECT_EQ(out.Height, 6);
    EXPECT_EQ(out.channelPitch, 16);
    EXPECT_EQ(out.stride, 48);
    EXPECT_EQ(out.channels, 3);
    EXPECT_TRUE(out.completed && out.processed && out.enabled);
    EXPECT_EQ(out.top, 0);
    EXPECT_EQ(out.left, 0);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(cv::countNonZero(Plane(out, c) != Plane(in, c)), 0) << c;
}

TEST_F(WrapTest, QuarterTurnClockwiseReadsTheFirstColumnUpward) {
    ImageRecord in = Numbered(7, 4);
    ImageRecord out;
    std::string message;
    ASSERT_TRUE(Wrap(in, {.rotation = kRotateClockwise}, &out, &message)) << message;
    ASSERT_EQ(out.width, 4);
    ASSERT_EQ(out.Height, 7);
    const cv::Mat p = Plane(out);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(p.at<std::uint8_t>(0, x), 10 * (3 - x)) << x;
}

TEST_F(WrapTest, TurnsMatchOpenCvRotate) {
    ImageRecord in = Numbered(9, 5);
    const std::pair<int, cv::RotateFlags> turns[] = {
        {kRotateClockwise, cv::ROTATE_90_CLOCKWISE},
        {kRotateHalf, cv::ROTATE_180},
        {kRotateCounterClockwise, cv::ROTATE_90_COUNTERCLOCKWISE}};
    for (auto [code, flag] : turns) {
        ImageRecord out;
        std::string message;
        ASSERT_TRUE(Wrap(in, {.rotation = code}, &out, &message)) << message;
        cv::Mat expected;
        cv::rotate(Plane(in), expected, flag);
        ASSERT_EQ(Plane(out).size(), expected.size()) << code;
        EXPECT_EQ(cv::countNonZero(Plane(out) != expected), 0) << code;
    }
}

TEST_F(WrapTest, RefusesOddRotationAndUnfinishedSides) {
    ImageRecord in = Numbered(9, 5);
    ImageRecord out;
    std::string message;
    EXPECT_FALSE(Wrap(in, {.rotation = 0x180}, &out, &message));
    EXPECT_EQ(message, "unexpected rotation");
    in.completed = false;
    EXPECT_FALSE(Wrap(in, {}, &out, &message));
    EXPECT_EQ(message, "wrap cut and copy old style");
}

TEST_F(WrapTest, ResolutionAndGreyMerge) {
    ImageRecord in = Numbered(40, 20, 3);
    ImageRecord out;
    std::string message;
    ASSERT_TRUE(Wrap(in, {.dpi = 100, .channels = ChannelChoice::Grey}, &out, &message)) << message;
    EXPECT_EQ(out.width, 20);
    EXPECT_EQ(out.Height, 10);
    EXPECT_EQ(out.channels, 1);
    EXPECT_EQ(out.dpiH, 100);
    EXPECT_EQ(out.dpiV, 100);
    // Channels 0, +100, +200 merge to the mean: v + 100.
    const cv::Mat p = Plane(out);
    EXPECT_NEAR(p.at<std::uint8_t>(0, 0), 100 + 0.5 * 10 * 1 + 1, 12);
}

TEST_F(WrapTest, StoredDeskewIsAppliedOnlyWhenOn) {
    testing_side::SideSpec spec;
    spec.angleDeg = 3.0;
    ImageRecord side = testing_side::SideRecord(spec);
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, {.fullTransform = false}, &message)) << message;
    side.completed = true;
    ImageRecord out;
    Settings().scan.deskew = true;
    ASSERT_TRUE(Wrap(side, {}, &out, &message)) << message;
    EXPECT_NEAR(out.width, 1800, 4);
    EXPECT_NEAR(out.Height, 850, 4);
    EXPECT_LT(cv::mean(Plane(out)(cv::Rect(95, 95, 50, 50)))[0], 60);
    Settings().scan.deskew = false;
    ASSERT_TRUE(Wrap(side, {}, &out, &message)) << message;
    EXPECT_EQ(out.width, side.width);
    EXPECT_EQ(out.Height, side.Height);
    // At half the resolution the deskewed size halves as well.
    Settings().scan.deskew = true;
    ASSERT_TRUE(Wrap(side, {.dpi = 150}, &out, &message)) << message;
    EXPECT_NEAR(out.width, 900, 3);
    EXPECT_NEAR(out.Height, 425, 3);
}

TEST(Resize, RefusesEmptyOutputAndBadSides) {
    ImageRecord in = Numbered(9, 5);
    ImageRecord out;
    std::string message;
    EXPECT_FALSE(KVXResize(in, 1, out, {}, &message));
    EXPECT_EQ(message, "KVXResize - NULL output image buffer");
    std::uint8_t byte = 0;
    out.data = &byte;
    EXPECT_FALSE(KVXResize(in, 1, out, {}, &message));
    EXPECT_EQ(message, "KVXResize - null width for output image buffer - side 1");
    out.width = 4;
    EXPECT_FALSE(KVXResize(in, 0, out, {}, &message));
    EXPECT_EQ(message, "KVXResize - null height for output image buffer - side 0");
    ImageRecord temp;
    EXPECT_FALSE(DeskWrapInt(in, temp, 2, &message));
    EXPECT_EQ(message, "Deskew on invalid side");
}

TEST(Resize, HostileInputFailsCleanly) {
    ImageRecord in = Numbered(9, 5);
    in.stride = 4;
    ImageRecord out;
    std::string message;
    EXPECT_FALSE(Wrap(in, {}, &out, &message));
    in = Numbered(9, 5);
    in.top = 30000;
    EXPECT_FALSE(Wrap(in, {}, &out, &message));
    in = Numbered(9, 5);
    in.dpiV = 0;
    EXPECT_FALSE(Wrap(in, {}, &out, &message));
    // An output no record can describe.
    in = Numbered(9, 5);
    EXPECT_FALSE(Wrap(in, {.dpi = 2000000}, &out, &message));
    EXPECT_EQ(message, "allocating image buffer");
    // A size a record can hold at a resolution it cannot state.
    message.clear();
    EXPECT_FALSE(Wrap(in, {.dpi = 70000}, &out, &message));
    EXPECT_EQ(message, "allocating image buffer");
}

TEST(Resize, OutputsNoRecordCanCountAreRefused) {
    // A record counts its lines and pixels in 16 bits.
    ImageRecord r;
    EXPECT_FALSE(ShapeDerived(r, 1, 70000, 1));
    EXPECT_FALSE(ShapeDerived(r, 70000, 1, 1));
    EXPECT_FALSE(MakeRoom(r, 1, 70000));
    ASSERT_TRUE(ShapeDerived(r, 1, 65535, 1));
    EXPECT_EQ(r.Height, 65535);
}

TEST(FixVRes, StretchesWhenTheSpareLinesHoldIt) {
    cv::Mat image(100, 30, CV_8UC1, cv::Scalar(255));
    image.row(50).setTo(0);
    ImageRecord r = RecordOf(image, 300, 300, 1, 0, 0);
    ImageRecord copy = r;
    copy.alloc = ImageMemory::Allocate(static_cast<std::size_t>(r.allocSize));
    copy.data = copy.alloc->Bytes();
    std::memcpy(copy.data, r.data, static_cast<std::size_t>(r.allocSize));
    EXPECT_TRUE(KVXFixVRes(&r, 1.1, 116));
    EXPECT_EQ(r.Height, 110);
    // The dark line moves from 50 to about 55.
    cv::Point darkest;
    cv::minMaxLoc(Plane(r).col(10), nullptr, nullptr, &darkest);
    EXPECT_NEAR(darkest.y, 55, 1);
    // No room: untouched.
    EXPECT_TRUE(KVXFixVRes(&copy, 1.1, 105));
    EXPECT_EQ(copy.Height, 100);
    EXPECT_FALSE(KVXFixVRes(nullptr, 1.03, 200));
}

TEST(FixVRes, LeavesShortOrBrokenRecords) {
    cv::Mat image(9, 30, CV_8UC1, cv::Scalar(7));
    ImageRecord r = RecordOf(image, 300, 300, 1, 0, 0);
    EXPECT_TRUE(KVXFixVRes(&r, 1.046, 100));
    EXPECT_EQ(r.Height, 9);
    r.Height = 900;  // past its memory
    EXPECT_TRUE(KVXFixVRes(&r, 1.046, 2000));
    EXPECT_EQ(r.Height, 900);
}

TEST(Stretch, ScalesTurnsAndReduces) {
    cv::Mat source(6, 8, CV_8UC1);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            source.at<std::uint8_t>(y, x) = static_cast<std::uint8_t>(20 * y + 3 * x);
    const ConstImageView in = ToViewOf(source);
    ImageBuffer out;
    std::string message;
    ASSERT_TRUE(Stretch(in, &out, {.numH = 2, .numV = 3}, 0.0, 1, &message)) << message;
    EXPECT_EQ(out.Width(), 16);
    EXPECT_EQ(out.Height(), 18);
    ASSERT_TRUE(Stretch(in, &out, {.denH = 2, .denV = 2}, 0.0, 1, &message)) << message;
    ASSERT_EQ(out.Width(), 4);
    ASSERT_EQ(out.Height(), 3);
    // Block average of (0,0),(1,0),(0,1),(1,1): (0 + 3 + 20 + 23) / 4.
    EXPECT_NEAR(out.At(0, 0), 11.5, 0.6);
    ASSERT_TRUE(Stretch(in, &out, {}, CV_PI / 2, 1, &message)) << message;
    cv::Mat expected;
    cv::rotate(source, expected, cv::ROTATE_90_COUNTERCLOCKWISE);
    ASSERT_EQ(out.Width(), expected.cols);
    ASSERT_EQ(out.Height(), expected.rows);
    for (int y = 0; y < expected.rows; ++y)
        for (int x = 0; x < expected.cols; ++x)
            EXPECT_NEAR(out.At(x, y), expected.at<std::uint8_t>(y, x), 1) << x << "," << y;
}

TEST(Stretch, RefusesBadFactorsAndColours) {
    cv::Mat source(6, 8, CV_8UC1, cv::Scalar(1));
    ImageBuffer out;
    std::string message;
    EXPECT_FALSE(Stretch(ToViewOf(source), &out, {.numH = 0}, 0.0, 1, &message));
    EXPECT_EQ(message, "null or negative strech factors");
    EXPECT_FALSE(Stretch(ToViewOf(source), &out, {.denV = -2}, 0.0, 1, &message));
    EXPECT_EQ(message, "null or negative strech factors");
    EXPECT_FALSE(Stretch(ToViewOf(source), &out, {}, 0.0, 0, &message));
    EXPECT_EQ(message, "null nColRGB in Stretch");
    EXPECT_FALSE(Stretch(ToViewOf(source), &out, {}, 0.0, 3, &message));
    EXPECT_EQ(message, "strech with invalid memory allocation");
    EXPECT_FALSE(Stretch(ToViewOf(source), &out, {.numH = 100000}, 0.0, 1, &message));
    EXPECT_EQ(message, "strech with invalid memory allocation");
}

}  // namespace
}  // namespace kovran::imaging
