// The deskew and crop at the end of an acquisition, on sides drawn with
// known angles and sizes.
#include "imaging/deskew.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "imaging/contours.h"
#include "imaging/deskew_state.h"
#include "imaging/synthetic_side.h"

namespace kovran::imaging {
namespace {

using testing_side::Plane;
using testing_side::SideRecord;
using testing_side::SideSpec;

double Mean(const cv::Mat& plane, int x, int y, int size) {
    return cv::mean(plane(cv::Rect(x, y, size, size)))[0];
}

// The upright document: paper at its corners, the solid square where it was
// drawn (so neither turned the wrong way nor mirrored).
void ExpectUpright(const ImageRecord& r) {
    const cv::Mat p = Plane(r);
    EXPECT_LT(Mean(p, 95, 95, 50), 60) << "square not at the top left";
    EXPECT_GT(Mean(p, 12, 12, 30), 150) << "top-left corner is not paper";
    EXPECT_GT(Mean(p, r.width - 45, 12, 30), 150) << "top-right corner";
    EXPECT_GT(Mean(p, 12, r.Height - 45, 30), 150) << "bottom-left corner";
    EXPECT_GT(Mean(p, r.width - 45, r.Height - 45, 30), 150) << "bottom-right corner";
}

// The outline is searched at half the resolution of a 300 dpi side: it must
// be where a search over every pixel puts it, whatever the document's
// position against the blocks of pixels the reduction averages.
TEST(DocumentSearch, ReducedSideGivesTheRectangleOfTheFullSide) {
    for (const double angle : {-3.3, -0.4, 1.7, 6.1}) {
        for (const double shift : {0.0, 0.5, 1.0, 1.5}) {
            SideSpec spec;
            spec.angleDeg = angle;
            spec.centre = {1344 + shift, 550 + shift / 2};
            const cv::Mat grey = testing_side::DrawSide(spec);
            const SearchImage reduced = ReduceForSearch(grey, 300);
            ASSERT_EQ(reduced.factor, 2);
            ASSERT_EQ(reduced.reduced.cols, grey.cols / 2);
            const auto fast = FindDocument(reduced, {});
            const auto full =
                FindDocument(SearchImage{.reduced = grey, .factor = 1, .dpi = 300}, {});
            ASSERT_TRUE(fast && full) << angle << " " << shift;
            const std::string what = std::to_string(angle) + " " + std::to_string(shift);
            EXPECT_NEAR(fast->center.x, full->center.x, 0.5) << what;
            EXPECT_NEAR(fast->center.y, full->center.y, 0.5) << what;
            const float fastWidth = std::max(fast->size.width, fast->size.height);
            const float fastHeight = std::min(fast->size.width, fast->size.height);
            const float fullWidth = std::max(full->size.width, full->size.height);
            const float fullHeight = std::min(full->size.width, full->size.height);
            EXPECT_NEAR(fastWidth, fullWidth, 1.0) << what;
            EXPECT_NEAR(fastHeight, fullHeight, 1.0) << what;
            EXPECT_NEAR(fastWidth, spec.docWidth, 3) << what;
            EXPECT_NEAR(fastHeight, spec.docHeight, 3) << what;
        }
    }
}

// The reduced search against the full one where it is hardest: a 600 dpi
// side (reduced by four), paper cut by the strip's border, a document just
// above the smallest accepted, steep turns, and sides with no paper edge.
// Every corner must lie within a pixel of the full search's (measured: at
// most 0.71, on the border).
TEST(DocumentSearch, ReducedSideAgreesWithTheFullSideAtItsEdgeCases) {
    struct Case {
        const char* name;
        SideSpec spec;
    };
    std::vector<Case> cases;
    {
        SideSpec s;
        s.stripWidth = 5376;
        s.stripHeight = 2200;
        s.docWidth = 3600;
        s.docHeight = 1700;
        s.centre = {2688.5, 1100.75};
        s.angleDeg = 2.3;
        s.dpiH = s.dpiV = 600;
        cases.push_back({"600 dpi", s});
        s.angleDeg = -0.3;
        s.centre = {2689.25, 1101.5};
        cases.push_back({"600 dpi level", s});
    }
    {
        SideSpec s;
        s.centre = {s.docWidth / 2.0 - 15, 550};
        s.angleDeg = 1.2;
        cases.push_back({"cut at the left", s});
        s.centre = {1344, s.docHeight / 2.0 - 0.5};
        s.angleDeg = 0.0;
        cases.push_back({"on the top line", s});
        s.centre = {s.stripWidth - s.docWidth / 2.0 + 0.5, s.stripHeight - s.docHeight / 2.0};
        cases.push_back({"in the bottom-right corner", s});
    }
    {
        SideSpec s;
        s.docWidth = 960;
        s.docHeight = 700;
        s.angleDeg = 4.0;
        cases.push_back({"small", s});
    }
    for (double angle : {30.0, -44.0, 44.9, 60.0}) {
        SideSpec s;
        s.stripHeight = 1800;
        s.centre = {1344.5, 900.5};
        s.docWidth = 1300;
        s.docHeight = 620;
        s.angleDeg = angle;
        cases.push_back({"steep", s});
    }
    for (const Case& c : cases) {
        const std::string what = std::string(c.name) + " " + std::to_string(c.spec.angleDeg);
        const cv::Mat grey = testing_side::DrawSide(c.spec);
        const SearchImage reduced = ReduceForSearch(grey, c.spec.dpiH);
        ASSERT_EQ(reduced.factor, c.spec.dpiH / 150) << what;
        const auto fast = FindDocument(reduced, {});
        const auto full =
            FindDocument(SearchImage{.reduced = grey, .factor = 1, .dpi = c.spec.dpiH}, {});
        ASSERT_EQ(fast.has_value(), full.has_value()) << what;
        if (!full) continue;
        cv::Point2f a[4];
        cv::Point2f b[4];
        fast->points(a);
        full->points(b);
        for (const cv::Point2f& p : a) {
            double nearest = 1e9;
            for (const cv::Point2f& q : b) nearest = std::min(nearest, cv::norm(p - q));
            EXPECT_LE(nearest, 1.0) << what << " corner " << p;
        }
    }
    // No paper edge: white or black from border to border, at both
    // resolutions.
    for (std::uint8_t level : {std::uint8_t{0}, std::uint8_t{255}}) {
        for (int dpi : {300, 600}) {
            const cv::Mat flat(1100 * dpi / 300, 2688 * dpi / 300, CV_8UC1, cv::Scalar(level));
            EXPECT_FALSE(FindDocument(ReduceForSearch(flat, dpi), {}).has_value())
                << int{level} << " " << dpi;
        }
    }
}

class DeskewAngles : public ::testing::TestWithParam<double> {};

TEST_P(DeskewAngles, FullTransformGivesTheUprightDocument) {
    SideSpec spec;
    spec.angleDeg = GetParam();
    ImageRecord side = SideRecord(spec);
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, {.fullTransform = true}, &message)) << message;
    EXPECT_NEAR(side.width, spec.docWidth, 3);
    EXPECT_NEAR(side.Height, spec.docHeight, 3);
    EXPECT_EQ(side.top, 0);
    EXPECT_EQ(side.left, 24);  // its own columns of the line
    EXPECT_TRUE(side.deskewed);
    EXPECT_FALSE(DeskewState(1)->stored);
    ExpectUpright(side);
}

