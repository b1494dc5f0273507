// What the simulated scanner streams, split by the test's own reader and
// compared with the document it was fed, per mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "sim/feeder.h"
#include "sim/scanner_model.h"
#include "sim/sensor_model.h"
#include "stream_rig.h"
#include "support/fake_clock.h"

namespace kovran::sim::streamtest {
namespace {

// The default device at 300 dpi: the document's leading edge reaches the
// front sensor after the first line and a 30/300 inch gap, the rear sensor
// 270 lines later; the paper lies 60 pixels from pixel 0.
constexpr int kLead = 31;
constexpr int kRearDelay = 270;
constexpr int kOffset = 60;
constexpr int kPixels = 2592;

SimDocument Straight(bool colour = false) {
    SimDocument d = GeneratedCheques(1, colour, 7).front();
    d.skewDegrees = 0.0;
    return d;
}

DeviceProfile With(std::vector<SimDocument> documents) {
    DeviceProfile p = DefaultDeviceProfile();
    p.documents = 0;
    p.feeder = std::move(documents);
    return p;
}

// Reflectance recovered from a raw sample with the sensor's true values.
double Recover(const SensorModel& s, SensorSide side, int channel, int pixel, std::uint8_t raw) {
    return (raw - s.Dark(side, channel, pixel, 300)) / s.Gain(side, channel, pixel, 300);
}

TEST(StreamLayout, GreyDuplexInterleavesFrontAndRearAndEndsAfterTheTrailingLength) {
    const SimDocument doc = Straight();
    DocumentImages images;
    std::string why;
    ASSERT_TRUE(doc.Render(&images, &why)) << why;
    DeviceProfile p = With({doc});
    Rig rig(p);
    const std::vector<std::uint8_t> bytes = rig.Acquire(StartBits{});
    const Layout l{.channels = 1, .frontPixels = kPixels, .rearPixels = kPixels};
    // Lead, the document (1800 lines), the rear's delay, then 750 lines of
    // trailing length.
    ASSERT_EQ(bytes.size() % l.LineBytes(), 0u);
    EXPECT_EQ(bytes.size() / l.LineBytes(),
              static_cast<std::size_t>(kLead + 1800 + kRearDelay + 750));
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 255), 0);

    const SensorModel sensor(p.stream.sensor);
    double frontError = 0.0;
    double rearError = 0.0;
    long count = 0;
    for (int x = 0; x < 1800; x += 7) {
        const SplitLine f = Split(&bytes[(kLead + x) * l.LineBytes()], l);
        const SplitLine r = Split(&bytes[(kLead + kRearDelay + x) * l.LineBytes()], l);
        for (int y = 0; y < 825; y += 5) {
            const int pixel = kOffset + y;
            // The front's sensor runs from the document's bottom edge: the
            // front comes out turned, not mirrored.
            frontError += std::abs(Recover(sensor, SensorSide::Front, 0, pixel, f.front[0][pixel]) -
                                   images.front.At(x, images.front.height - 1 - y, 0));
            // The rear is seen from its own face: mirrored along the paper.
            rearError += std::abs(Recover(sensor, SensorSide::Rear, 0, pixel, r.rear[0][pixel]) -
                                  images.rear.At(images.rear.width - 1 - x, y, 0));
            ++count;
        }
    }
    EXPECT_LT(frontError / count, 1.0);
    EXPECT_LT(rearError / count, 1.0);
    // Beside the paper the sensors see the dark background.
    const SplitLine mid = Split(&bytes[(kLead + 900) * l.LineBytes()], l);
    EXPECT_LT(mid.front[0][kOffset / 2], 40);
    EXPECT_LT(mid.front[0][kPixels - 10], 40);
}

