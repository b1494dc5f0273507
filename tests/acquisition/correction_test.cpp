// The line correction over synthetic raw streams (no device): the output
// curve and its exports, the gain, the per-pixel correction and margins,
// the split of raw lines (de-interleaving, the magnetic strip, the
// re-alignment by the hardware aligner and by software, noise dropouts)
// and the mirrored front.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "KovranMS.h"
#include "acquisition/acq_fixture.h"
#include "acquisition/corr_info.h"
#include "acquisition/correction.h"
#include "acquisition/correction_rig.h"
#include "acquisition/line_correct.h"
#include "acquisition/output_curve.h"

namespace kovran::test {
namespace {

using namespace acquisition;

TEST(OutputCurve, BrightnessAndContrastWorkedValues) {
    const CurveTable bright = BuildCurve(100, 0);
    EXPECT_EQ(bright[200], 255);
    EXPECT_EQ(bright[0], 100);
    const CurveTable steep = BuildCurve(0, 100);
    EXPECT_EQ(steep[128], 128);
    EXPECT_EQ(steep[0], 0);
    EXPECT_EQ(steep[200], 255);
    const CurveTable flat = BuildCurve(-100, -100);
    EXPECT_EQ(flat[0], 0);
    EXPECT_EQ(flat[255], 55);
}

TEST(OutputCurve, ContrastRoundsDownwards) {
    // -1 x 1 / 128 rounds to -1 (an arithmetic shift), not to 0.
    EXPECT_EQ(BuildCurve(0, 1)[127], 126);
    EXPECT_EQ(BuildCurve(0, -1)[129], 128);
    EXPECT_EQ(BuildCurve(0, 0)[77], 77);
}

TEST(Gain, FollowsTheSpanBetweenWhiteAndBlack) {
    CorrInfo info;
    info.white = {110, 126, 100, 90, 255};
    info.black = {100, 100, 100, 100, 0};
    const std::vector<float> g = BuildGain(info, 7, 265.0f, false);
    ASSERT_EQ(g.size(), 7u);
    EXPECT_FLOAT_EQ(g[0], 10.0f) << "a span of 10 is amplified by 10";
    EXPECT_FLOAT_EQ(g[1], 265.0f / 26.0f);
    EXPECT_FLOAT_EQ(g[2], 1.0f);
    EXPECT_FLOAT_EQ(g[3], 1.0f);
    EXPECT_FLOAT_EQ(g[4], 265.0f / 255.0f);
    EXPECT_FLOAT_EQ(g[5], 1.0f) << "beyond the references";
    EXPECT_FLOAT_EQ(g[6], 1.0f);
    for (float v : BuildGain(info, 5, 265.0f, true)) EXPECT_FLOAT_EQ(v, 1.0f);
    CorrInfo missing;
    missing.white = info.white;
    for (float v : BuildGain(missing, 5, 265.0f, false)) EXPECT_FLOAT_EQ(v, 1.0f);
}

// Each column's table is built with shortcuts below the black and above
// the saturation; every raw byte must still read what CorrectPixel gives,
// whatever the gain (also zero or negative) and the black.
TEST(SideCorrector, EveryRawByteReadsWhatCorrectPixelGives) {
    const std::vector<float> gains = {10.0f, 265.0f / 26.0f, 1.0f,  0.37f,  265.0f / 255.0f,
                                      -2.0f, 0.0f,           1e-6f, 255.0f, 265.0f / 27.0f};
    const std::vector<std::uint8_t> blacks = {0, 5, 100, 254, 255, 13, 128, 1};
    const int width = static_cast<int>(gains.size() * blacks.size());
    ImageRecord r;
    r.channels = 1;
    r.sensorPixels = static_cast<std::uint16_t>(width);
    r.width = static_cast<std::uint16_t>(width);
    r.channelPitch = static_cast<std::uint16_t>(width);
    r.stride = static_cast<std::uint16_t>(width);
    r.alloc = ImageMemory::Allocate(static_cast<std::size_t>(width) * 256);
    r.data = r.alloc->Bytes();
    std::vector<float> gain;
    std::vector<std::uint8_t> black;
    for (float g : gains)
        for (std::uint8_t b : blacks) {
            gain.push_back(g);
            black.push_back(b);
        }
    for (const CurveTable& curve : {BuildCurve(0, 0), BuildCurve(37, -60), BuildCurve(-20, 90)}) {
        for (int y = 0; y < 256; ++y)
            std::memset(r.data + static_cast<std::size_t>(y) * r.stride, y,
                        static_cast<std::size_t>(width));
        SideCorrector corrector(r, gain, black, curve, true, Mirror::No);
        corrector.Correct(0, 256);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(r.data[static_cast<std::size_t>(y) * r.stride + x],
                          CorrectPixel(static_cast<std::uint8_t>(y), gain[x], black[x], curve))
                    << "raw " << y << ", gain " << gain[x] << ", black " << int{black[x]};
    }
}

TEST(Gain, NumeratorByDocumentType) {
    for (int t : {3, 4, 6, 7, 8}) EXPECT_FLOAT_EQ(GainNumerator(t), 255.0f) << t;
    for (int t : {0, 1, 2, 5, 9}) EXPECT_FLOAT_EQ(GainNumerator(t), 265.0f) << t;
}

TEST(CorrectPixel, TruncatesAndClampsIntoTheCurve) {
    const CurveTable id = BuildCurve(0, 0);
    EXPECT_EQ(CorrectPixel(105, 10.0f, 100, id), 50);
    EXPECT_EQ(CorrectPixel(99, 10.0f, 100, id), 0);
    EXPECT_EQ(CorrectPixel(200, 10.0f, 100, id), 255);
    EXPECT_EQ(CorrectPixel(103, 1.9f, 100, id), 5) << "5.7 truncates to 5";
    EXPECT_EQ(CorrectPixel(0, 1.0f, 0, BuildCurve(100, 0)), 100);
}

class CorrectionTest : public AcqFixture {
  protected:
    void TearDown() override {
        ResetCurves();
        AcqFixture::TearDown();
    }
    // Flat references of every pixel of a side, with the gain they give.
    void References(int side, std::uint8_t white, std::uint8_t black) {
        CorrInfo& info = CorrInfos().sides[static_cast<std::size_t>(side)];
        const std::size_t n = static_cast<std::size_t>(rig.sensorPixels * rig.channels);
        info.pixels = static_cast<std::uint16_t>(rig.sensorPixels);
        info.white.assign(n, white);
        info.black.assign(n, black);
        CorrInfos().gain[static_cast<std::size_t>(side)] = BuildGain(info, n, 265.0f, false);
    }
    void Run() {
        rig.Arrived();
        ThrCor_0x3000(rig.block.get());
    }
    CorrectionRig rig;
};

TEST_F(CorrectionTest, AppliesGainAndBlackPerPixel) {
    rig.front = [](int, int, int) { return std::uint8_t{105}; };
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    References(kFront, 110, 100);
    References(kRear, 255, 0);
    Run();
    EXPECT_TRUE(rig.block->flags.ok);
    EXPECT_TRUE(rig.block->flags.done);
    for (int y : {0, 17, rig.lines - 1})
        for (int x = rig.left; x < rig.left + rig.width; ++x)
            ASSERT_EQ(rig.FrontAt(y, 0, x), 50) << y << "," << x;
    EXPECT_EQ(rig.block->lines[kFront].load(), rig.lines);
    EXPECT_EQ(rig.block->bytes[kFront].load(), std::int64_t{rig.lines} * rig.Stride());
    EXPECT_NE(Logged().find("ThrCor_0x3000 start"), std::string::npos);
    EXPECT_NE(Logged().find("ThrCor_0x3000 - end ok"), std::string::npos);
}

TEST_F(CorrectionTest, MarginsReadTenAndTheCurveIsApplied) {
    rig.front = [](int, int, int) { return std::uint8_t{0}; };
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    CorrInfos().sides[kFront].black.assign(static_cast<std::size_t>(rig.sensorPixels), 0);
    CorrInfos().gain[kFront].assign(static_cast<std::size_t>(rig.sensorPixels), 1.0f);
    CorrInfos().sides[kRear].black.clear();
    SetCurveBrightness(kFront, 100);
    Run();
    for (int y : {0, rig.lines - 1}) {
        for (int x = 0; x < rig.left; ++x) ASSERT_EQ(rig.FrontAt(y, 0, x), 10) << x;
        for (int x = rig.left + rig.width; x < rig.sensorPixels; ++x)
            ASSERT_EQ(rig.FrontAt(y, 0, x), 10) << x;
        EXPECT_EQ(rig.FrontAt(y, 0, rig.left), 100) << "brightness 100 lifts 0 to 100";
        EXPECT_EQ(rig.RearAt(y, 0, 0), 10);
        EXPECT_EQ(rig.RearAt(y, 0, rig.left), rig.rear(y, 0, rig.left))
            << "no black reference: raw";
    }
}

TEST_F(CorrectionTest, CorrectionOffKeepsRawValuesAndDeinterleaves) {
    rig.channels = 3;
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    References(kFront, 110, 100);
    References(kRear, 110, 100);
    rig.block->correctionOn = false;
    Run();
    for (int y = 0; y < rig.lines; ++y)
        for (int c = 0; c < 3; ++c)
            for (int x = rig.left; x < rig.left + rig.width; ++x) {
                ASSERT_EQ(rig.FrontAt(y, c, x), rig.front(y, c, x)) << y << "," << c << "," << x;
                ASSERT_EQ(rig.RearAt(y, c, x), rig.rear(y, c, x)) << y << "," << c << "," << x;
            }
    EXPECT_EQ(rig.FrontAt(3, 2, 0), 10);
    EXPECT_EQ(rig.RearAt(3, 1, rig.sensorPixels - 1), 10);
}

TEST_F(CorrectionTest, SingleSideLinesAreInPlace) {
    rig.rearOn = false;
    rig.lead = false;  // the older layout: the lines overwrite the raw stream
    rig.channels = 3;
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    rig.block->correctionOn = false;
    Run();
    for (int y = 0; y < rig.lines; ++y)
        for (int c = 0; c < 3; ++c)
            for (int x = rig.left; x < rig.left + rig.width; ++x)
                ASSERT_EQ(rig.FrontAt(y, c, x), rig.front(y, c, x)) << y << "," << c << "," << x;
}

TEST_F(CorrectionTest, MagneticStripGoesToTheCmc7Buffer) {
    rig.channels = 3;
    rig.strip = 6;
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    rig.block->correctionOn = false;
    Run();
    const std::size_t expected = static_cast<std::size_t>(rig.lines * rig.channels * rig.strip);
    ASSERT_EQ(rig.block->cmc7Samples.load(), expected);
    std::size_t at = 0;
    for (int y = 0; y < rig.lines; ++y)
        for (int c = 0; c < rig.channels; ++c)
            for (int k = 0; k < rig.strip; ++k)
                ASSERT_EQ(rig.cmc7[at++], rig.samples(y, c, k)) << y << "," << c << "," << k;
    EXPECT_EQ(rig.cmc7[at], 255) << "nothing past the samples";
    // The pixels after the strip are still in place.
    EXPECT_EQ(rig.FrontAt(rig.lines - 1, 2, rig.left), rig.front(rig.lines - 1, 2, rig.left));
}

TEST_F(CorrectionTest, MagneticSamplesStopAtTheBufferEnd) {
    rig.strip = 4;
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    rig.block->cmc7Capacity = 10;
    Run();
    EXPECT_EQ(rig.block->cmc7Samples.load(), 10u);
    EXPECT_EQ(rig.cmc7[10], 255);
}

TEST_F(CorrectionTest, MirroredFrontIsTurnedOverTheImageWidth) {
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    rig.block->correctionOn = false;
    rig.block->mirrorFront = true;
    Run();
    for (int x = 0; x < rig.width; ++x) {
        ASSERT_EQ(rig.FrontAt(7, 0, rig.left + x), rig.front(7, 0, rig.left + rig.width - 1 - x));
        ASSERT_EQ(rig.RearAt(7, 0, rig.left + x), rig.rear(7, 0, rig.left + x)) << "rear as is";
    }
}

TEST_F(CorrectionTest, FiveChannelsWithTheStripAndAnOversizedWidth) {
    // Red, green, blue, infrared and ultraviolet, each with its strip, and
    // a record whose left + width runs past the sensor.
    rig.channels = 5;
    rig.strip = 3;
    rig.width = rig.sensorPixels;
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    rig.block->correctionOn = false;
    Run();
    for (int y = 0; y < rig.lines; ++y)
        for (int c = 0; c < rig.channels; ++c) {
            for (int x = rig.left; x < rig.sensorPixels; ++x) {
                ASSERT_EQ(rig.FrontAt(y, c, x), rig.front(y, c, x)) << y << "," << c << "," << x;
                ASSERT_EQ(rig.RearAt(y, c, x), rig.rear(y, c, x)) << y << "," << c << "," << x;
            }
            ASSERT_EQ(rig.FrontAt(y, c, rig.left - 1), 10);
        }
    ASSERT_EQ(rig.block->cmc7Samples.load(),
              static_cast<std::size_t>(rig.lines * rig.channels * rig.strip));
    EXPECT_EQ(rig.cmc7[rig.cmc7.size() / 2 - 1], rig.samples(rig.lines - 1, 4, 2));
}

TEST_F(CorrectionTest, MirrorRefusesAWidthAbove0x8000) {
    rig.rearOn = false;
    rig.sensorPixels = 0x8001;
    rig.left = 0;
    rig.width = 0x8001;
    rig.lines = 2;
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    rig.block->correctionOn = false;
    rig.block->mirrorFront = true;
    Run();
    EXPECT_EQ(Count("unexpeded width"), 1);
    EXPECT_EQ(rig.FrontAt(1, 0, 5), rig.front(1, 0, 5)) << "left as it came";
}

TEST_F(CorrectionTest, RefusesAShortLineAndAMissingBlock) {
    rig.Build();
    rig.block->rawLineLength = 63;
    Run();
    EXPECT_TRUE(rig.block->flags.done);
    EXPECT_TRUE(rig.block->flags.error);
    EXPECT_FALSE(rig.block->flags.ok);
    EXPECT_NE(Logged().find("ThrCor_0x3000 - correction with invalid LineStep"), std::string::npos);
    ThrCor_0x3000(nullptr);
    EXPECT_NE(Logged().find("ThrCor_0x3000 - end ko - missing parameter"), std::string::npos);
    ThrCorOld(nullptr);
    EXPECT_NE(Logged().find("correction thread, missing parameter"), std::string::npos);
}

// ---- Re-alignment ---------------------------------------------------------

class RealignTest : public CorrectionTest {
  protected:
    void SetUp() override {
        CorrectionTest::SetUp();
        // The aligner marks every channel line with a leading 0, and no
        // other byte of the stream is 0.
        rig.front = [](int y, int c, int x) {
            return x == 0 ? std::uint8_t{0} : static_cast<std::uint8_t>(40 + (x * 3 + y + c) % 150);
        };
    }
    // The ideal stream with `junk` bytes inserted before line y (or, when
    // negative, that many bytes of it lost).
    std::vector<std::uint8_t> Slipped(int y, int junk) {
        std::vector<std::uint8_t> s = rig.IdealStream();
        const auto at = s.begin() + static_cast<std::ptrdiff_t>(rig.LineLength()) * y;
        if (junk >= 0)
            s.insert(at, static_cast<std::size_t>(junk), std::uint8_t{77});
        else
            s.erase(at, at - junk);
        return s;
    }
    bool LineIsIdeal(int y) {
        for (int x = rig.left; x < rig.left + rig.width; ++x)
            if (rig.FrontAt(y, 0, x) != rig.front(y, 0, x) ||
                rig.RearAt(y, 0, x) != rig.rear(y, 0, x))
                return false;
        return true;
    }
};

TEST_F(RealignTest, AlignerResynchronisesAndKeepsTheOffset) {
    rig.Build();
    rig.WriteRaw(Slipped(5, 3));
    rig.block->correctionOn = false;
    rig.block->hardwareAligner = true;
    Run();
    for (int y = 0; y < rig.lines - 1; ++y) EXPECT_TRUE(LineIsIdeal(y)) << y;
    EXPECT_EQ(Count("alligner detected positive glith at 5"), 1);
    EXPECT_EQ(Count("glith"), 1) << "the offset stays for the lines after it";
}

TEST_F(RealignTest, AlignerGoesBackWhenTheStreamCatchesUp) {
    rig.Build();
    // Three bytes too many before line 5; line 8 then ends three bytes
    // short (outside the image width), so line 9 is where it belongs.
    std::vector<std::uint8_t> s = Slipped(5, 3);
    const auto lineNine = s.begin() + static_cast<std::ptrdiff_t>(rig.LineLength()) * 9;
    s.erase(lineNine, lineNine + 3);
    rig.WriteRaw(s);
    rig.block->correctionOn = false;
    rig.block->hardwareAligner = true;
    Run();
    for (int y = 0; y < rig.lines - 1; ++y) EXPECT_TRUE(LineIsIdeal(y)) << y;
    EXPECT_EQ(Count("alligner detected negative glith at 9"), 1);
}

TEST_F(RealignTest, AlignerTakesTheNearestMarkerWhenAByteIsLost) {
    // One side: a channel line is shorter than the forward window, so the
    // next line's marker lies inside it as well.
    rig.rearOn = false;
    rig.Build();
    // A byte lost inside line 4: line 5's marker comes one byte early.
    std::vector<std::uint8_t> s = rig.IdealStream();
    s.erase(s.begin() + static_cast<std::ptrdiff_t>(rig.LineLength()) * 4 + 20);
    rig.WriteRaw(s);
    rig.block->correctionOn = false;
    rig.block->hardwareAligner = true;
    Run();
    for (int y = 5; y < rig.lines - 1; ++y)
        for (int x = rig.left + 1; x < rig.left + rig.width; ++x)
            ASSERT_EQ(rig.FrontAt(y, 0, x), rig.front(y, 0, x)) << y << " " << x;
    EXPECT_EQ(Count("alligner detected negative glith at 5"), 1);
    EXPECT_EQ(Count("positive glith"), 0);
}

TEST_F(RealignTest, AlignerRefusesAnOffsetOf128OrMore) {
    rig.Build();
    rig.WriteRaw(Slipped(5, 130));
    rig.block->correctionOn = false;
    rig.block->hardwareAligner = true;
    Run();
    for (int y = 0; y < 5; ++y) EXPECT_TRUE(LineIsIdeal(y)) << y;
    EXPECT_FALSE(LineIsIdeal(6)) << "copied with the old offset";
    EXPECT_GE(Count("alligner detected glitch offset too large"), 1);
    EXPECT_EQ(Count("detected positive glith"), 0);
}

TEST_F(RealignTest, AlignerSearchStaysInsideTheTransfer) {
    // Short lines of one side: the search (twice the width) reaches past a
    // whole line, and a move of one line is within the largest offset.
    rig.rearOn = false;
    rig.sensorPixels = 64;
    rig.left = 4;
    rig.width = 56;
    rig.Build();
    // The raw lines end exactly at the transfer length; what follows them
    // (0 bytes here) is not part of this stream.
    std::vector<std::uint8_t> raw = rig.IdealStream();
    raw.resize(rig.block->transferLength + 256, 0);
    // The last line lost its aligner byte: the forward search must give up
    // at the end of the transfer, not walk past it.
    raw[(static_cast<std::size_t>(rig.lines) - 1) * rig.LineLength()] = 77;
    rig.block->raw = raw.data();
    rig.block->correctionOn = false;
    rig.block->hardwareAligner = true;
    // A count that jumped past the transfer length.
    rig.stream.receivedBytes.store(rig.block->transferLength + 4096);
    rig.stream.acq.ok.store(true);
    rig.stream.acq.done.store(true);
    ThrCor_0x3000(rig.block.get());
    EXPECT_TRUE(rig.block->flags.ok);
    EXPECT_EQ(Count("positive glith"), 0);
    EXPECT_EQ(rig.block->lines[kFront].load(), rig.lines);
}

TEST_F(RealignTest, LinesAfterASlipWaitForTheBytesTheyNeed) {
    rig.Build();
    // Forty bytes too many before line 5: every later line ends forty
    // bytes further on in the stream than its nominal place.
    rig.WriteRaw(Slipped(5, 40));
    rig.block->correctionOn = false;
    rig.block->hardwareAligner = true;
    rig.block->waitLimitMs = 200;
    // Twenty nominal lines received, and the stream stalls there.
    rig.stream.receivedBytes.store(20 * rig.LineLength());
    ThrCor_0x3000(rig.block.get());
    const int published = rig.block->lines[kFront].load();
    EXPECT_GE(published, 10);
    for (int y = 0; y < published; ++y) EXPECT_TRUE(LineIsIdeal(y)) << y;
}

TEST_F(RealignTest, AlignerIsNotUsedOutsideOrdinaryScans) {
    rig.Build();
    rig.WriteRaw(Slipped(5, 3));
    rig.block->correctionOn = false;
    rig.block->hardwareAligner = true;
    rig.block->kind = CorrectionKind::Calibration;
    Run();
    EXPECT_EQ(Count("glith"), 0);
    EXPECT_FALSE(LineIsIdeal(6));
}

TEST_F(RealignTest, SoftwareDetectionFindsAOneByteShift) {
    rig.front = [](int y, int, int x) { return static_cast<std::uint8_t>(40 + (x * 3 + y) % 150); };
    rig.Build();
    rig.WriteRaw(Slipped(5, 1));
    rig.block->correctionOn = false;
    rig.block->swGlitchDetection = true;
    Run();
    for (int y = 0; y < rig.lines - 1; ++y) EXPECT_TRUE(LineIsIdeal(y)) << y;
    EXPECT_EQ(Count("positive glith \t"), 1);
    EXPECT_EQ(Count(" at  5"), 1);
    EXPECT_EQ(Count("negative glith"), 0);
}

TEST_F(RealignTest, SoftwareDetectionFindsALostByte) {
    rig.front = [](int y, int, int x) { return static_cast<std::uint8_t>(40 + (x * 3 + y) % 150); };
    rig.Build();
    rig.WriteRaw(Slipped(12, -1));
    rig.block->correctionOn = false;
    rig.block->swGlitchDetection = true;
    Run();
    for (int y = 0; y < rig.lines - 1; ++y) EXPECT_TRUE(LineIsIdeal(y)) << y;
    EXPECT_EQ(Count("negative glith \t"), 1);
    EXPECT_EQ(Count("positive glith"), 0);
}

TEST_F(RealignTest, SoftwareDetectionLeavesAnAlignedStreamAlone) {
    rig.front = [](int y, int, int x) { return static_cast<std::uint8_t>(40 + (x * 3 + y) % 150); };
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    rig.block->correctionOn = false;
    rig.block->swGlitchDetection = true;
    Run();
    for (int y = 0; y < rig.lines; ++y) EXPECT_TRUE(LineIsIdeal(y)) << y;
    EXPECT_EQ(Count("glith"), 0);
}

// ---- Noise ------------------------------------------------------------------

TEST_F(CorrectionTest, LongDropoutsAreRepairedFromThePreviousLine) {
    rig.front = [](int y, int, int x) {
        if (y == 5 && ((x >= 20 && x < 70) || (x >= 80 && x < 100))) return std::uint8_t{10};
        return static_cast<std::uint8_t>(200 + x % 10);
    };
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    rig.block->correctionOn = false;
    rig.block->swNoiseDetection = true;
    Run();
    for (int x = 20; x < 70; ++x) ASSERT_EQ(rig.FrontAt(5, 0, x), 200 + x % 10) << x;
    for (int x = 80; x < 100; ++x) ASSERT_EQ(rig.FrontAt(5, 0, x), 10) << "a short run stays";
    for (int x = rig.left; x < rig.left + rig.width; ++x)
        ASSERT_EQ(rig.RearAt(5, 0, x), rig.rear(5, 0, x));
    EXPECT_EQ(Count("noise detected"), 1);
}

TEST_F(CorrectionTest, DropoutsStayWithoutNoiseDetection) {
    rig.front = [](int y, int, int x) {
        return (y == 5 && x >= 20 && x < 70) ? std::uint8_t{10} : std::uint8_t{200};
    };
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    rig.block->correctionOn = false;
    Run();
    EXPECT_EQ(rig.FrontAt(5, 0, 30), 10);
    EXPECT_EQ(Count("noise detected"), 0);
}

// ---- Exports ---------------------------------------------------------------

TEST_F(CorrectionTest, BrightnessAndContrastExports) {
    Open(Scanner(0x5012));
    EXPECT_EQ(KVXBrightness(1, 20, -30), KVX_OK);
    EXPECT_EQ(CurveBrightness(kFront), 20);
    EXPECT_EQ(CurveBrightness(kRear), -30);
    EXPECT_EQ(CurveValue(kFront, 100), 120);
    EXPECT_EQ(KVXContrast(1, 100, 0), KVX_OK);
    EXPECT_EQ(CurveContrast(kFront), 100);
    EXPECT_EQ(CurveValue(kFront, 0), 0);

    EXPECT_EQ(KVXBrightness(1, 101, 0), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVXContrast(1, 0, -101), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(LastResult(), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(CurveBrightness(kFront), 20) << "nothing changes";
    EXPECT_EQ(CurveBrightness(kRear), -30);
    EXPECT_EQ(CurveContrast(kRear), 0);
    EXPECT_EQ(Count("err -  invalid parameter"), 2);
    EXPECT_EQ(KVXBrightness(1, -100, 100), KVX_OK);
    EXPECT_EQ(CurveValue(kRear, 255), 255);
}

}  // namespace
}  // namespace kovran::test

namespace kovran::test {
namespace {

using namespace acquisition;

class CorrectionSetupTest : public AcqFixture {
  protected:
    void TearDown() override {
        FreeCorrInfo();
        AcqFixture::TearDown();
    }
};

TEST_F(CorrectionSetupTest, DefaultReferencesFollowTheMode) {
    Open(Scanner(0x5012));
    Request(2, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(1000));
    const SideGeometry& g = device::AcqMode().geometry[kFront];
    ASSERT_TRUE(PrepareCorrectionCoefficients(CorrectionKind::Ordinary));
    const std::size_t bytes = std::size_t{g.sensorPixels} * 3;
    for (int side : {kRear, kFront}) {
        const CorrInfo& info = CorrInfos().sides[static_cast<std::size_t>(side)];
        EXPECT_EQ(info.pixels, g.sensorPixels);
        EXPECT_EQ(info.bytes, bytes);
        ASSERT_EQ(info.white.size(), bytes);
        EXPECT_EQ(info.white[bytes - 1], 255);
        EXPECT_EQ(info.black[0], 0);
        EXPECT_EQ(info.level[0], kLevelModelMaximum);
        ASSERT_EQ(CorrInfos().gain[static_cast<std::size_t>(side)].size(), bytes);
        EXPECT_FLOAT_EQ(CorrInfos().gain[static_cast<std::size_t>(side)][7], 265.0f / 255.0f);
    }
    EXPECT_TRUE(CorrInfos().sides[kBacklight].white.empty()) << "backlight off";

    // A calibrated reference survives the next acquisition of the same mode
    // (the document type is part of the mode: its change loads again).
    Settings().ocr.typeDoc = 3;
    ASSERT_TRUE(PrepareCorrectionCoefficients(CorrectionKind::Ordinary));
    CorrInfos().sides[kFront].white[0] = 110;
    CorrInfos().sides[kFront].black[0] = 100;
    ASSERT_TRUE(PrepareCorrectionCoefficients(CorrectionKind::Ordinary));
    EXPECT_FLOAT_EQ(CorrInfos().gain[kFront][0], 10.0f);
    EXPECT_FLOAT_EQ(CorrInfos().gain[kFront][1], 1.0f) << "K 255 over 255";
    ASSERT_TRUE(PrepareCorrectionCoefficients(CorrectionKind::Calibration));
    EXPECT_FLOAT_EQ(CorrInfos().gain[kFront][0], 1.0f);

    // Grey: one channel line, so new references.
    Request(1, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(1000));
    ASSERT_TRUE(PrepareCorrectionCoefficients(CorrectionKind::Ordinary));
    EXPECT_EQ(CorrInfos().sides[kFront].white.size(), std::size_t{g.sensorPixels});
    EXPECT_EQ(CorrInfos().sides[kFront].white[0], 255);
    FreeCorrectionCoefficients();
    EXPECT_TRUE(CorrInfos().gain[kFront].empty());
}

TEST_F(CorrectionSetupTest, OptionsFromTheDeviceAndTheSettings) {
    DeviceIdentity id = Scanner(0x4001);
    Open(id);
    Settings().scan.swGlitchDetection = true;
    Settings().scan.swNoiseDetection = true;
    Settings().scan.correct = false;
    CorrectionBlock b;
    FillCorrectionOptions(b);
    EXPECT_TRUE(b.swGlitchDetection);
    EXPECT_TRUE(b.swNoiseDetection);
    EXPECT_FALSE(b.hardwareAligner);
    EXPECT_FALSE(b.correctionOn);
    EXPECT_FALSE(b.mirrorFront);
    EXPECT_EQ(b.firmware, 0x4001);

    id.capabilities.alignerData = true;
    id.pid = 11;
    Open(id);
    CorrectionBlock aligned;
    FillCorrectionOptions(aligned);
    EXPECT_TRUE(aligned.hardwareAligner);
    EXPECT_FALSE(aligned.swGlitchDetection) << "the aligner does it";
    EXPECT_TRUE(aligned.mirrorFront);

    Open(Scanner(0x3005));
    CorrectionBlock older;
    FillCorrectionOptions(older);
    EXPECT_FALSE(older.swGlitchDetection);
    EXPECT_FALSE(older.swNoiseDetection);

    Open(Scanner(0x4001));
    CorrectionBlock moving;
    moving.kind = CorrectionKind::Movement;
    FillCorrectionOptions(moving);
    EXPECT_FALSE(moving.swGlitchDetection);
    EXPECT_FALSE(moving.swNoiseDetection);
}

TEST_F(CorrectionSetupTest, AlternativeBackEndReadsAnIdentityCurve) {
    SetCurveBrightness(kFront, 40);
    SetCurveContrast(kFront, 40);
    DeviceIdentity id = Scanner(0x4001);
    id.alternative = true;
    Open(id);
    EXPECT_EQ(CurveBrightness(kFront), 0);
    EXPECT_EQ(CurveContrast(kFront), 0);
    EXPECT_EQ(CurveValue(kFront, 77), 77);
    Open(Scanner(0x4001));
    EXPECT_EQ(CurveBrightness(kFront), 40);
    EXPECT_NE(CurveValue(kFront, 77), 77);
    ResetCurves();
}

}  // namespace
}  // namespace kovran::test

namespace kovran::test {
namespace {

using namespace acquisition;

std::vector<std::string> writtenGlitchImages;

void RecordGlitchImage(const char* path, const std::uint8_t*, std::size_t, std::int32_t) {
    writtenGlitchImages.emplace_back(path);
}

TEST_F(CorrectionTest, DebugGlitchImagesCycleThroughSixNames) {
    const std::string stale = configDir() + "/AltPixel_03_in.jpg";
    WriteFileBytes(stale, "old");
    WriteFileBytes(configDir() + "/Other.jpg", "keep");
    writtenGlitchImages.clear();
    InstallGlitchImageWriter(&RecordGlitchImage);
    rig.strip = 2;
    rig.Build();
    rig.WriteRaw(rig.IdealStream());
    rig.block->debugGlitch = true;
    rig.block->glitchDirectory = configDir();
    rig.stream.receivedBytes.store(rig.block->transferLength);
    // Looks of 10 lines while the stream runs (the line check's steps);
    // the acquisition ends during the third pause.
    rig.block->lineCheck = true;
    clock.OnSleep([&](unsigned) {
        if (clock.Sleeps().size() == 3) rig.stream.acq.done.store(true);
    });
    ThrCor_0x3000(rig.block.get());
    clock.OnSleep(nullptr);
    InstallGlitchImageWriter(nullptr);
    ASSERT_GE(writtenGlitchImages.size(), 4u);
    EXPECT_EQ(writtenGlitchImages[0], configDir() + "/AltPixelCMC7_00_in.jpg");
    EXPECT_EQ(writtenGlitchImages[3], configDir() + "/AltPixelCMC7_03_in.jpg");
    EXPECT_FALSE(std::filesystem::exists(stale)) << "an earlier session's images go";
    EXPECT_TRUE(std::filesystem::exists(configDir() + "/Other.jpg"));
}

}  // namespace
}  // namespace kovran::test