TEST_P(DeskewAngles, CropOnlyStoresTheAngleAndBox) {
    SideSpec spec;
    spec.angleDeg = GetParam();
    ImageRecord side = SideRecord(spec);
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, {.fullTransform = false}, &message)) << message;
    const SideDeskew& state = *DeskewState(1);
    ASSERT_TRUE(state.stored);
    EXPECT_NEAR(state.angle, spec.angleDeg, 0.2);
    EXPECT_FALSE(side.deskewed);
    const double a = spec.angleDeg * CV_PI / 180.0;
    const double boxWidth =
        spec.docWidth * std::cos(std::abs(a)) + spec.docHeight * std::sin(std::abs(a));
    const double boxHeight =
        spec.docWidth * std::sin(std::abs(a)) + spec.docHeight * std::cos(std::abs(a));
    EXPECT_NEAR(side.width, boxWidth, 4);
    EXPECT_NEAR(side.Height, boxHeight, 4);
    EXPECT_NEAR(state.width, spec.docWidth, 3);
    EXPECT_NEAR(state.height, spec.docHeight, 3);
}

INSTANTIATE_TEST_SUITE_P(KnownAngles, DeskewAngles, ::testing::Values(-4.0, -1.2, 0.8, 2.5, 7.0));

// Turned near the diagonal the document must still come out whole: either
// way up (the turn is never more than 45 degrees), never a sliver.
class DeskewSteepAngles : public ::testing::TestWithParam<double> {};

