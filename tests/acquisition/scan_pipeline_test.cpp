// Documents fed to the simulated scanner come out of the scan API as
// corrected, deskewed and cropped images that match them; and the faults of
// the stream each end with their result, every thread joined.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "acquisition/pipeline_fixture.h"

namespace kovran::test {
namespace {

constexpr double kPi = 3.14159265358979323846;

// What a finished side looks like next to the document it came from.
struct Match {
    int width = 0;   // across the paper path
    int height = 0;  // along it
    int expectedWidth = 0;
    int expectedHeight = 0;
    double angleDegrees = 0.0;  // residual tilt of the document's bar
    double meanError = 0.0;     // per pixel and channel, grey levels
    double toneGain = 1.0;      // output = toneGain x document + toneOffset
    double toneOffset = 0.0;
};

// Document levels above this may saturate in the output.
constexpr double kFitBelow = 205.0;

// Column of the dark bar's centre in one line of the plane, or NaN; the
// bar lies in the first third of the line, or in the last (the front's
// pixels start at the document's bottom edge).
double BarCentre(const cv::Mat& plane, int y, bool lastThird) {
    double sum = 0.0;
    double weight = 0.0;
    const int from = lastThird ? plane.cols - plane.cols / 3 : 0;
    const int to = lastThird ? plane.cols : plane.cols / 3;
    for (int x = from; x < to; ++x) {
        const int v = plane.at<std::uint8_t>(y, x);
        if (v < 128) {
            sum += x;
            weight += 1.0;
        }
    }
    return weight > 0 ? sum / weight : std::numeric_limits<double>::quiet_NaN();
}

// The side's image lies across the sensor (its pixels run along the
// document's height) and along the paper path (its lines run along the
// document's width, the leading edge first). Each side is a turn of the
// document: the front's pixels start at the document's bottom edge, the
// rear's lines run from its far edge (it is seen from the other face).
Match Compare(const ImageRecord& r, const sim::SimImage& doc, bool rear) {
    Match m;
    m.width = r.width;
    m.height = r.Height;
    m.expectedWidth = static_cast<int>(std::lround(doc.height * r.dpiH / 300.0));
    m.expectedHeight = static_cast<int>(std::lround(doc.width * r.dpiV / 300.0));
    if (!imaging::RecordUsable(r) || r.width < 20 || r.Height < 20) {
        m.meanError = 255;
        return m;
    }
    std::vector<cv::Mat> planes;
    for (int c = 0; c < r.channels; ++c) planes.push_back(imaging::ChannelPlane(r, c));

    const int y1 = r.Height / 5;
    const int y2 = r.Height * 4 / 5;
    m.angleDegrees =
        std::atan2(BarCentre(planes[0], y2, !rear) - BarCentre(planes[0], y1, !rear), y2 - y1) *
        180.0 / kPi;

    const double sx = 300.0 / r.dpiH;
    const double sy = 300.0 / r.dpiV;
    auto expected = [&](int x, int y, int c) {
        int xd = static_cast<int>((y + 0.5) * sy);
        int yd = std::clamp(static_cast<int>((x + 0.5) * sx), 0, doc.height - 1);
        xd = std::clamp(xd, 0, doc.width - 1);
        if (rear)
            xd = doc.width - 1 - xd;
        else
            yd = doc.height - 1 - yd;
        return doc.At(xd, yd, doc.channels == 3 ? c : 0);
    };
    // Inside a small frame; the best of a few pixels' shift (the crop may
    // sit a pixel or two off the paper's edge). The tone response of the
    // whole chain (gain coefficients, output curve) is fitted as a line on
    // the levels that do not saturate, and the error taken after it.
    const int frame = 6;
    double best = 1e9;
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
            double sx0 = 0, sy0 = 0, sxx = 0, sxy = 0, k = 0;
            for (int y = frame; y < r.Height - frame; y += 3) {
                for (int x = frame; x < r.width - frame; x += 3) {
                    for (int c = 0; c < r.channels; ++c) {
                        const double want = expected(x + dx, y + dy, c);
                        if (want > kFitBelow) continue;
                        const double got =
                            planes[static_cast<std::size_t>(c)].at<std::uint8_t>(y, x);
                        sx0 += want;
                        sy0 += got;
                        sxx += want * want;
                        sxy += want * got;
                        k += 1;
                    }
                }
            }
            const double det = k * sxx - sx0 * sx0;
            const double a = det > 0 ? (k * sxy - sx0 * sy0) / det : 1.0;
            const double b = k > 0 ? (sy0 - a * sx0) / k : 0.0;
            double sum = 0.0;
            std::size_t n = 0;
            for (int y = frame; y < r.Height - frame; y += 2) {
                for (int x = frame; x < r.width - frame; x += 2) {
                    for (int c = 0; c < r.channels; ++c) {
                        const int got = planes[static_cast<std::size_t>(c)].at<std::uint8_t>(y, x);
                        const double want =
                            std::clamp(a * expected(x + dx, y + dy, c) + b, 0.0, 255.0);
                        sum += std::abs(got - want);
                        ++n;
                    }
                }
            }
            const double error = n > 0 ? sum / static_cast<double>(n) : 255.0;
            if (error < best) {
                best = error;
                m.toneGain = a;
                m.toneOffset = b;
            }
        }
    }
    m.meanError = best;
    return m;
}