// Model 11's front sensor lies downstream of its rear one: the front sees
// the leading edge 100 lines after the rear, which the library drops as the
// front's leading margin, and the stream goes on until the front has seen
// the trailing edge.
TEST(StreamLayout, OnModel11TheFrontSensorSeesThePaperAfterTheRear) {
    DeviceProfile p = With({Straight()});
    p.pid = 11;
    Rig rig(p);
    const std::vector<std::uint8_t> bytes = rig.Acquire(StartBits{});
    const Layout l{.channels = 1, .frontPixels = kPixels, .rearPixels = kPixels};
    ASSERT_EQ(bytes.size() % l.LineBytes(), 0u);
    constexpr int kFrontDelay = 100;
    EXPECT_EQ(bytes.size() / l.LineBytes(),
              static_cast<std::size_t>(kLead + 1800 + kFrontDelay + 750));
    // The first line on which a side sees paper across much of its width.
    const auto firstOnPaper = [&](bool front) {
        for (std::size_t y = 0; y < bytes.size() / l.LineBytes(); ++y) {
            const SplitLine line = Split(&bytes[y * l.LineBytes()], l);
            const std::vector<std::uint8_t>& px = front ? line.front[0] : line.rear[0];
            if (std::count_if(px.begin(), px.end(), [](std::uint8_t v) { return v > 100; }) > 400)
                return static_cast<int>(y);
        }
        return -1;
    };
    EXPECT_EQ(firstOnPaper(false), kLead);
    EXPECT_EQ(firstOnPaper(true), kLead + kFrontDelay);
}

TEST(StreamLayout, ColourSendsThreePlanarChannelLinesPerScanLine) {
    const SimDocument doc = Straight(/*colour=*/true);
    DocumentImages images;
    std::string why;
    ASSERT_TRUE(doc.Render(&images, &why)) << why;
    ASSERT_EQ(images.front.channels, 3);
    DeviceProfile p = With({doc});
    Rig rig(p);
    // Mode 1: 900 channel lines per inch, 300 dpi for each of three colours.
    StartBits s;
    s.mode = 1;
    s.colour = true;
    s.trailing = 2250;
    const std::vector<std::uint8_t> bytes = rig.Acquire(s);
    const Layout l{.channels = 3, .frontPixels = kPixels, .rearPixels = kPixels};
    ASSERT_EQ(bytes.size() % l.LineBytes(), 0u);
    EXPECT_EQ(bytes.size() / l.LineBytes(),
              static_cast<std::size_t>(kLead + 1800 + kRearDelay + 750));
    const SensorModel sensor(p.stream.sensor);
    double error[3] = {};
    long count = 0;
    for (int x = 3; x < 1800; x += 11) {
        const SplitLine f = Split(&bytes[(kLead + x) * l.LineBytes()], l);
        for (int y = 0; y < 825; y += 7) {
            const int pixel = kOffset + y;
            for (int c = 0; c < 3; ++c) {
                error[c] +=
                    std::abs(Recover(sensor, SensorSide::Front, c, pixel, f.front[c][pixel]) -
                             images.front.At(x, images.front.height - 1 - y, c));
            }
            ++count;
        }
    }
    for (int c = 0; c < 3; ++c) EXPECT_LT(error[c] / count, 1.0) << "channel " << c;
}

TEST(StreamLayout, FrontOnlySendsTheFrontPixelsAlone) {
    DeviceProfile p = With({Straight()});
    Rig rig(p);
    StartBits s;
    s.rear = false;
    const std::vector<std::uint8_t> bytes = rig.Acquire(s);
    // No rear sensor to wait for.
    EXPECT_EQ(bytes.size(), static_cast<std::size_t>(kLead + 1800 + 750) * kPixels);
    // Mid-document, on paper, the line reads bright paper, not dark background.
    const std::uint8_t* line = &bytes[(kLead + 900) * kPixels];
    // (Row 400 of the cheque: the front's sensor counts from its bottom.)
    EXPECT_GT(line[kOffset + 824 - 400], 150);
    EXPECT_LT(line[kOffset / 2], 40);
}