TEST_P(DeskewSteepAngles, DocumentKeepsItsSize) {
    SideSpec spec;
    spec.stripWidth = 2688;
    spec.stripHeight = 2688;
    spec.centre = {1344, 1344};
    spec.angleDeg = GetParam();
    auto expectSides = [&](int a, int b, const char* what) {
        EXPECT_NEAR(std::min(a, b), spec.docHeight, 4) << what;
        EXPECT_NEAR(std::max(a, b), spec.docWidth, 4) << what;
    };
    ImageRecord side = SideRecord(spec);
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, {}, &message)) << message;
    expectSides(side.width, side.Height, "full transform");

    side = SideRecord(spec);
    ASSERT_TRUE(KVXDeskewWrap(side, {.fullTransform = false}, &message)) << message;
    const SideDeskew& state = *DeskewState(1);
    ASSERT_TRUE(state.stored);
    expectSides(state.width, state.height, "stored for retrieval");
    // The crop holds the whole turned document.
    const double a = spec.angleDeg * CV_PI / 180.0;
    const double c = std::abs(std::cos(a));
    const double s = std::abs(std::sin(a));
    EXPECT_NEAR(side.width, spec.docWidth * c + spec.docHeight * s, 6);
    EXPECT_NEAR(side.Height, spec.docWidth * s + spec.docHeight * c, 6);
}

INSTANTIATE_TEST_SUITE_P(NearTheDiagonal, DeskewSteepAngles,
                         ::testing::Values(-89.0, -46.0, -45.0, -44.0, 44.0, 45.0, 46.0, 89.0));

TEST(Deskew, DocumentShorterThanTheStripIsMeasuredAgainUpright) {
    SideSpec spec;
    spec.docWidth = 1000;
    spec.docHeight = 700;
    spec.angleDeg = 5.0;
    ImageRecord side = SideRecord(spec);
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, {.fullTransform = false}, &message)) << message;
    EXPECT_NEAR(DeskewState(1)->angle, 5.0, 0.2);
    side = SideRecord(spec);
    ASSERT_TRUE(KVXDeskewWrap(side, {}, &message)) << message;
    EXPECT_NEAR(side.width, 1000, 3);
    EXPECT_NEAR(side.Height, 700, 3);
    ExpectUpright(side);
}

TEST(Deskew, SidesSharingLinesKeepToTheirColumns) {
    // One stream: each line holds the rear's pixels, then the front's; the
    // rear is a view into the front's memory.
    SideSpec rearSpec;
    rearSpec.stripWidth = 1300;
    rearSpec.docWidth = 1000;
    rearSpec.docHeight = 700;
    rearSpec.centre = {650, 550};
    rearSpec.angleDeg = -3.0;
    SideSpec frontSpec = rearSpec;
    frontSpec.angleDeg = 4.0;
    cv::Mat line(1100, 2600, CV_8UC1);
    testing_side::DrawSide(rearSpec).copyTo(line(cv::Rect(0, 0, 1300, 1100)));
    testing_side::DrawSide(frontSpec).copyTo(line(cv::Rect(1300, 0, 1300, 1100)));
    ImageRecord front = testing_side::RecordOf(line, 300, 300, 1, 7, 0);
    front.left = 1300;
    front.width = 1300;
    ImageRecord rear = front;
    rear.side = 0;
    rear.left = 0;
    rear.allocSize = 0;
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(front, {}, &message)) << message;
    ASSERT_TRUE(KVXDeskewWrap(rear, {}, &message)) << message;
    for (const ImageRecord* r : {&front, &rear}) {
        EXPECT_NEAR(r->width, 1000, 3);
        EXPECT_NEAR(r->Height, 700, 3);
        ExpectUpright(*r);
    }
}