// ---- The images -----------------------------------------------------------

struct Mode {
    int dpi = 300;
    bool colour = false;
    bool front = true;
    bool rear = true;
};

std::string ModeName(const testing::TestParamInfo<Mode>& info) {
    const Mode& m = info.param;
    return std::to_string(m.dpi) + (m.colour ? "Colour" : "Grey") + (m.front ? "Front" : "") +
           (m.rear ? "Rear" : "");
}

// Size within 3 pixels (at the mode's resolution), the residual tilt within
// half a degree, and a mean pixel error below 4 grey levels once the tone
// response is fitted: the sensor has no spread here, so what is left is the
// resampling of the document to the mode's resolution and the deskew's
// interpolation along the edges of the patterns (measured 0.7 to 2.6). The
// tone response itself (measured: gain 1.09 to 1.18, offset +13 to +28)
// must stay a plain brightening, never an inversion or a washout.
constexpr int kSizeTolerance = 3;
constexpr double kAngleTolerance = 0.5;
constexpr double kMeanErrorLimit = 4.0;
constexpr double kLeastToneGain = 0.9;
constexpr double kMostToneGain = 1.3;

class PipelineImages : public PipelineTest, public testing::WithParamInterface<Mode> {};

TEST_P(PipelineImages, TheContinuousFeederDeliversEachDocumentCorrectedDeskewedAndCropped) {
    const Mode mode = GetParam();
    sim::DeviceProfile p = Profile();
    std::vector<FedDocument> fed;
    int variant = 0;
    for (double skew : {-2.0, 0.8, 3.0}) {
        fed.push_back(Document(1500, 700, mode.colour, variant++, skew));
        p.feeder.push_back(fed.back().document);
    }
    PlugAndOpen(p);
    ShortBuffers();
    ASSERT_EQ(KVXSetParameter(0, mode.colour ? 2 : 1), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXSetParameter(30, 1), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgCreate1(handle, static_cast<std::int16_t>(mode.front ? mode.dpi : 0),
                            static_cast<std::int16_t>(mode.rear ? mode.dpi : 0), 0),
              KVX_OK)
        << LogBytes();
    for (std::size_t i = 0; i < fed.size(); ++i) {
        ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK)
            << "document " << i << "\n"
            << LogBytes();
        for (int side : {kFront, kRear}) {
            const bool wanted = side == kFront ? mode.front : mode.rear;
            const ImageRecord& r = Img(side);
            if (!wanted) continue;
            ASSERT_EQ(r.bytesPerPixel, mode.colour ? 3 : 1);
            const sim::SimImage& doc = side == kFront ? fed[i].front : fed[i].rear;
            const Match m = Compare(r, doc, side == kRear);
            const std::string where = "document " + std::to_string(i) + " side " +
                                      std::to_string(side) + " skew " +
                                      std::to_string(fed[i].document.skewDegrees);
            std::printf("%s: %dx%d (doc %dx%d) tilt %.3f error %.2f tone %.3f %+.1f\n",
                        where.c_str(), m.width, m.height, m.expectedWidth, m.expectedHeight,
                        m.angleDegrees, m.meanError, m.toneGain, m.toneOffset);
            EXPECT_NEAR(m.width, m.expectedWidth, kSizeTolerance) << where;
            EXPECT_NEAR(m.height, m.expectedHeight, kSizeTolerance) << where;
            EXPECT_NEAR(m.angleDegrees, 0.0, kAngleTolerance) << where;
            EXPECT_LT(m.meanError, kMeanErrorLimit) << where;
            EXPECT_GT(m.toneGain, kLeastToneGain) << where;
            EXPECT_LT(m.toneGain, kMostToneGain) << where;
        }
    }
}