TEST(StreamLayout, TheStripFollowsEachChannelLineAndReadsTheTrackAheadOfTheImage) {
    DeviceProfile p = With({Straight()});
    Rig rig(p);
    StartBits s;
    s.strip = true;
    const std::vector<std::uint8_t> bytes = rig.Acquire(s);
    // Both sides: the head's two-sided ratio, 5 samples per channel line.
    const Layout l{.channels = 1, .frontPixels = kPixels, .rearPixels = kPixels, .strip = 5};
    ASSERT_EQ(bytes.size() % l.LineBytes(), 0u);
    const std::size_t lines = bytes.size() / l.LineBytes();
    // The codeline runs 705..741 rows down the 825-row cheque (the front's
    // sensor counts from its bottom edge); the head lies 200 pixels (0x190 /
    // 2) ahead of the image sensor.
    const int codelinePixel = kOffset + 824 - 720;
    std::vector<bool> bar(lines, false);
    std::optional<std::size_t> firstDip;
    for (std::size_t k = 0; k < lines; ++k) {
        const SplitLine sl = Split(&bytes[k * l.LineBytes()], l);
        bar[k] = sl.front[0][codelinePixel] < 100;
        if (!firstDip && *std::min_element(sl.strip[0].begin(), sl.strip[0].end()) < 100)
            firstDip = k;
        for (std::uint8_t v : sl.strip[0]) ASSERT_LT(v, 255);
    }
    ASSERT_TRUE(firstDip) << lines << " lines";
    // The ink the head found reaches the image sensor 200 lines later.
    std::optional<std::size_t> onset;
    for (std::size_t k = *firstDip + 190; k < lines && !onset; ++k) {
        if (bar[k] && !bar[k - 1]) onset = k;
    }
    ASSERT_TRUE(onset);
    EXPECT_NEAR(static_cast<double>(*onset) - static_cast<double>(*firstDip), 200.0, 2.0);
}

TEST(StreamLayout, HeadFlagOneLimitsTheLineToTheHeadImageWidthNeverBeyondTheSensor) {
    struct Case {
        int headWidth300;
        int pixels;
    };
    // 1296 pixels at 300 dpi: half the sensor; 0xFFFF: no wider than the sensor.
    for (const Case c : {Case{1296, 1296}, Case{0xFFFF, kPixels}}) {
        DeviceProfile p = With({Straight()});
        p.micrBlock[1] |= 0x08;
        p.micrBlock[13] = static_cast<std::uint8_t>(c.headWidth300);
        p.micrBlock[14] = static_cast<std::uint8_t>(c.headWidth300 >> 8);
        Rig rig(p);
        StartBits s;
        s.strip = true;
        s.channelLines = 100;
        const std::vector<std::uint8_t> bytes = rig.Acquire(s);
        const Layout l{.channels = 1, .frontPixels = c.pixels, .rearPixels = c.pixels, .strip = 5};
        EXPECT_EQ(bytes.size(), 100 * l.LineBytes()) << c.headWidth300;
    }
}

TEST(StreamLayout, TheBacklightLineClosesEachScanLine) {
    DeviceProfile p = With({Straight()});
    Rig rig(p);
    StartBits s;
    s.backlight = true;
    s.trailing = 1500;  // channel lines, the backlight's included
    const std::vector<std::uint8_t> bytes = rig.Acquire(s);
    const Layout l{
        .channels = 1, .frontPixels = kPixels, .rearPixels = kPixels, .backlightPixels = kPixels};
    ASSERT_EQ(bytes.size() % l.LineBytes(), 0u);
    EXPECT_EQ(bytes.size() / l.LineBytes(),
              static_cast<std::size_t>(kLead + 1800 + kRearDelay + 750));
    const SplitLine mid = Split(&bytes[(kLead + 900) * l.LineBytes()], l);
    // Open light beside the paper, less through it, least under the ink.
    EXPECT_GT(mid.backlight[kOffset / 2], 200);
    const auto darkest =
        *std::min_element(mid.backlight.begin() + kOffset, mid.backlight.begin() + kOffset + 825);
    EXPECT_LT(darkest, 150);
}

