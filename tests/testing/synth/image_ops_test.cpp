#include "testing/synth/image_ops.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <span>

#include <cmath>

#include "support/temp_dir.h"
#include "testing/synth/degradation.h"
#include "testing/synth/image_io.h"
#include "testing/synth/synth_error.h"

namespace kovran::synth {
namespace {

ImageBuffer RandomImage(int w, int h, int ch, std::uint64_t seed) {
    ImageBuffer img(w, h, ch);
    Rng rng(seed);
    for (auto& p : std::span(img.Data(), img.Bytes()))
        p = static_cast<std::uint8_t>(rng.Integer(0, 255));
    return img;
}

double MeanOf(const ImageBuffer& img, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) {
    if (x1 < 0) x1 = img.Width();
    if (y1 < 0) y1 = img.Height();
    double s = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) s += img.At(x, y);
    return s / ((x1 - x0) * (y1 - y0));
}

TEST(ImageOps, BlurKeepsLevelsAndSpreadsEdges) {
    ImageBuffer flat(40, 30, 3, 77);
    GaussianBlur(flat, 2.0);
    for (auto p : std::span(flat.Data(), flat.Bytes()))
        EXPECT_EQ(p, 77);  // borders clamp, no darkening
    ImageBuffer noise = RandomImage(64, 64, 1, 3);
    const double before = MeanOf(noise);
    GaussianBlur(noise, 1.5);
    EXPECT_NEAR(MeanOf(noise), before, 1.0);
    // A black line widens into grey on both sides, symmetric.
    ImageBuffer line(41, 9, 1, 255);
    for (int y = 0; y < 9; ++y) line.At(20, y) = 0;
    GaussianBlur(line, 1.0);
    EXPECT_EQ(line.At(19, 4), line.At(21, 4));
    EXPECT_LT(line.At(19, 4), 230);
    EXPECT_GT(line.At(20, 4), 0);
    EXPECT_EQ(line.At(5, 4), 255);
}

TEST(ImageOps, RotationIsExactForZeroAndTurnsAboutTheCentre) {
    const ImageBuffer img = RandomImage(31, 21, 1, 5);
    const ImageBuffer same = RotateImage(img, 0.0, 0.0, 0.0, Rgb{0, 0, 0});
    EXPECT_EQ(PixelBytes(same), PixelBytes(img));
    // A dot right of the centre turns 90 degrees counter-clockwise to above it.
    ImageBuffer dot(21, 21, 1, 255);
    dot.At(15, 10) = 0;
    const ImageBuffer turned = RotateImage(dot, 90.0, 0.0, 0.0, Rgb{255, 255, 255});
    EXPECT_LT(turned.At(10, 5), 10);
    EXPECT_EQ(turned.At(15, 10), 255);
    // Corners of a turned image come from outside: the fill colour.
    const ImageBuffer skewed = RotateImage(img, 10.0, 0.0, 0.0, Rgb{9, 9, 9});
    EXPECT_EQ(skewed.At(0, 0), 9);
    // A shift moves content by whole pixels without resampling loss.
    const ImageBuffer shifted = RotateImage(img, 0.0, 2.0, 1.0, Rgb{0, 0, 0});
    EXPECT_EQ(shifted.At(10, 10), img.At(8, 9));
}

TEST(ImageOps, InkSpreadDarkensAroundInkOnly) {
    ImageBuffer img(21, 21, 1, 255);
    img.At(10, 10) = 0;
    InkSpread(img, 1.0);
    EXPECT_EQ(img.At(11, 10), 0);
    EXPECT_EQ(img.At(11, 11), 0);
    EXPECT_EQ(img.At(12, 10), 255);
    ImageBuffer half(21, 21, 1, 255);
    half.At(10, 10) = 0;
    InkSpread(half, 0.5);
    EXPECT_NEAR(half.At(11, 10), 128, 1);
}

TEST(ImageOps, DegradationIsSeededAndLevelled) {
    Degradation d;
    d.level = 2;
    d.seed = 11;
    const DegradationValues a = ResolveDegradation(d), b = ResolveDegradation(d);
    EXPECT_EQ(ToJson(a), ToJson(b));
    EXPECT_GT(std::fabs(a.skewDeg), 0.0);
    EXPECT_GT(a.jpegQuality, 0);
    d.level = 0;
    const DegradationValues clean = ResolveDegradation(d);
    EXPECT_EQ(clean.skewDeg, 0.0);
    EXPECT_EQ(clean.blur, 0.0);
    EXPECT_EQ(clean.jpegQuality, 0);
    d.blur = 2.5;  // explicit values win over the level
    EXPECT_EQ(ResolveDegradation(d).blur, 2.5);
    Degradation heavy;
    heavy.level = 3;
    heavy.seed = 11;
    EXPECT_GT(ResolveDegradation(heavy).noise, a.noise * 0.9);

    ImageBuffer x = RandomImage(50, 40, 1, 2), y = x;
    DegradeImage(x, a, 300, 4, 1);
    DegradeImage(y, a, 300, 4, 1);
    EXPECT_EQ(PixelBytes(x), PixelBytes(y));
    ImageBuffer z = RandomImage(50, 40, 1, 2);
    DegradeImage(z, a, 300, 4, 2);  // another side: other noise
    EXPECT_NE(PixelBytes(x), PixelBytes(z));
}

TEST(Degradation, TheOpticsAddToTheLevelsBlurInQuadratureScaledToTheResolution) {
    // A level blur of 0.6 and the optics' 0.45 (pixels at 300 dpi) are one
    // Gaussian of 0.75 at 300 dpi and of 1.5 pixels at 600 dpi.
    DegradationValues v;
    v.blur = 0.6;
    v.opticsBlur = 0.45;
    for (double dpi : {300.0, 600.0}) {
        SCOPED_TRACE(dpi);
        ImageBuffer degraded = RandomImage(40, 30, 1, 5), blurred = degraded;
        DegradeImage(degraded, v, dpi, 4, 1);
        GaussianBlur(blurred, 0.75 * dpi / 300.0);
        EXPECT_TRUE(PixelBytes(degraded) == PixelBytes(blurred));
    }
    // Optics 0 leaves the drawn coverage untouched.
    v.blur = 0.0;
    v.opticsBlur = 0.0;
    const ImageBuffer drawn = RandomImage(40, 30, 1, 5);
    ImageBuffer scanned = drawn;
    DegradeImage(scanned, v, 300.0, 4, 1);
    EXPECT_TRUE(PixelBytes(scanned) == PixelBytes(drawn));
}

TEST(ImageIo, PngAndPnmRoundTripAndJpegLosesLittle) {
    test::TempDir dir;
    for (int ch : {1, 3}) {
        const ImageBuffer img = RandomImage(33, 17, ch, 9);
        WritePng(img, dir / "a.png", 300);
        const ImageBuffer back = ReadPng(dir / "a.png");
        EXPECT_EQ(back.Channels(), ch);
        EXPECT_EQ(PixelBytes(back), PixelBytes(img));
        WritePnm(img, dir / "a.pnm");
        const std::string bytes = test::ReadFileBytes(dir / "a.pnm");
        const std::string header = std::string(ch == 3 ? "P6" : "P5") + "\n33 17\n255\n";
        ASSERT_EQ(bytes.size(), header.size() + img.Bytes());
        EXPECT_EQ(bytes.substr(0, header.size()), header);
    }
    // A smooth image survives JPEG at quality 90 closely but not exactly.
    ImageBuffer smooth(64, 64, 1);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) smooth.At(x, y) = static_cast<std::uint8_t>(2 * x + y);
    ImageBuffer j = smooth;
    JpegRoundTrip(j, 90);
    double err = 0;
    for (std::size_t i = 0; i < j.Bytes(); ++i) err += std::pow(j.Data()[i] - smooth.Data()[i], 2);
    const double psnr = 10 * std::log10(255.0 * 255.0 / (err / j.Bytes() + 1e-9));
    EXPECT_GT(psnr, 35.0);
    EXPECT_NE(PixelBytes(j), PixelBytes(smooth));
    EXPECT_THROW(ReadPng(dir / "a.pnm"), SynthError);
    EXPECT_THROW(ReadPng(dir / "missing.png"), SynthError);
}

}  // namespace
}  // namespace kovran::synth