// While the feeder takes the next document in the background, the host
// changes the scan parameters: the running acquisition keeps the settings
// it was armed with (and, under ThreadSanitizer, shares none of them with
// the host), and the documents still come whole.
TEST_F(PipelineTest, TheHostChangesScanParametersWhileTheFeederTakesTheNextDocument) {
    sim::DeviceProfile p = Profile();
    for (int i = 0; i < 3; ++i) p.feeder.push_back(Document(1500, 700, false, i, 0).document);
    PlugAndOpen(p);
    ShortBuffers();
    ASSERT_EQ(KVXSetParameter(30, 1), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgCreate1(handle, 200, 200, 0), KVX_OK) << LogBytes();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK)
            << "document " << i << "\n"
            << LogBytes();
        EXPECT_NEAR(Img(kFront).Height, 1000, kSizeTolerance) << "document " << i;
        // The next document is under way now.
        EXPECT_EQ(KVXSetParameter(103, 60 + i), KVX_OK);
        EXPECT_EQ(KVXSetParameter(100, 1000 + i), KVX_OK);
    }
}

// The same comparison with the sensor's own spread (gain 0.85 to 1, dark
// offset 0 to 8 counts per pixel) and no calibration to take it out: the
// columns come out striped, and the error grows well past the clean one.
TEST_F(PipelineTest, AnUncalibratedSensorSpreadShowsInThePixelError) {
    double errors[2] = {};
    for (bool spread : {false, true}) {
        sim::DeviceProfile p = Profile(spread);
        const FedDocument d = Document(1500, 700, false, 0, 0.8);
        p.feeder.push_back(d.document);
        PlugAndOpen(p);
        ShortBuffers();
        ASSERT_EQ(KVXImgCreate1(handle, 300, 0, 0), KVX_OK) << LogBytes();
        ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
        errors[spread ? 1 : 0] = Compare(Img(kFront), d.front, false).meanError;
        EXPECT_EQ(KVXClose(handle), KVX_OK);
        handle = 0;
        device::InstallUsbBackend(nullptr);
    }
    std::printf("mean error without spread %.2f, with spread %.2f\n", errors[0], errors[1]);
    EXPECT_LT(errors[0], kMeanErrorLimit);
    EXPECT_GT(errors[1], 1.5 * errors[0]);
}

INSTANTIATE_TEST_SUITE_P(MainFamilyModes, PipelineImages,
                         testing::Values(Mode{100, false, true, true},
                                         Mode{200, false, true, false},
                                         Mode{300, false, true, true},
                                         Mode{300, false, false, true},
                                         Mode{100, true, true, false}, Mode{200, true, true, true},
                                         Mode{300, true, true, true}),
                         ModeName);

}  // namespace
}  // namespace kovran::test