TEST(StreamLayout, AHardwareAlignerMarksEveryChannelLineWithALeadingZero) {
    DeviceProfile p = With({Straight(/*colour=*/true)});
    p.stream.aligner = true;
    Rig rig(p);
    StartBits s;
    s.mode = 1;
    s.colour = true;
    s.trailing = 300;
    const std::vector<std::uint8_t> bytes = rig.Acquire(s);
    const std::size_t pitch = 2 * kPixels;
    ASSERT_EQ(bytes.size() % (3 * pitch), 0u);
    for (std::size_t at = 0; at < bytes.size(); at += pitch) ASSERT_EQ(bytes[at], 0) << "at " << at;
    // Without the aligner the first byte is a pixel like any other.
    DeviceProfile plain = With({Straight(true)});
    Rig other(plain);
    const std::vector<std::uint8_t> raw = other.Acquire(s);
    EXPECT_NE(raw[0], 0);
}

TEST(StreamLayout, TheStreamEndsWithAShortReadOrAtTheLinesAsked) {
    {
        DeviceProfile p = With({Straight()});
        Rig rig(p);
        ASSERT_EQ(rig.SendStart(StartBits{}), 0);
        ASSERT_EQ(rig.Go(), 0);
        std::vector<std::uint8_t> out;
        Read r;
        do r = rig.ReadBlock(1 << 20, &out);
        while (r.error == 0 && r.bytes == (1u << 20));
        EXPECT_EQ(r.error, 0);
        EXPECT_LT(r.bytes, 1u << 20);
        // After the end every read is empty at once.
        EXPECT_EQ(rig.ReadBlock(4096, &out).bytes, 0u);
        EXPECT_EQ(rig.End(), 0);
    }
    {
        // A buffer for 1000 lines: the device stops there, the last read is full.
        DeviceProfile p = With({Straight()});
        Rig rig(p);
        StartBits s;
        s.channelLines = 1000;
        ASSERT_EQ(rig.SendStart(s), 0);
        ASSERT_EQ(rig.Go(), 0);
        std::vector<std::uint8_t> out;
        const Read r = rig.ReadBlock(1000 * 2 * kPixels, &out);
        EXPECT_EQ(r.bytes, 1000u * 2 * kPixels);
        EXPECT_EQ(rig.ReadBlock(4096, &out).bytes, 0u);
    }
}

TEST(StreamLayout, AStartCommandTheFirmwareRefusesStreamsNothing) {
    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> change;
        const char* reason;
    };
    const Case cases[] = {
        {"mode 6 with the strip",
         [](auto& b) {
             b[0] = 6;
             b[1] |= 1;
             b[2] |= 0x20;
         },
         "mode 6"},
        {"a reserved byte", [](auto& b) { b[25] = 1; }, "byte 25"},
        {"a lamp level of 255", [](auto& b) { b[5] = 255; }, "255"},
        {"no lines", [](auto& b) { b[10] = b[11] = 0; }, "no channel lines"},
    };
    for (const Case& c : cases) {
        DeviceProfile p = With({Straight()});
        Rig rig(p);
        std::vector<std::uint8_t> bytes = StartCommandBytes(StartBits{});
        c.change(bytes);
        ASSERT_EQ(simio::Write(rig.Dev(), kFw, kClassD1, 0x33, bytes), 0);
        ASSERT_EQ(rig.Go(), 0);
        EXPECT_TRUE(rig.ReadAll().empty()) << c.what;
        const std::string refusal =
            rig.Scanner().Inspect([](const ScannerModel& m) { return m.Acquisition().Refusal(); });
        EXPECT_NE(refusal.find(c.reason), std::string::npos) << c.what << ": " << refusal;
    }
}

TEST(StreamLayout, ARefusedGoMovesNoPaper) {
    // The document a refused GO would have taken is the next good GO's.
    std::vector<SimDocument> two = GeneratedCheques(2, false, 7);
    Rig reference(With(two));
    const std::vector<std::uint8_t> first = reference.Acquire(StartBits{});
    Rig rig(With(two));
    ASSERT_EQ(rig.Go(), 0);  // no start command yet
    EXPECT_TRUE(rig.ReadAll().empty());
    std::vector<std::uint8_t> bad = StartCommandBytes(StartBits{});
    bad[32] = 1;
    ASSERT_EQ(simio::Write(rig.Dev(), kFw, kClassD1, 0x33, bad), 0);
    ASSERT_EQ(rig.Go(), 0);
    EXPECT_TRUE(rig.ReadAll().empty());
    ASSERT_EQ(rig.End(), 0);
    EXPECT_EQ(rig.Scanner().FeederCount(), 2u);
    EXPECT_EQ(rig.Acquire(StartBits{}), first);
    EXPECT_EQ(rig.Scanner().FeederCount(), 1u);
}