TEST(Deskew, SmallAngleIsCroppedButNotTurned) {
    SideSpec spec;
    spec.angleDeg = 0.3;
    ImageRecord side = SideRecord(spec);
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, {.fullTransform = false}, &message)) << message;
    EXPECT_FALSE(DeskewState(1)->stored);
    EXPECT_TRUE(side.deskewed);
    const double a = 0.3 * CV_PI / 180.0;
    EXPECT_NEAR(side.width, 1800 * std::cos(a) + 850 * std::sin(a), 3);
    EXPECT_NEAR(side.Height, 1800 * std::sin(a) + 850 * std::cos(a), 3);
}

TEST(Deskew, HalfVerticalResolutionIsMadeSquareFirst) {
    SideSpec spec;
    spec.angleDeg = 1.5;
    spec.dpiV = 150;
    ImageRecord side = SideRecord(spec);
    ASSERT_EQ(side.Height, 550);
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, {}, &message)) << message;
    EXPECT_EQ(side.dpiV, 300);
    EXPECT_NEAR(side.width, 1800, 4);
    EXPECT_NEAR(side.Height, 850, 4);
    ExpectUpright(side);
}

TEST(Deskew, DarkPhotographAcrossTheDocumentStillGivesOneDocument) {
    SideSpec spec;
    spec.angleDeg = 2.0;
    // Each piece alone is just above the smallest document (7 square
    // inches); joined they make the whole document.
    spec.bandFrom = 750;
    spec.bandTo = 1050;
    ImageRecord side = SideRecord(spec);
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, {}, &message)) << message;
    EXPECT_NEAR(side.width, 1800, 4);
    EXPECT_NEAR(side.Height, 850, 4);
}

TEST(Deskew, SidesWithoutPaperEdgeStayAsAcquired) {
    for (std::uint8_t level : {std::uint8_t{0}, std::uint8_t{255}}) {
        SCOPED_TRACE(static_cast<int>(level));
        ImageRecord side =
            testing_side::RecordOf(cv::Mat(1100, 2688, CV_8UC1, cv::Scalar(level)), 300, 300);
        const ImageRecord before = side;
        std::string message;
        EXPECT_TRUE(KVXDeskewWrap(side, {}, &message));
        EXPECT_EQ(side.width, before.width);
        EXPECT_EQ(side.Height, before.Height);
        EXPECT_EQ(side.top, before.top);
        EXPECT_FALSE(side.deskewed);
        EXPECT_EQ(cv::countNonZero(Plane(side) != level), 0);
    }
}

TEST(Deskew, DocumentCutByTheStripBorderIsKeptAsCut) {
    SideSpec spec;
    spec.docHeight = 520;
    spec.centre = {1344, 200};  // 60 lines above the strip
    ImageRecord side = SideRecord(spec);
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, {}, &message)) << message;
    // A cut document is only taken at a low threshold, where the blurred
    // edge lies a few pixels out in the background.
    EXPECT_NEAR(side.width, 1800, 8);
    EXPECT_NEAR(side.Height, 460, 5);
}

TEST(Deskew, BacklightFollowsItsSide) {
    SideSpec spec;
    spec.angleDeg = 3.0;
    ImageRecord side = SideRecord(spec);
    ImageRecord backlight = SideRecord(spec);
    backlight.side = 2;
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, {.backlight = &backlight}, &message)) << message;
    EXPECT_EQ(backlight.width, side.width);
    EXPECT_EQ(backlight.Height, side.Height);
    EXPECT_EQ(cv::countNonZero(Plane(side) != Plane(backlight)), 0);
}

TEST(Deskew, ColourChannelsAreAllWarped) {
    SideSpec spec;
    spec.angleDeg = -2.0;
    ImageRecord side = SideRecord(spec, 3);
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, {}, &message)) << message;
    EXPECT_NEAR(side.width, 1800, 3);
    for (int c = 1; c < 3; ++c) EXPECT_EQ(cv::countNonZero(Plane(side, c) != Plane(side, 0)), 0);
}

