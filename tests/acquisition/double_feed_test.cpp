// The double-feed arithmetic: where the sensors look, when the document
// itself is dark there, and how long a sensor must see two sheets.
#include <gtest/gtest.h>

#include <vector>

#include "acquisition/double_feed.h"

namespace kovran::test {
namespace {

using namespace acquisition;

TEST(DoubleFeedWindows, SitAtTheSensorsOfEachFaceScaledToTheSidesResolution) {
    EXPECT_EQ(WindowOf(SensorFace::Front, 0, 300).first, 1068);
    EXPECT_EQ(WindowOf(SensorFace::Front, 0, 300).last, 1132);
    EXPECT_EQ(WindowOf(SensorFace::Front, 2, 300).first, 188);
    EXPECT_EQ(WindowOf(SensorFace::Rear, 1, 300).first, 188);
    EXPECT_EQ(WindowOf(SensorFace::Rear, 2, 300).first, 2298);
    EXPECT_EQ(WindowOf(SensorFace::Front, 1, 600).first, 4596);
    EXPECT_EQ(WindowOf(SensorFace::Front, 1, 600).last, 4724);
    EXPECT_EQ(WindowOf(SensorFace::Front, 0, 200).first, 712);
}

TEST(DoubleFeedWindows, ThresholdsComeFromTheCalibrationOrTheFixedPair) {
    const DarkThresholds t = ThresholdsFrom({20, 40, 0, 0, 0}, {220, 40, 0, 0, 0}, true);
    EXPECT_EQ(t.dark[0], 70);
    EXPECT_EQ(t.bright[0], 120);
    // A channel whose references say nothing keeps the fixed pair.
    EXPECT_EQ(t.dark[1], 10);
    EXPECT_EQ(t.bright[1], 128);
    const DarkThresholds none = ThresholdsFrom({20, 0, 0, 0, 0}, {220, 0, 0, 0, 0}, false);
    EXPECT_EQ(none.dark[0], 10);
    EXPECT_EQ(none.bright[0], 128);
    EXPECT_EQ(RunLimit(16), 8);
    EXPECT_EQ(RunLimit(15), 7);
    EXPECT_EQ(RunLimit(8), 4);
    EXPECT_EQ(RunLimit(7), 4);
}

// One side of grey planar lines, white paper.
struct Side {
    explicit Side(int lines, int dpi = 300) : pixels(lines * 2600, 250) {
        r.data = pixels.data();
        r.stride = 2600;
        r.channelPitch = 2600;
        r.channels = 1;
        r.left = 4;
        r.width = 2590;
        r.dpiH = static_cast<std::uint16_t>(dpi);
    }
    void Paint(int x0, int x1, int y0, int y1, std::uint8_t v) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) pixels[static_cast<std::size_t>(y) * 2600 + 4 + x] = v;
    }
    std::vector<std::uint8_t> pixels;
    ImageRecord r;
};

TEST(DoubleFeedWindows, ADarkColumnInAWindowMarksItsSensor) {
    const DarkThresholds t = ThresholdsFrom({}, {}, false);
    Side side(40);
    EXPECT_EQ(DarkWindows(side.r, SensorFace::Front, 0, 20, t), 0);
    // Dark print under sensor 1 of the front: column 1100, lines 0..19.
    side.Paint(1100, 1101, 0, 20, 5);
    EXPECT_EQ(DarkWindows(side.r, SensorFace::Front, 0, 20, t), 0x1);
    // The same column lies under no sensor of the rear.
    EXPECT_EQ(DarkWindows(side.r, SensorFace::Rear, 0, 20, t), 0);
    // Just outside the window counts for nothing.
    Side beside(40);
    beside.Paint(1132, 1133, 0, 20, 5);
    EXPECT_EQ(DarkWindows(beside.r, SensorFace::Front, 0, 20, t), 0);
    // Under rear sensor 3 and front sensor 2 at once.
    Side two(40);
    two.Paint(2330, 2331, 0, 20, 5);
    EXPECT_EQ(DarkWindows(two.r, SensorFace::Rear, 0, 20, t), 0x4);
    EXPECT_EQ(DarkWindows(two.r, SensorFace::Front, 0, 20, t), 0x2);
}

TEST(DoubleFeedWindows, AColumnMustStayDarkLongerThanTheRunLimit) {
    const DarkThresholds t = ThresholdsFrom({}, {}, false);
    // Eight dark lines of twenty do not pass the limit of 8; nine do.
    Side eight(20);
    eight.Paint(220, 221, 0, 8, 5);
    EXPECT_EQ(DarkWindows(eight.r, SensorFace::Front, 0, 20, t), 0);
    Side nine(20);
    nine.Paint(220, 221, 0, 9, 5);
    EXPECT_EQ(DarkWindows(nine.r, SensorFace::Front, 0, 20, t), 0x4);
    // Bright lines in between pull a short run back down.
    Side broken(20);
    broken.Paint(220, 221, 0, 5, 5);
    broken.Paint(220, 221, 8, 14, 5);
    EXPECT_EQ(DarkWindows(broken.r, SensorFace::Front, 0, 20, t), 0);
    // A count past the limit is no longer pulled down.
    Side long_(20);
    long_.Paint(220, 221, 0, 9, 5);
    long_.Paint(220, 221, 10, 20, 5);
    EXPECT_EQ(DarkWindows(long_.r, SensorFace::Front, 0, 20, t), 0x4);
    // Four lines can never pass their limit of 4.
    Side tiny(4);
    tiny.Paint(220, 221, 0, 4, 0);
    EXPECT_EQ(DarkWindows(tiny.r, SensorFace::Front, 0, 4, t), 0);
    // Only the block's own lines count.
    Side later(40);
    later.Paint(220, 221, 20, 40, 5);
    EXPECT_EQ(DarkWindows(later.r, SensorFace::Front, 0, 20, t), 0);
    EXPECT_EQ(DarkWindows(later.r, SensorFace::Front, 20, 20, t), 0x4);
}