TEST(StreamLayout, ASecondGoWithoutTheEndGoesOnWithTheSameDocument) {
    // An acquisition in two parts: the first asks for 500 lines and ends
    // without the end of acquisition; the second GO takes the rest of the
    // same document, and the next document stays in the feeder.
    std::vector<SimDocument> two = GeneratedCheques(2, false, 7);
    Rig reference(With(two));
    const std::vector<std::uint8_t> whole = reference.Acquire(StartBits{});
    Rig rig(With(two));
    StartBits first;
    first.channelLines = 500;
    ASSERT_EQ(rig.SendStart(first), 0);
    ASSERT_EQ(rig.Go(), 0);
    std::vector<std::uint8_t> bytes = rig.ReadAll();
    ASSERT_EQ(bytes.size(), 500u * 2 * kPixels);
    ASSERT_EQ(rig.SendStart(StartBits{}), 0);
    ASSERT_EQ(rig.Go(), 0);
    const std::vector<std::uint8_t> rest = rig.ReadAll();
    ASSERT_EQ(rig.End(), 0);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    EXPECT_EQ(bytes, whole);
    EXPECT_EQ(rig.Scanner().FeederCount(), 1u);
    // Once the document has passed whole, GO takes the next one even
    // without the end of acquisition.
    ASSERT_EQ(rig.SendStart(StartBits{}), 0);
    ASSERT_EQ(rig.Go(), 0);
    EXPECT_GT(rig.ReadAll().size(), 1000u * 2 * kPixels);
    EXPECT_EQ(rig.Scanner().FeederCount(), 0u);
}

TEST(StreamLayout, UncorrectedLinesAreUnevenAndNeverReach255) {
    DeviceProfile p = With({Straight()});
    Rig rig(p);
    StartBits s;
    s.rear = false;
    const std::vector<std::uint8_t> bytes = rig.Acquire(s);
    // Along a line of plain paper (row 10 of the cheque, above the border,
    // seen over 300 lines) the raw values spread with the sensor.
    int lo = 255;
    int hi = 0;
    const SensorModel sensor(p.stream.sensor);
    for (int pixel = kOffset + 2; pixel < kOffset + 20; ++pixel) {
        const int v = bytes[(kLead + 600) * kPixels + pixel];
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    double gLo = 2.0;
    double gHi = 0.0;
    for (int pixel = 0; pixel < kPixels; ++pixel) {
        gLo = std::min(gLo, sensor.Gain(SensorSide::Front, 0, pixel, 300));
        gHi = std::max(gHi, sensor.Gain(SensorSide::Front, 0, pixel, 300));
    }
    EXPECT_GE(gLo, 0.85);
    EXPECT_LE(gHi, 1.0);
    EXPECT_GT(gHi - gLo, 0.1);
    EXPECT_GT(hi - lo, 3);
    // White paper at full gain and the largest dark offset clips below 255.
    EXPECT_EQ(SensorModel::Raw(8.0, 1.0, 255), kMaxRawSample);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 255), 0);
}