TEST(Deskew, StampIsMarkedAndClipped) {
    SideSpec spec;
    ImageRecord side = SideRecord(spec);
    // A 20 x 10 stamp with ink in its left half, hanging over the right border.
    std::vector<std::uint8_t> stamp(20 * 10, 255);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) stamp[static_cast<std::size_t>(y * 20 + x)] = 0;
    acquisition::DeskewCall call;
    call.sharpen = false;
    call.stamp = {
        .pixels = stamp.data(), .width = 20, .height = 10, .stride = 20, .x = 1795, .y = 400};
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, call, &message)) << message;
    ASSERT_GE(side.width, 1797);
    const cv::Mat p = Plane(side);
    EXPECT_EQ(p.at<std::uint8_t>(405, 1796), 50);
    EXPECT_NE(p.at<std::uint8_t>(399, 1796), 50);
    EXPECT_NE(p.at<std::uint8_t>(410, 1796), 50);
    EXPECT_NE(p.at<std::uint8_t>(405, 1794), 50);
}

TEST(Deskew, SharpeningRaisesEdgeContrast) {
    SideSpec spec;
    ImageRecord plain = SideRecord(spec);
    ImageRecord sharp = SideRecord(spec);
    std::string message;
    acquisition::DeskewCall call;
    call.sharpen = false;
    ASSERT_TRUE(KVXDeskewWrap(plain, call, &message));
    call.sharpen = true;
    ASSERT_TRUE(KVXDeskewWrap(sharp, call, &message));
    // Paper far from marks: 1.4 v - 0.3 v + 20 = 1.1 v + 20.
    const int v = Plane(plain).at<std::uint8_t>(700, 1700);
    EXPECT_NEAR(Plane(sharp).at<std::uint8_t>(700, 1700), std::min(255.0, 1.1 * v + 20), 2);
}

TEST(Deskew, SharpeningStartsAbove150Pixels) {
    // A square document of n pixels is cropped to n - 1: 150 stays as it is,
    // 151 is sharpened (paper of 200 becomes 1.1 x 200 + 20).
    for (auto [document, expected] : {std::pair{151, 200}, std::pair{152, 240}}) {
        SCOPED_TRACE(document);
        cv::Mat image(document + 200, document + 200, CV_8UC1, cv::Scalar(30));
        image(cv::Rect(100, 100, document, document)).setTo(200);
        ImageRecord side = testing_side::RecordOf(image, 30, 30);
        std::string message;
        ASSERT_TRUE(KVXDeskewWrap(side, {}, &message)) << message;
        ASSERT_EQ(side.width, document - 1);
        EXPECT_NEAR(Plane(side).at<std::uint8_t>(side.Height / 2, side.width / 2), expected, 1);
    }
}

TEST(Deskew, MirrorFlagsTurnTheDocumentOver) {
    SideSpec spec;
    spec.angleDeg = 2.0;
    ImageRecord side = SideRecord(spec);
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(side, {.mirror = acquisition::Mirror::X}, &message)) << message;
    EXPECT_LT(Mean(Plane(side), side.width - 145, 95, 50), 60) << "square not at the top right";
    side = SideRecord(spec);
    ASSERT_TRUE(KVXDeskewWrap(side, {.mirror = acquisition::Mirror::Y}, &message)) << message;
    EXPECT_LT(Mean(Plane(side), 95, side.Height - 145, 50), 60) << "square not at the bottom left";
}

TEST(Deskew, StampFarOffTheImageMarksNothing) {
    SideSpec spec;
    ImageRecord plain = SideRecord(spec);
    std::string message;
    ASSERT_TRUE(KVXDeskewWrap(plain, {}, &message)) << message;
    std::vector<std::uint8_t> stamp(20 * 10, 0);
    for (auto [x, y] : {std::pair{INT_MAX - 5, INT_MAX - 3}, std::pair{INT_MIN + 3, 400},
                        std::pair{100, INT_MIN + 1}}) {
        ImageRecord side = SideRecord(spec);
        acquisition::DeskewCall call;
        call.stamp = {
            .pixels = stamp.data(), .width = 20, .height = 10, .stride = 20, .x = x, .y = y};
        ASSERT_TRUE(KVXDeskewWrap(side, call, &message)) << message;
        ASSERT_EQ(Plane(side).size(), Plane(plain).size());
        EXPECT_EQ(cv::countNonZero(Plane(side) != Plane(plain)), 0) << x << ", " << y;
    }
}

