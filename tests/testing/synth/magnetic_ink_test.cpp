#include "testing/synth/magnetic_ink.h"
#include "testing/synth/e13b_outlines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "support/shared_testdata.h"
#include "testing/synth/codeline_font.h"
#include "testing/synth/corpus.h"
#include "testing/synth/description.h"
#include "testing/synth/document_renderer.h"
#include "testing/synth/project_glyphs.h"

namespace kovran::synth {
namespace {

double PeakOf(const std::vector<double>& s) {
    double p = 0.0;
    for (double v : s) p = std::max(p, std::fabs(v));
    return p;
}

// Peak of the noise-free head signal of one character printed alone.
double CharacterPeak(const CodelineFont& font, char c, const MagneticParams& p) {
    Magnetisation m(p, 0.5);
    const double dpiX = std::min(p.RawPerInch(), 2400.0);
    const CodelineGlyph g = font.Render(c, dpiX, 600.0);
    m.AddCoverage(g.coverage, 0.1 + g.leftInch, dpiX, 600.0);
    return PeakOf(HeadSignal(m));
}

// The acceptance band of the E13B standard: each character's peak, relative
// to the on-us symbol, within 50 % to 200 % of its nominal level.
void ExpectE13bLevelsInTheAcceptanceBand(const CodelineFont& font) {
    const std::map<char, double> nominal = {
        {'0', 130}, {'1', 85},  {'2', 105}, {'3', 85},  {'4', 105}, {'5', 105}, {'6', 105},
        {'7', 75},  {'8', 105}, {'9', 165}, {':', 105}, {'=', 70},  {';', 67},  {'<', 100}};
    MagneticParams p;
    SCOPED_TRACE(font.Name());
    // The project's data renders up to 2400 dpi; the model resamples.
    const double onUs = CharacterPeak(font, '<', p);
    ASSERT_GT(onUs, 0.0);
    std::printf("E13B magnetic levels (font %s, on-us = 100):\n", font.Name().c_str());
    for (const auto& [c, level] : nominal) {
        const double measured = 100.0 * CharacterPeak(font, c, p) / onUs;
        std::printf("  '%c' measured %5.1f nominal %5.1f (%3.0f %%)\n", c, measured, level,
                    100.0 * measured / level);
        EXPECT_GE(measured, 0.5 * level) << c;
        EXPECT_LE(measured, 2.0 * level) << c;
    }
}

// Measured on the synthesizer's own E13B outlines, which the test documents
// print by default, and on the project's glyph data, which the font
// databases are built from (and `"glyphs": "project"` prints).
TEST(MagneticInk, E13bSignalLevelsLieInTheAcceptanceBand) {
    ExpectE13bLevelsInTheAcceptanceBand(*MakeE13bOutlineFont());
    ExpectE13bLevelsInTheAcceptanceBand(*MakeProjectCodelineFont("e13b"));
}

// And on an independent drawing, the GnuMICR font of the shared test data.
TEST(MagneticInk, GnuMicrSignalLevelsLieInTheAcceptanceBand) {
    KOVRAN_REQUIRE_SHARED_TESTDATA();
    SynthFontLibrary fonts;
    ExpectE13bLevelsInTheAcceptanceBand(*MakeE13bFont(fonts, testdata::GnuMicrFontPath()));
}

TEST(MagneticInk, BarGivesOppositeLobesAtItsEdges) {
    MagneticParams p;
    Magnetisation m(p, 0.8);
    // A full-height bar 0.013 inch wide (39 raw samples at 3000 per inch).
    const int width = 39;
    ImageBuffer bar(width, 100, 1, kFullInk);
    m.AddCoverage(bar, 0.4, p.RawPerInch(), 100.0 / p.nominalHeightInch);
    const auto s = HeadSignal(m);
    const std::size_t left = m.SampleAt(0.4), right = left + width;
    const auto maxIt = std::max_element(s.begin(), s.end());
    const auto minIt = std::min_element(s.begin(), s.end());
    // The rising edge of the ink gives the positive lobe, the falling edge
    // the negative one, each centred on its edge; the whole signal sums to
    // zero because the track starts and ends without ink.
    EXPECT_NEAR(static_cast<double>(maxIt - s.begin()), static_cast<double>(left), 2.0);
    EXPECT_NEAR(static_cast<double>(minIt - s.begin()), static_cast<double>(right), 2.0);
    EXPECT_NEAR(*maxIt, -*minIt, 1e-6 * *maxIt);
    // The bar is wider than the pulse's core: close to the level of one edge.
    EXPECT_NEAR(*maxIt, p.edgeLevel, 0.1 * p.edgeLevel);
    double sum = 0.0;
    for (double v : s) sum += v;
    EXPECT_NEAR(sum, 0.0, 1e-6 * p.edgeLevel);
    // A wider head spacing smears the edge: lower, wider lobes.
    MagneticParams far = p;
    far.spacingInch = 0.006;
    Magnetisation m2(far, 0.8);
    m2.AddCoverage(bar, 0.4, p.RawPerInch(), 100.0 / p.nominalHeightInch);
    EXPECT_LT(PeakOf(HeadSignal(m2)), 0.6 * *maxIt);
}

TEST(MagneticInk, QuantisingAddsBaselineAndClampsAndDecimationAverages) {
    MagneticParams p;
    p.noise = 0.0;
    Rng rng(1);
    // An ink onset (a positive flux change) goes below the idle level as the
    // head delivers it; the reversed wiring mirrors it.
    const auto q = QuantiseSignal({0.0, 10.4, -10.6, 500.0, -500.0}, p, rng);
    EXPECT_EQ(q, (std::vector<std::uint8_t>{128, 118, 139, 0, 255}));
    p.polarity = Polarity::Reversed;
    const auto r = QuantiseSignal({0.0, 10.4, -10.6, 500.0, -500.0}, p, rng);
    EXPECT_EQ(r, (std::vector<std::uint8_t>{128, 138, 117, 255, 0}));
    EXPECT_EQ(DecimateSamples({1, 2, 3, 4, 5, 6, 7}, 3), (std::vector<int>{2, 5}));
    EXPECT_TRUE(DecimateSamples({1, 2}, 3).empty());
    EXPECT_THROW(Magnetisation(p, -1.0), std::invalid_argument);
    MagneticParams bad = p;
    bad.ratio = 0;
    EXPECT_THROW(Magnetisation(bad, 1.0), std::invalid_argument);
}

// A rendered cheque: the track covers the document at the raw rate, every
// character has its lobes inside its sample range, a printed look-alike
// gives no signal, and the same seed gives the same samples.
TEST(MagneticInk, RenderedCodelineTrack) {
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    for (const char* glyphs : {"synth", "project"})
        for (const char* font : {"e13b", "cmc7"}) {
            SCOPED_TRACE(std::string(font) + " " + glyphs);
            nlohmann::json j = ChequeDescription(font, 0, 0, 99);
            j["magnetic"]["noise"] = 0.0;
            for (auto& el : j["front"]["elements"])
                if (el["type"] == "codeline") el["glyphs"] = glyphs;
            const Description d = ParseDescription(j);
            const RenderedDocument doc = renderer.Render(d);
            const double raw = 100.0 * d.magnetic.ratio * 3 * d.magnetic.decimation;
            EXPECT_EQ(doc.magnetic.size(),
                      static_cast<std::size_t>(std::ceil(d.widthMm / 25.4 * raw)));
            const auto dec = DecimateSamples(doc.magnetic, 3 * d.magnetic.decimation);
            const auto& chars = (*doc.truth)["codeline"]["chars"];
            ASSERT_FALSE(chars.empty());
            int checked = 0;
            for (const auto& c : chars) {
                if (c["c"] == " ") continue;
                const long a = c["samples"][0], b = c["samples"][1];
                ASSERT_GE(a, 0);
                ASSERT_LT(b, static_cast<long>(dec.size()));
                int hi = 0, lo = 255;
                for (long i = a; i <= b; ++i) {
                    hi = std::max(hi, dec[i]);
                    lo = std::min(lo, dec[i]);
                }
                EXPECT_GT(hi - 128, 10) << c.dump();
                EXPECT_GT(128 - lo, 10) << c.dump();
                ++checked;
            }
            EXPECT_GT(checked, 30);
            // Far from the codeline the head sees nothing.
            EXPECT_EQ(dec[5], 128);

            nlohmann::json fake = j;
            for (auto& el : fake["front"]["elements"]) {
                if (el["type"] == "codeline") el["magnetic"] = false;
                if (el["type"] == "magnetic_noise") el["level"] = 0.0;
            }
            const RenderedDocument flat = renderer.Render(ParseDescription(fake));
            EXPECT_TRUE(std::all_of(flat.magnetic.begin(), flat.magnetic.end(),
                                    [](std::uint8_t v) { return v == 128; }));
            // The look-alike prints the same image.
            EXPECT_EQ(PixelBytes(*flat.front), PixelBytes(*doc.front));
        }
    nlohmann::json noisy = ChequeDescription("e13b", 1, 2, 5);
    const auto a = renderer.Render(ParseDescription(noisy));
    const auto b = renderer.Render(ParseDescription(noisy));
    EXPECT_EQ(a.magnetic, b.magnetic);
    EXPECT_EQ(PixelBytes(*a.front), PixelBytes(*b.front));
    noisy["degradation"]["seed"] = 6;
    EXPECT_NE(renderer.Render(ParseDescription(noisy)).magnetic, a.magnetic);
}

}  // namespace
}  // namespace kovran::synth