TEST(StreamLayout, TheRawValuesFollowTheLampAndTheCalibrationSheetStaysInThePath) {
    DeviceProfile p = With({CalibrationSheet(2.0, 250)});
    p.stream.sensor.dustSpecks = 2;
    Rig rig(p);
    const SensorModel sensor(p.stream.sensor);
    StartBits s;
    s.rear = false;
    s.channelLines = 200;
    // Lamps off: the sensor's dark offset alone, on the sheet or not.
    s.lamp = 0;
    const std::vector<std::uint8_t> dark = rig.Acquire(s);
    ASSERT_EQ(dark.size(), 200u * kPixels);
    for (std::size_t i = 0; i < dark.size(); ++i) ASSERT_LE(dark[i], 9) << i;
    EXPECT_EQ(rig.Scanner().FeederCount(), 0u);

    // The next GO scans on along the same sheet: no gap before it.
    s.lamp = 63;
    const std::vector<std::uint8_t> full = rig.Acquire(s);
    s.lamp = 31;
    const std::vector<std::uint8_t> half = rig.Acquire(s);
    ASSERT_EQ(full.size(), 200u * kPixels);
    ASSERT_EQ(half.size(), 200u * kPixels);
    const std::vector<int> dust = sensor.DustSpecks(kPixels);
    ASSERT_EQ(dust.size(), 2u);
    auto dusty = [&](int pixel) {
        return std::any_of(dust.begin(), dust.end(),
                           [&](int at) { return pixel >= at && pixel < at + kDustSpeckPixels; });
    };
    for (int pixel = kOffset + 2; pixel < kPixels; pixel += 7) {
        const double d = sensor.Dark(SensorSide::Front, 0, pixel, 300);
        const double light = dusty(pixel) ? kDustTransmission : 1.0;
        const double g = sensor.Gain(SensorSide::Front, 0, pixel, 300) * light;
        EXPECT_NEAR(full[pixel], std::min(d + g * 250, 254.0), 1.0) << pixel;
        EXPECT_NEAR(half[pixel], d + g * 250 * 31 / 63, 1.0) << pixel;
    }
    for (int at : dust) EXPECT_LT(full[static_cast<std::size_t>(at) + 1], 100) << at;
    // 2 inches are 600 lines: 169 and 400 scanned, 31 left; then the
    // sheet has passed and the sensors see the background.
    const std::vector<std::uint8_t> last = rig.Acquire(s);
    ASSERT_GE(last.size(), 100u * kPixels);
    EXPECT_GT(last[10 * kPixels + 1000], 100);
    EXPECT_LT(last[80 * kPixels + 1000], 40);
}

TEST(StreamLayout, APacedStreamSendsLinesAsTheClockPasses) {
    test::FakeClock clock;
    test::ClockScope scope(clock);
    DeviceProfile p = With({Straight()});
    p.stream.pace = StreamSettings::Pace::Paced;  // 20 inches per second
    Rig rig(p);
    StartBits s;
    s.rear = false;
    ASSERT_EQ(rig.SendStart(s), 0);
    ASSERT_EQ(rig.Go(), 0);
    std::vector<std::uint8_t> buffer(8 << 20, 0xFF);
    platform::BulkTransferId id = 0;
    ASSERT_EQ(rig.Dev().SubmitBulk(platform::BulkPipe::In, buffer.data(), buffer.size(), &id), 0);
    std::size_t n = 0;
    EXPECT_EQ(rig.Dev().PollBulk(id, &n), platform::kErrorIoIncomplete);
    EXPECT_EQ(rig.Scanner().BulkInBytes(), 0u);
    // 50 ms at 20 inches per second and 300 lines per inch: 300 lines.
    clock.AdvanceMs(50);
    EXPECT_EQ(rig.Dev().PollBulk(id, &n), platform::kErrorIoIncomplete);
    EXPECT_EQ(rig.Scanner().BulkInBytes(), 300u * kPixels);
    // The bytes are in the host's buffer as they come.
    EXPECT_NE(buffer[299 * kPixels], 0xFF);
    EXPECT_EQ(buffer[300 * kPixels], 0xFF);
    clock.AdvanceMs(1000);
    EXPECT_EQ(rig.Dev().PollBulk(id, &n), 0);
    EXPECT_EQ(n, static_cast<std::size_t>(kLead + 1800 + 750) * kPixels);
}