// Feeds the tables `lines` lines, each sampled with bits(line); dark(line)
// gives the front's marks. Returns the first double feed.
template <class Bits, class Dark>
std::optional<DoubleFeedFound> Feed(DoubleFeedLines& t, std::int32_t lines, Bits bits, Dark dark,
                                    std::int32_t* at = nullptr) {
    const auto none = [](std::int32_t) -> std::uint8_t { return 0; };
    for (std::int32_t r = 0; r < lines; ++r) {
        const auto found = t.Take(
            r, bits(r), [&](std::int32_t l) -> std::uint8_t { return dark(l); },
            [&](std::int32_t l) -> std::uint8_t { return none(l); }, true);
        if (found) {
            if (at != nullptr) *at = r;
            return found;
        }
    }
    return std::nullopt;
}

TEST(DoubleFeedLines, ASensorSeeingTwoSheetsPastTheLimitIsADoubleFeed) {
    const auto clear = [](std::int32_t) -> std::uint8_t { return 0; };
    // Sensor 2 for 101 lines of paper: the sample of line r describes the
    // paper 472 lines further on.
    DoubleFeedLines t(GeometryFor(300));
    std::int32_t at = 0;
    const auto found = Feed(
        t, 2000, [](std::int32_t r) -> std::uint8_t { return r >= 10 && r < 111 ? 0x2 : 0; }, clear,
        &at);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->sensor, 1);
    EXPECT_EQ(found->count, 101);
    EXPECT_EQ(at, 10 + 472 + 100);

    DoubleFeedLines hundred(GeometryFor(300));
    EXPECT_FALSE(Feed(
        hundred, 2000, [](std::int32_t r) -> std::uint8_t { return r < 100 ? 0x2 : 0; }, clear));
    EXPECT_EQ(hundred.Highest(1), 100);

    // At 600 dpi the distances and the limit double.
    DoubleFeedLines fine(GeometryFor(600));
    EXPECT_EQ(fine.Geometry().sensorDistance, 944);
    EXPECT_FALSE(Feed(
        fine, 4000, [](std::int32_t r) -> std::uint8_t { return r < 200 ? 0x1 : 0; }, clear));
    DoubleFeedLines fine2(GeometryFor(600));
    const auto f2 = Feed(
        fine2, 4000, [](std::int32_t r) -> std::uint8_t { return r < 202 ? 0x1 : 0; }, clear);
    ASSERT_TRUE(f2);
    EXPECT_EQ(At300(f2->count, 600), 100);
}

TEST(DoubleFeedLines, AClearSampleStartsTheCountAgain) {
    const auto clear = [](std::int32_t) -> std::uint8_t { return 0; };
    DoubleFeedLines t(GeometryFor(300));
    // 90 lines, a gap of one, 90 more: two runs below the limit.
    EXPECT_FALSE(Feed(
        t, 2000,
        [](std::int32_t r) -> std::uint8_t { return (r < 90 || (r > 90 && r < 181)) ? 0x4 : 0; },
        clear));
    EXPECT_EQ(t.Highest(2), 90);
    EXPECT_EQ(t.At(472 + 89).count[2], 90);
    EXPECT_EQ(t.At(472 + 90).count[2], 0);
}

TEST(DoubleFeedLines, DarkPrintUnderASensorExcusesItsLines) {
    // Sensor 1 reports a long dark photograph: every line is dark on the
    // front where the sensor looks.
    DoubleFeedLines t(GeometryFor(300));
    EXPECT_FALSE(Feed(
        t, 2000, [](std::int32_t r) -> std::uint8_t { return r < 800 ? 0x1 : 0; },
        [](std::int32_t r) -> std::uint8_t { return r >= 472 && r < 472 + 800 ? 0x1 : 0; }));
    EXPECT_EQ(t.Highest(0), 0);
    // Dark under another sensor excuses nothing.
    DoubleFeedLines other(GeometryFor(300));
    EXPECT_TRUE(Feed(
        other, 2000, [](std::int32_t r) -> std::uint8_t { return r < 800 ? 0x1 : 0; },
        [](std::int32_t) -> std::uint8_t { return 0x6; }));
    // The rear's marks are taken 272 lines behind the front line.
    DoubleFeedLines rear(GeometryFor(300));
    const auto none = [](std::int32_t) -> std::uint8_t { return 0; };
    const auto rearDark = [](std::int32_t l) -> std::uint8_t {
        return l >= 200 && l < 1200 ? 0x1 : 0;
    };
    for (std::int32_t r = 0; r < 1200; ++r)
        EXPECT_FALSE(rear.Take(r, r < 500 ? 0x1 : 0, none, rearDark, true)) << r;
    // Watching only: nothing is counted.
    DoubleFeedLines watch(GeometryFor(300));
    for (std::int32_t r = 0; r < 1200; ++r) EXPECT_FALSE(watch.Take(r, 0x7, none, none, false));
    EXPECT_EQ(watch.Highest(0), 0);
}

TEST(DoubleFeedLines, LinesBeyondTheTablesAreIgnored) {
    DoubleFeedLines t(GeometryFor(300));
    const auto none = [](std::int32_t) -> std::uint8_t { return 0; };
    EXPECT_FALSE(t.Take(kSequenceLines, 0x7, none, none, true));
    EXPECT_FALSE(t.Take(-1, 0x7, none, none, true));
}

}  // namespace
}  // namespace kovran::test