TEST(Deskew, SideReachingPastItsSensorIsRefusedUntouched) {
    // One stream: the front's 1300 sensor pixels, then the rear's. A rear
    // whose image runs past its sensor would read and overwrite what
    // follows it in the line.
    SideSpec spec;
    spec.stripWidth = 1300;
    spec.docWidth = 1000;
    spec.docHeight = 700;
    spec.centre = {650, 550};
    spec.angleDeg = 3.0;
    cv::Mat line(1100, 2600, CV_8UC1);
    testing_side::DrawSide(spec).copyTo(line(cv::Rect(0, 0, 1300, 1100)));
    testing_side::DrawSide(spec).copyTo(line(cv::Rect(1300, 0, 1300, 1100)));
    ImageRecord front = testing_side::RecordOf(line, 300, 300, 1, 7, 0);
    front.width = 1300;
    front.sensorPixels = 1300;
    ImageRecord rear = front;
    rear.side = 0;
    rear.data = front.data + 1300;
    rear.left = 100;
    rear.allocSize = 0;
    const std::vector<std::uint8_t> before(front.data, front.data + front.allocSize);
    std::string message;
    EXPECT_FALSE(KVXDeskewWrap(rear, {}, &message));
    EXPECT_EQ(message, "KVXDeskewWrap setting img buffer A");
    EXPECT_TRUE(std::equal(before.begin(), before.end(), front.data));
    // Inside its sensor the same rear is deskewed.
    rear.left = 0;
    EXPECT_TRUE(KVXDeskewWrap(rear, {}, &message)) << message;
    EXPECT_NEAR(rear.width, 1000, 3);
}

TEST(Deskew, HeightsBeyondSixteenBitsFailCleanly) {
    const cv::Mat strip(40000, 8, CV_8UC1, cv::Scalar(30));
    // Square lines at a high resolution: worked on, no overflow.
    ImageRecord side = testing_side::RecordOf(strip, 60000, 60000, 1, 0, 0);
    std::string message;
    EXPECT_TRUE(KVXDeskewWrap(side, {}, &message)) << message;
    // Half the vertical resolution: 80000 square lines, more than a record
    // can count.
    side = testing_side::RecordOf(strip, 600, 300, 1, 0, 0);
    EXPECT_FALSE(KVXDeskewWrap(side, {}, &message));
    EXPECT_EQ(message, "KVXDeskewWrap setting img buffer A");
    EXPECT_EQ(side.Height, 40000);
}

TEST(Deskew, HostileGeometryFailsCleanly) {
    SideSpec spec;
    const ImageRecord good = SideRecord(spec);
    auto expectRefused = [](ImageRecord r, const char* what) {
        std::string message;
        EXPECT_FALSE(KVXDeskewWrap(r, {}, &message)) << what;
        EXPECT_EQ(message, "KVXDeskewWrap setting img buffer A") << what;
    };
    ImageRecord r = good;
    r.width = 0;
    expectRefused(r, "zero width");
    r = good;
    r.Height = 0;
    expectRefused(r, "zero height");
    r = good;
    r.stride = static_cast<std::uint16_t>(r.channelPitch - 1);
    expectRefused(r, "stride shorter than a line");
    r = good;
    r.Height = static_cast<std::uint16_t>(r.Height + 100);
    expectRefused(r, "lines past the allocation");
    r = good;
    r.data = nullptr;
    expectRefused(r, "no lines");
    r = good;
    r.dpiV = 0;
    expectRefused(r, "no resolution");
    r = good;
    r.left = static_cast<std::int16_t>(r.channelPitch);
    expectRefused(r, "left past the line");
}

}  // namespace
}  // namespace kovran::imaging