TEST(StreamLayout, ASkewedDocumentLiesAtItsAngle) {
    for (double degrees : {1.0, -0.5}) {
        SimDocument doc = Straight();
        doc.skewDegrees = degrees;
        DeviceProfile p = With({doc});
        Rig rig(p);
        StartBits s;
        s.rear = false;
        const std::vector<std::uint8_t> bytes = rig.Acquire(s);
        // The paper's top edge: the first bright pixel of a line.
        auto edge = [&](int line) {
            const std::uint8_t* l = &bytes[static_cast<std::size_t>(line) * kPixels];
            for (int pixel = 0; pixel < kPixels; ++pixel)
                if (l[pixel] > 120) return pixel;
            return -1;
        };
        const int a = edge(kLead + 300);
        const int b = edge(kLead + 1500);
        ASSERT_GT(a, 0);
        ASSERT_GT(b, 0);
        EXPECT_NEAR(std::atan2(b - a, 1200.0) * 180.0 / 3.14159265358979, degrees, 0.1);
    }
}

TEST(StreamLayout, TheInputSensorFollowsThePaper) {
    test::FakeClock clock;
    test::ClockScope scope(clock);
    DeviceProfile p = With({Straight()});
    p.stream.pace = StreamSettings::Pace::Paced;
    Rig rig(p);
    auto status = [&] {
        return rig.Scanner().Inspect([](const ScannerModel& m) { return m.StatusWord(); });
    };
    EXPECT_NE(status() & kStatusDocumentAtInput, 0u);
    StartBits s;
    s.rear = false;
    ASSERT_EQ(rig.SendStart(s), 0);
    ASSERT_EQ(rig.Go(), 0);
    std::vector<std::uint8_t> out;
    clock.AdvanceMs(100);  // 600 lines: the paper still covers the sensor
    rig.ReadBlock(1 << 20, &out, 0);
    EXPECT_NE(status() & kStatusDocumentAtInput, 0u);
    clock.AdvanceMs(400);  // 3000 lines: past its trailing edge
    rig.ReadBlock(1 << 24, &out, 0);
    EXPECT_EQ(status() & kStatusDocumentAtInput, 0u);
}

}  // namespace
}  // namespace kovran::sim::streamtest

namespace kovran::sim::streamtest {
namespace {

TEST(StreamLayout, OlderFirmwareStreamsTheModeItWasSetUpWith) {
    // FW 0x2207 at high speed: no start command; the sides, the colour and
    // the mode come as single requests, GO is request 1.
    constexpr std::uint16_t kOld = 0x2207;
    for (bool forced : {true, false}) {
        DeviceProfile p = With({Straight()});
        p.firmware = kOld;
        Rig rig(p);
        auto command = [&](std::uint8_t sub) {
            return simio::Command(rig.Dev(), kOld, kClassD1, sub);
        };
        ASSERT_EQ(command(0x04), 0);  // rear acquired
        ASSERT_EQ(command(0x14), 0);  // front acquired
        if (forced) {
            ASSERT_EQ(command(0x1F + 3), 0);  // forced mode 3
        } else {
            ASSERT_EQ(command(0x0F), 0);  // the mode's line code, then its resolution code
            ASSERT_EQ(command(15), 0);
            ASSERT_EQ(command(17), 0);
        }
        ASSERT_EQ(command(0x0D), 0);  // grey
        ASSERT_EQ(command(0x01), 0);  // GO forward
        const std::vector<std::uint8_t> bytes = rig.ReadAll();
        ASSERT_EQ(command(0x02), 0);
        ASSERT_EQ(command(0x17), 0);
        // 10.24 inches of sensor at 300 dpi per side, interleaved.
        const Layout l{.channels = 1, .frontPixels = 3072, .rearPixels = 3072};
        ASSERT_EQ(bytes.size() % l.LineBytes(), 0u) << forced;
        EXPECT_EQ(bytes.size() / l.LineBytes(),
                  static_cast<std::size_t>(kLead + 1800 + kRearDelay + 750))
            << forced;
        EXPECT_FALSE(rig.Scanner().Inspect([](const ScannerModel& m) { return m.Acquiring(); }));
    }
}

}  // namespace
}  // namespace kovran::sim::streamtest
