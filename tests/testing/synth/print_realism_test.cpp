// What makes the test documents realistic: the magnetic polarity the decoder
// expects and the variations of ink, transport and head; the printed CMC7
// drawing whose strokes carry the code; the codeline print defects and
// clear-band intrusions, all seeded and in the ground truth.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "ocr/font_db_file.h"
#include "support/shared_testdata.h"
#include "testing/synth/codeline_font.h"
#include "testing/synth/corpus.h"
#include "testing/synth/degradation.h"
#include "testing/synth/description.h"
#include "testing/synth/document_renderer.h"
#include "testing/synth/e13b_outlines.h"
#include "testing/synth/image_io.h"
#include "testing/synth/image_ops.h"
#include "testing/synth/magnetic_ink.h"
#include "testing/synth/project_glyphs.h"
#include "testing/synth/template_match.h"

namespace kovran::synth {
namespace {

using nlohmann::json;

json OneLine(const std::string& font, const std::string& text) {
    return {{"name", "line"},
            {"paper", {{"width_mm", 80.0}, {"height_mm", 40.0}}},
            {"front",
             {{"elements", json::array({{{"type", "codeline"}, {"font", font}, {"text", text}}})}}},
            {"scan", {{"dpi", 300}, {"sides", json::array({"front"})}}},
            {"magnetic", {{"noise", 0.0}}}};
}

TEST(MagneticPolarity, InkOnsetsGoBelowTheBaselineUnlessReversed) {
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    for (const char* font : {"e13b", "cmc7"}) {
        SCOPED_TRACE(font);
        json j = OneLine(font, "0");
        const RenderedDocument normal = renderer.Render(ParseDescription(j));
        j["magnetic"]["polarity"] = "reversed";
        const RenderedDocument reversed = renderer.Render(ParseDescription(j));
        const auto dec = DecimateSamples(normal.magnetic, 3);
        const auto& c = (*normal.truth)["codeline"]["chars"][0];
        // The first clear excursion at the character's leading edge is a dip.
        int first = 0;
        for (long i = c["samples"][0].get<long>() - 5; i <= c["samples"][1].get<long>(); ++i)
            if (std::abs(dec[i] - 128) > 5) {
                first = dec[i] - 128;
                break;
            }
        EXPECT_LT(first, 0);
        EXPECT_EQ((*normal.truth)["magnetic"]["onset"], "below_baseline");
        EXPECT_EQ((*reversed.truth)["magnetic"]["polarity"], "reversed");
        // The reversed head mirrors every sample about the baseline.
        ASSERT_EQ(normal.magnetic.size(), reversed.magnetic.size());
        for (std::size_t i = 0; i < normal.magnetic.size(); ++i)
            ASSERT_NEAR(normal.magnetic[i] - 128, 128 - reversed.magnetic[i], 1) << i;
    }
}

TEST(MagneticVariation, SeededRecordedAndRefusedWhenImpossible) {
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    json j = OneLine("e13b", "<123456< :021000021:");
    j["magnetic"] = {{"noise", 1.0},
                     {"strength", 0.5},
                     {"char_strength_sd", 0.05},
                     {"speed_jitter", 0.03},
                     {"drift", 6.0},
                     {"hum", 4.0},
                     {"hum_per_inch", 60.0},
                     {"spikes", 5},
                     {"spike_level", 50.0},
                     {"ratio", 5}};
    j["degradation"] = {{"level", 2}, {"seed", 7}, {"skew_deg", 2.0}};
    const RenderedDocument a = renderer.Render(ParseDescription(j));
    const RenderedDocument b = renderer.Render(ParseDescription(j));
    EXPECT_EQ(a.magnetic, b.magnetic);
    const json& m = (*a.truth)["magnetic"];
    EXPECT_EQ(m["strength"], 0.5);
    EXPECT_EQ(m["speed_jitter"], 0.03);
    EXPECT_EQ(m["spikes"], 5);
    EXPECT_EQ(m["ratio"], 5);
    EXPECT_EQ(m["skew_deg"], 2.0);
    // Each character records its own load, near the document's.
    std::set<double> loads;
    for (const auto& c : (*a.truth)["codeline"]["chars"])
        if (c["c"] != " ") {
            const double load = c["magnetic_strength"];
            EXPECT_NEAR(load, 0.5, 0.5 * 0.2);
            loads.insert(load);
        }
    EXPECT_GT(loads.size(), 5u);
    // A weaker load gives a weaker signal.
    json strong = j;
    strong["magnetic"]["strength"] = 1.5;
    strong["magnetic"]["hum"] = 0.0;
    strong["magnetic"]["drift"] = 0.0;
    strong["magnetic"]["spikes"] = 0;
    json weak = strong;
    weak["magnetic"]["strength"] = 0.5;
    auto swing = [&](const json& d) {
        const auto s = renderer.Render(ParseDescription(d)).magnetic;
        const auto [lo, hi] = std::minmax_element(s.begin(), s.end());
        return *hi - *lo;
    };
    EXPECT_GT(swing(strong), 2 * swing(weak));

    auto refused = [&](const std::string& group, const std::string& field, json value) {
        json bad = j;
        bad[group][field] = std::move(value);
        try {
            ParseDescription(bad);
        } catch (const DescriptionError& e) {
            return e.field;
        }
        return std::string("accepted");
    };
    EXPECT_EQ(refused("magnetic", "strength", 0.0), "magnetic.strength");
    EXPECT_EQ(refused("magnetic", "polarity", "sideways"), "magnetic.polarity");
    EXPECT_EQ(refused("scan", "dpi", 1300), "scan.dpi");
    EXPECT_EQ(refused("scan", "dpi_y", 40), "scan.dpi_y");
    EXPECT_EQ(refused("degradation", "level", 5), "degradation.level");
}

TEST(MagneticVariation, CharacterSamplesFollowTheSpeedJitter) {
    // Under speed jitter a character's recorded samples must still frame its
    // signal: where the signal's weight lies within the recorded range is the
    // same as on an even transport.
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    json j = OneLine("e13b", "<123456789< :021000021: 0123456789;");
    j["paper"]["width_mm"] = 200.0;
    j["degradation"] = {{"level", 0}, {"seed", 5}};
    auto centres = [&](double jitter) {
        j["magnetic"]["speed_jitter"] = jitter;
        const RenderedDocument doc = renderer.Render(ParseDescription(j));
        const auto dec = DecimateSamples(doc.magnetic, 3);
        std::vector<double> out;
        for (const auto& c : (*doc.truth)["codeline"]["chars"]) {
            if (c["c"] == " ") continue;
            const long a = c["samples"][0], b = c["samples"][1];
            double w = 0, m = 0;
            for (long i = std::max(0L, a); i <= b && i < static_cast<long>(dec.size()); ++i) {
                w += std::abs(dec[i] - 128);
                m += std::abs(dec[i] - 128) * static_cast<double>(i - a);
            }
            out.push_back(w > 0 ? m / w / static_cast<double>(b - a) : -1.0);
        }
        return out;
    };
    const auto even = centres(0.0), jittered = centres(0.2);
    ASSERT_EQ(even.size(), jittered.size());
    for (std::size_t i = 0; i < even.size(); ++i) EXPECT_NEAR(jittered[i], even[i], 0.12) << i;
}

// The centre of the signal's weight (its distance from the baseline, the
// noise floor left out) over the decimated samples from..to; far away when
// the range holds no signal.
double SignalCentre(const std::vector<int>& dec, long from, long to) {
    double w = 0, m = 0;
    for (long i = from; i <= to; ++i) {
        const double v = std::abs(dec.at(static_cast<std::size_t>(i)) - 128);
        if (v <= 2) continue;
        w += v;
        m += v * static_cast<double>(i);
    }
    return w > 0 ? m / w : 1e9;
}

TEST(MagneticVariation, OnASkewedDocumentTheTrackFollowsTheCharactersAsTheScanShowsThem) {
    // The head reads the document as it lies turned on the paper path, so
    // each character's signal lies where the skewed scan shows it: the
    // codeline, 29 mm below the page centre, moves by about 1.5 mm (60
    // decimated samples) at 3 degrees. The character's recorded samples
    // follow it.
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    json j = OneLine("e13b", "0 0 0");
    j["paper"]["height_mm"] = 70.0;
    auto offsets = [&](double skew) {
        j["degradation"] = {{"level", 0}, {"seed", 1}, {"skew_deg", skew}};
        const RenderedDocument doc = renderer.Render(ParseDescription(j));
        const auto dec = DecimateSamples(doc.magnetic, 3);
        const double perPixel = (*doc.truth)["magnetic"]["decimated_per_inch"].get<double>() /
                                (*doc.truth)["dpi_x"].get<double>();
        std::vector<std::pair<double, double>> out;  // signal and recorded centre, less the scan's
        for (const auto& c : (*doc.truth)["codeline"]["chars"]) {
            if (c["c"] == " ") continue;
            const auto& b = c["box_scan"];
            const double shown = (b[0].get<double>() + b[2].get<double>()) / 2 * perPixel;
            const double recorded =
                (c["samples"][0].get<double>() + c["samples"][1].get<double>()) / 2;
            out.push_back(
                {SignalCentre(dec, std::lround(shown) - 100, std::lround(shown) + 100) - shown,
                 recorded - shown});
        }
        return out;
    };
    const auto straight = offsets(0.0);
    ASSERT_EQ(straight.size(), 3u);
    for (double skew : {3.0, -3.0}) {
        const auto turned = offsets(skew);
        ASSERT_EQ(turned.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_NEAR(turned[i].first, straight[i].first, 4.0) << skew << " degrees, char " << i;
            EXPECT_NEAR(turned[i].second, straight[i].second, 4.0)
                << skew << " degrees, char " << i;
        }
    }
}

TEST(MagneticVariation, OnASkewedDocumentOtherMagneticInkMovesWithTheScanToo) {
    // A magnetic text line and a patch of magnetic noise in the clear band,
    // about 29 mm below the page centre: turned by 3 degrees the scan shows
    // them about 1.5 mm (60 decimated samples) along, and so must the track.
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    json j = {{"name", "ink"},
              {"paper", {{"width_mm", 80.0}, {"height_mm", 70.0}}},
              {"front",
               {{"elements", json::array({{{"type", "text"},
                                           {"text", "IIII"},
                                           {"size_pt", 12.0},
                                           {"x_mm", 10.0},
                                           {"y_mm", 64.0},
                                           {"magnetic", true}},
                                          {{"type", "magnetic_noise"},
                                           {"x_mm", 50.0},
                                           {"y_mm", 58.0},
                                           {"width_mm", 6.0},
                                           {"height_mm", 8.0},
                                           {"level", 0.3}}})}}},
              {"scan", {{"dpi", 300}, {"sides", json::array({"front"})}}},
              {"magnetic", {{"noise", 0.0}}}};
    // The centre of the signal of each element, less the centre of its box
    // in the scan, in decimated samples.
    auto offsets = [&](double skew) {
        j["degradation"] = {{"level", 0}, {"seed", 1}, {"skew_deg", skew}};
        const RenderedDocument doc = renderer.Render(ParseDescription(j));
        const auto dec = DecimateSamples(doc.magnetic, 3);
        const double perPixel = (*doc.truth)["magnetic"]["decimated_per_inch"].get<double>() /
                                (*doc.truth)["dpi_x"].get<double>();
        std::vector<double> out;
        for (const auto& el : (*doc.truth)["front"]) {
            const auto& b = el["box_scan"];
            const double shown = (b[0].get<double>() + b[2].get<double>()) / 2 * perPixel;
            const double half = (b[2].get<double>() - b[0].get<double>()) / 2 * perPixel + 80;
            out.push_back(SignalCentre(dec, std::lround(shown - half), std::lround(shown + half)) -
                          shown);
        }
        return out;
    };
    const auto straight = offsets(0.0);
    ASSERT_EQ(straight.size(), 2u);
    for (double skew : {3.0, -3.0}) {
        const auto turned = offsets(skew);
        ASSERT_EQ(turned.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i)
            EXPECT_NEAR(turned[i], straight[i], 6.0) << skew << " degrees, element " << i;
    }
}

TEST(Cmc7Drawing, EveryCharacterDecodesFromItsStrokes) {
    const Cmc7Geometry geometry;
    const auto font = MakeCmc7Font(geometry);
    const std::string chars = "0123456789:;<=>";
    for (double dpi : {200.0, 300.0, 600.0})
        for (double grow : {-0.03, 0.0, 0.04})
            for (double phase : {0.0, 0.25, 0.5, 0.75})
                for (char c : chars) {
                    const CodelineGlyph g = font->Render(c, dpi, dpi, grow, phase);
                    EXPECT_EQ(DecodeCmc7Strokes(g.coverage, dpi, geometry), c)
                        << "'" << c << "' at " << dpi << " dpi, stroke " << grow << " mm, phase "
                        << phase;
                }
    // A phase moves the strokes by that share of a pixel.
    const CodelineGlyph at0 = font->Render('8', 300, 300, 0.0, 0.0);
    const CodelineGlyph at5 = font->Render('8', 300, 300, 0.0, 0.5);
    EXPECT_NE(PixelBytes(at0.coverage), PixelBytes(at5.coverage));
    // The '0' is cut as printed: its middle stroke has no ink at mid-height
    // (the hole).
    const CodelineGlyph zero = font->Render('0', 600, 600, 0.0);
    int hole = 0;
    const int mid = zero.coverage.Height() / 2;
    for (int x = zero.coverage.Width() / 2 - 3; x <= zero.coverage.Width() / 2 + 3; ++x)
        hole += zero.coverage.At(x, mid);
    EXPECT_EQ(hole, 0);
    // Two different characters never render the same strokes.
    EXPECT_NE(PixelBytes(font->Render('3', 300, 300).coverage),
              PixelBytes(font->Render('8', 300, 300).coverage));

    // Contact sheet for the eye: the printed drawing (top three rows: light,
    // nominal, heavy) and the database drawing (bottom row), at 600 dpi.
    const auto project = MakeProjectCodelineFont("cmc7");
    const int cell = 100;
    ImageBuffer sheet(static_cast<int>(chars.size()) * cell, 4 * cell, 1, 255);
    for (std::size_t i = 0; i < chars.size(); ++i)
        for (int row = 0; row < 4; ++row) {
            const double grows[] = {-0.03, 0.0, 0.04};
            const CodelineGlyph g = row < 3 ? font->Render(chars[i], 600, 600, grows[row])
                                            : project->Render(chars[i], 600, 600);
            for (int y = 0; y < std::min(cell, g.coverage.Height()); ++y)
                for (int x = 0; x < std::min(cell, g.coverage.Width()); ++x)
                    sheet.At(static_cast<int>(i) * cell + x, row * cell + y) =
                        static_cast<std::uint8_t>(255 - g.coverage.At(x, y));
        }
    WritePng(sheet, std::string(KOVRAN_TEST_OUTPUT_DIR) + "/cmc7-contact-sheet.png", 600);
}

// The printed CMC7 drawing and the databases' glyph art are two
// constructions of the same characters: each character of the drawing, scanned
// at the resolutions and print weights the databases hold and at every
// quarter-pixel phase, scanned through the scanner's optics, finds its own
// character as the nearest model. Without the optics a phase may leave a
// 0.15 mm stroke one pixel wide at 300 dpi, which no sound model holds.
TEST(Cmc7Drawing, DatabasesFindEveryCharacterAsItsNearestModel) {
    std::vector<ocr::FontModel> models;
    for (const char* f : {"cmc7aa04.db", "cmc7ab04.db"}) {
        const ocr::FontDbRead r = ocr::ReadFontDbFile(std::string(KOVRAN_FONTDB_DIR) + "/" + f);
        ASSERT_TRUE(r.Ok()) << f;
        models.insert(models.end(), r.models.begin(), r.models.end());
    }
    const auto font = MakeCmc7Font(Cmc7Geometry{});
    ASSERT_TRUE(font->MovesByPhase());
    for (char c : std::string("0123456789:;<=>")) {
        int right = 0;
        for (double dpi : {300.0, 400.0})
            for (double grow : {0.0, 0.03})
                for (int q = 0; q < 4; ++q) {
                    const CodelineGlyph g = font->Render(c, dpi, dpi, grow, q / 4.0);
                    constexpr int kPad = 4;
                    ImageBuffer page(g.coverage.Width() + 2 * kPad, g.coverage.Height() + 2 * kPad,
                                     1, 240);
                    for (int y = 0; y < g.coverage.Height(); ++y)
                        for (int x = 0; x < g.coverage.Width(); ++x)
                            page.At(x + kPad, y + kPad) =
                                static_cast<std::uint8_t>(240 - g.coverage.At(x, y) * 215 / 255);
                    GaussianBlur(page, kSensorOpticsBlur * dpi / 300.0);
                    const auto glyph =
                        GlyphOfBox(page.View(), TrueBox{0, 0, page.Width(), page.Height()});
                    ASSERT_TRUE(glyph);
                    if (NearestModel(glyph->glyph, models) == c) ++right;
                }
        EXPECT_EQ(right, 16) << "'" << c << "': nearest in " << right << " of 16 renderings";
    }
}

TEST(PrintDefects, SeededRecordedAndIntrusionsMarked) {
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    json j = ChequeDescription("e13b", 0, 4, 11);
    j["degradation"]["defects"] = 6;
    j["degradation"]["intrusions"] = 2;
    j["degradation"]["stroke_mm"] = 0.1;
    const RenderedDocument a = renderer.Render(ParseDescription(j));
    const json& t = *a.truth;
    EXPECT_EQ(t["level"], 4);
    EXPECT_EQ(t["degradation"]["defects"], 6);
    EXPECT_EQ(t["degradation"]["stroke_mm"], 0.1);
    int defects = 0, under = 0;
    for (const auto& c : t["codeline"]["chars"]) {
        if (c.contains("defects")) defects += static_cast<int>(c["defects"].size());
        if (c.value("under_intrusion", false)) ++under;
        if (c["c"] != " ") {
            EXPECT_TRUE(c.contains("jitter_mm"));
        }
    }
    EXPECT_EQ(defects, 6);
    ASSERT_EQ(t["codeline"]["intrusions"].size(), 2u);
    for (const auto& in : t["codeline"]["intrusions"]) {
        EXPECT_TRUE(std::set<std::string>({"signature", "handwriting", "stamp", "endorsement"})
                        .count(in["kind"].get<std::string>()));
        // Where the skewed scan shows it, as for the characters.
        ASSERT_TRUE(in.contains("box_scan"));
        EXPECT_NE(in["box_scan"], in["box"]);
    }
    EXPECT_NE(t["degradation"]["skew_deg"], 0.0);
    EXPECT_GT(under, 0);
    // The same seed draws the same document; another seed another one.
    EXPECT_EQ(PixelBytes(*renderer.Render(ParseDescription(j)).front), PixelBytes(*a.front));
    j["degradation"]["seed"] = 12;
    EXPECT_NE(PixelBytes(*renderer.Render(ParseDescription(j)).front), PixelBytes(*a.front));
}

TEST(PrintDefects, LevelsGrowHarder) {
    // The level ranges are ordered: level 4 draws more skew, heavier or
    // lighter stroke and more defects than level 1 for the same seeds.
    double skew1 = 0, skew4 = 0;
    int defects1 = 0, defects4 = 0;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        Degradation d;
        d.seed = seed;
        d.level = 1;
        const DegradationValues v1 = ResolveDegradation(d);
        d.level = 4;
        const DegradationValues v4 = ResolveDegradation(d);
        skew1 = std::max(skew1, std::abs(v1.skewDeg));
        skew4 = std::max(skew4, std::abs(v4.skewDeg));
        defects1 += v1.defects;
        defects4 += v4.defects;
        EXPECT_LE(std::abs(v4.skewDeg), 3.0);
        EXPECT_GE(v4.strokeMm, -0.03);
        EXPECT_LE(v4.strokeMm, 0.12);
    }
    EXPECT_GT(skew4, 2.5);
    EXPECT_LT(skew1, 0.6);
    EXPECT_GT(defects4, 3 * defects1);
}

TEST(PrintDefects, OcrLinesCarryThePrintWeightAndDarkness) {
    // The OCR-A and OCR-B lines of a form are printed as the level says: a
    // heavier stroke puts more ink in each character box, a lighter one less,
    // and grey print is lighter.
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    json j = PaymentFormDescription(0, 0, 21);
    j["scan"] = {{"dpi", 300}, {"sides", json::array({"front"})}};
    auto ink = [&](double stroke, double darkness) {
        json d = j;
        d["degradation"]["stroke_mm"] = stroke;
        d["degradation"]["ink_darkness"] = darkness;
        const RenderedDocument doc = renderer.Render(ParseDescription(d));
        const ImageBuffer& img = *doc.front;
        std::map<std::string, double> perFont;
        for (const auto& el : (*doc.truth)["front"]) {
            if (!el.contains("chars")) continue;
            const std::string font = el.value("font", std::string());
            if (font != "OCRA" && font != "OCR B") continue;
            for (const auto& c : el["chars"]) {
                const auto& b = c["box"];
                double n = 0;
                for (int y = b[1]; y < b[3].get<int>(); ++y)
                    for (int x = b[0]; x < b[2].get<int>(); ++x)
                        n += (255.0 - img.At(x, y)) / 255.0;
                perFont[font] += n;
            }
        }
        return perFont;
    };
    const auto nominal = ink(0.0, 1.0), heavy = ink(0.1, 1.0), light = ink(-0.03, 1.0),
               grey = ink(0.0, 0.5);
    for (const char* font : {"OCRA", "OCR B"}) {
        SCOPED_TRACE(font);
        ASSERT_GT(nominal.at(font), 0.0);
        EXPECT_GT(heavy.at(font), 1.3 * nominal.at(font));
        EXPECT_LT(light.at(font), 0.9 * nominal.at(font));
        EXPECT_LT(grey.at(font), 0.7 * nominal.at(font));
    }
}

TEST(PrintDefects, TheCodelineRecordsTheStrokeItsPrintTook) {
    // The drawings grow and thin as the level says; a MICR font file is
    // printed as it is, and its ground truth must not claim otherwise.
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    json j = OneLine("e13b", "<123<");
    j["degradation"] = {{"level", 0}, {"stroke_mm", 0.1}};
    EXPECT_EQ((*renderer.Render(ParseDescription(j)).truth)["codeline"]["stroke_mm"], 0.1);
    KOVRAN_REQUIRE_SHARED_TESTDATA();
    j["front"]["elements"][0]["font_file"] = testdata::GnuMicrFontPath();
    const RenderedDocument file = renderer.Render(ParseDescription(j));
    EXPECT_EQ((*file.truth)["codeline"]["stroke_mm"], 0.0);
    EXPECT_EQ((*file.truth)["degradation"]["stroke_mm"], 0.1);  // the OCR lines' would take it
}

TEST(PrintDefects, TheCodelineRecordsTheStrokeWithinItsDrawingsLimits) {
    // Each drawing grows only so far (the CMC7 strokes to 0.1 mm, the E13B
    // outlines to 0.15 mm, both thin to -0.05 mm), while a level or a
    // description may ask for more (level 4 draws up to +0.12 mm): the
    // ground truth records the growth the print took, and a request beyond
    // the limit prints the same as the limit itself.
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    struct Case {
        const char* font;
        double asked, taken;
    };
    for (const Case& k : {Case{"cmc7", 0.12, 0.1}, Case{"e13b", 0.2, 0.15},
                          Case{"cmc7", -0.06, -0.05}, Case{"e13b", 0.03, 0.03}}) {
        SCOPED_TRACE(std::string(k.font) + " " + std::to_string(k.asked));
        json j = OneLine(k.font, "0<1");
        j["degradation"] = {{"level", 0}, {"stroke_mm", k.asked}};
        const RenderedDocument asked = renderer.Render(ParseDescription(j));
        EXPECT_NEAR((*asked.truth)["codeline"]["stroke_mm"].get<double>(), k.taken, 1e-9);
        EXPECT_EQ((*asked.truth)["degradation"]["stroke_mm"], k.asked);
        j["degradation"]["stroke_mm"] = k.taken;
        EXPECT_EQ(PixelBytes(*renderer.Render(ParseDescription(j)).front),
                  PixelBytes(*asked.front));
    }
}

TEST(PrintDefects, ADocumentWithoutCodelineRecordsNoIntrusions) {
    // Intrusions are drawn across the codeline's clear band only: a payment
    // form at the hardest level gets none, and its ground truth says so.
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    json j = PaymentFormDescription(0, 4, 21);
    j["scan"] = {{"dpi", 200}, {"sides", json::array({"front"})}};
    j["degradation"]["intrusions"] = 2;
    const RenderedDocument a = renderer.Render(ParseDescription(j));
    EXPECT_TRUE((*a.truth)["codeline"].is_null());
    EXPECT_EQ((*a.truth)["degradation"]["intrusions"], 0);
}

TEST(PrintDefects, OcrLinesCarryJitterAndLocalDefects) {
    // The characters of the OCR-A and OCR-B lines move by their own pitch
    // and baseline jitter and take the level's local defects, as the
    // codeline's do; both are in the ground truth, and the boxes follow.
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    json j = PaymentFormDescription(0, 0, 21);
    j["scan"] = {{"dpi", 300}, {"sides", json::array({"front"})}};
    const RenderedDocument clean = renderer.Render(ParseDescription(j));
    j["degradation"]["pitch_jitter_mm"] = 0.1;
    j["degradation"]["baseline_jitter_mm"] = 0.1;
    j["degradation"]["defects"] = 3;
    const RenderedDocument a = renderer.Render(ParseDescription(j));
    auto lines = [](const RenderedDocument& doc) {
        std::map<std::string, json> out;
        for (const auto& el : (*doc.truth)["front"]) {
            const std::string font = el.value("font", std::string());
            if (el.contains("chars") && (font == "OCRA" || font == "OCR B"))
                out[font] = el["chars"];
        }
        return out;
    };
    const auto before = lines(clean), after = lines(a);
    ASSERT_EQ(after.size(), 2u);
    for (const auto& [font, chars] : after) {
        SCOPED_TRACE(font);
        ASSERT_EQ(chars.size(), before.at(font).size());
        int defects = 0, moved = 0;
        for (std::size_t i = 0; i < chars.size(); ++i) {
            const json& c = chars[i];
            ASSERT_TRUE(c.contains("jitter_mm"));
            if (c.contains("defects")) defects += static_cast<int>(c["defects"].size());
            // The box moved by the recorded jitter (whole pixels at 300 dpi).
            const json& b0 = before.at(font)[i]["box"];
            const int dx = c["box"][0].get<int>() - b0[0].get<int>();
            const int dy = c["box"][1].get<int>() - b0[1].get<int>();
            EXPECT_NEAR(dx, c["jitter_mm"][0].get<double>() * 300 / 25.4, 0.51) << i;
            EXPECT_NEAR(dy, c["jitter_mm"][1].get<double>() * 300 / 25.4, 0.51) << i;
            if (dx != 0 || dy != 0) ++moved;
            // The character's ink is inside its box (dark pixels: the paper
            // alone is never below 128).
            int inkInBox = 0;
            for (int y = c["box"][1]; y < c["box"][3].get<int>(); ++y)
                for (int x = c["box"][0]; x < c["box"][2].get<int>(); ++x)
                    inkInBox += a.front->At(x, y) < 128;
            if (!c.contains("defects") && c["c"] != " ") {
                EXPECT_GT(inkInBox, 0) << i;
            }
        }
        EXPECT_EQ(defects, 3);
        EXPECT_GT(moved, static_cast<int>(chars.size()) / 3);
    }
    // Seeded: the same description gives the same page.
    EXPECT_EQ(PixelBytes(*renderer.Render(ParseDescription(j)).front), PixelBytes(*a.front));
    // And the same on every standard library: the lines' draws depend on
    // nothing but the seed and the element (these values pin that).
    const json& ocra = after.at("OCRA")[0]["jitter_mm"];
    const json& ocrb = after.at("OCR B")[0]["jitter_mm"];
    EXPECT_NEAR(ocra[0].get<double>(), 0.172516, 1e-6);
    EXPECT_NEAR(ocra[1].get<double>(), -0.134587, 1e-6);
    EXPECT_NEAR(ocrb[0].get<double>(), 0.095079, 1e-6);
    EXPECT_NEAR(ocrb[1].get<double>(), -0.062886, 1e-6);
}

TEST(OcrWear, NoneAtLevelZeroAndGrowingWithTheLevel) {
    // Level 0 prints the OCR lines untouched; the fade, the share of
    // dot-matrix print and the pitch tightening grow with the level.
    double fade[5] = {}, squeeze[5] = {};
    int dots[5] = {};
    for (std::uint64_t seed = 1; seed <= 60; ++seed)
        for (int level = 0; level <= 4; ++level) {
            Degradation d;
            d.seed = seed;
            d.level = level;
            const DegradationValues v = ResolveDegradation(d);
            fade[level] += v.fadeDepth;
            squeeze[level] += v.pitchSqueeze;
            dots[level] += v.dotPitchMm > 0.0;
            if (level == 0) {
                EXPECT_EQ(v.fadeDepth, 0.0);
                EXPECT_EQ(v.dotPitchMm, 0.0);
                EXPECT_EQ(v.pitchSqueeze, 0.0);
                EXPECT_EQ(v.charInkSd, 0.0);
            }
            EXPECT_LE(v.fadeDepth, 0.75);
            EXPECT_LE(v.dotPitchMm, 0.3);
        }
    for (int level = 1; level <= 4; ++level) {
        SCOPED_TRACE(level);
        EXPECT_GT(fade[level], fade[level - 1]);
        EXPECT_GT(squeeze[level], squeeze[level - 1]);
        EXPECT_GE(dots[level], dots[level - 1]);
    }
    EXPECT_EQ(dots[1], 0);
    EXPECT_GT(dots[4], 15);
    EXPECT_GT(dots[4], dots[2] + 8);
    // The values already drawn for a seed stay what they were.
    Degradation d;
    d.seed = 5;
    d.level = 3;
    d.fadeDepth = 0.5;
    const DegradationValues a = ResolveDegradation(d);
    d.fadeDepth.reset();
    const DegradationValues b = ResolveDegradation(d);
    EXPECT_EQ(a.skewDeg, b.skewDeg);
    EXPECT_EQ(a.strokeMm, b.strokeMm);
    EXPECT_EQ(a.dotPitchMm, b.dotPitchMm);
    EXPECT_EQ(a.fadeDepth, 0.5);
}

TEST(OcrWear, DotMatrixFadeTightPitchAndInkShowOnTheOcrLines) {
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    json j = PaymentFormDescription(0, 0, 21);
    j["scan"] = {{"dpi", 300}, {"sides", json::array({"front"})}};
    struct Line {
        json chars;
        long darkPixels = 0;  // below 128, in the character boxes
        long components = 0;  // 4-connected groups of them, over all boxes
        double pitch = 0;     // mean step between the boxes' left edges
    };
    auto lines = [&](const json& desc) {
        const RenderedDocument doc = renderer.Render(ParseDescription(desc));
        const ImageBuffer& img = *doc.front;
        std::map<std::string, Line> out;
        for (const auto& el : (*doc.truth)["front"]) {
            const std::string font = el.value("font", std::string());
            if (!el.contains("chars") || (font != "OCRA" && font != "OCR B")) continue;
            Line& l = out[font];
            l.chars = el["chars"];
            for (const auto& c : l.chars) {
                const auto& b = c["box"];
                const int x0 = b[0], y0 = b[1], x1 = b[2], y1 = b[3];
                std::vector<int> seen(static_cast<std::size_t>((x1 - x0) * (y1 - y0)), 0);
                for (int y = y0; y < y1; ++y)
                    for (int x = x0; x < x1; ++x) {
                        if (img.At(x, y) >= 128 || seen[(y - y0) * (x1 - x0) + x - x0]) continue;
                        ++l.components;
                        std::vector<std::pair<int, int>> stack{{x, y}};
                        seen[(y - y0) * (x1 - x0) + x - x0] = 1;
                        while (!stack.empty()) {
                            const auto [px, py] = stack.back();
                            stack.pop_back();
                            ++l.darkPixels;
                            const int nx[] = {px - 1, px + 1, px, px};
                            const int ny[] = {py, py, py - 1, py + 1};
                            for (int k = 0; k < 4; ++k) {
                                if (nx[k] < x0 || ny[k] < y0 || nx[k] >= x1 || ny[k] >= y1)
                                    continue;
                                int& s = seen[(ny[k] - y0) * (x1 - x0) + nx[k] - x0];
                                if (s || img.At(nx[k], ny[k]) >= 128) continue;
                                s = 1;
                                stack.push_back({nx[k], ny[k]});
                            }
                        }
                    }
            }
            const std::size_t n = l.chars.size();
            l.pitch =
                (l.chars[n - 1]["box"][0].get<double>() - l.chars[0]["box"][0].get<double>()) /
                static_cast<double>(n - 1);
        }
        return out;
    };
    const auto clean = lines(j);
    ASSERT_EQ(clean.size(), 2u);
    for (const auto& [font, l] : clean)
        for (const auto& c : l.chars) EXPECT_FALSE(c.contains("ink")) << font;

    json dotted = j;
    dotted["degradation"]["dot_pitch_mm"] = 0.3;
    json faded = j;
    faded["degradation"]["fade_depth"] = 0.9;
    json tight = j;
    tight["degradation"]["pitch_squeeze"] = 0.2;
    json inked = j;
    inked["degradation"]["char_ink_sd"] = 0.2;
    const auto dot = lines(dotted), fade = lines(faded), squeezed = lines(tight),
               ink = lines(inked);
    for (const char* font : {"OCRA", "OCR B"}) {
        SCOPED_TRACE(font);
        const Line& c = clean.at(font);
        // Solid strokes hold together; dots on a 0.3 mm grid fall apart.
        EXPECT_GT(dot.at(font).components, 3 * c.components);
        // Faded patches lose ink: fewer pixels stay dark.
        EXPECT_LT(fade.at(font).darkPixels, c.darkPixels * 9 / 10);
        EXPECT_GT(fade.at(font).darkPixels, c.darkPixels / 4);
        // A pitch 20 % tighter than the font's.
        EXPECT_NEAR(squeezed.at(font).pitch, 0.8 * c.pitch, 0.5);
        // Each character's own ink, recorded.
        int lighter = 0;
        for (const auto& ch : ink.at(font).chars) {
            ASSERT_TRUE(ch.contains("ink") || ch["c"] == " ");
            if (!ch.contains("ink")) continue;
            EXPECT_GE(ch["ink"].get<double>(), 0.3);
            EXPECT_LE(ch["ink"].get<double>(), 1.0);
            lighter += ch["ink"].get<double>() < 0.9;
        }
        EXPECT_GT(lighter, 0);
    }
    // Recorded with the document's degradation, and refused when nonsense.
    const RenderedDocument doc = renderer.Render(ParseDescription(dotted));
    EXPECT_EQ((*doc.truth)["degradation"]["dot_pitch_mm"], 0.3);
    dotted["degradation"]["dot_pitch_mm"] = 0.01;
    try {
        ParseDescription(dotted);
        ADD_FAILURE() << "a 0.01 mm dot grid was accepted";
    } catch (const DescriptionError& e) {
        EXPECT_EQ(e.field, "degradation.dot_pitch_mm");
    }
    // The codeline keeps its own print: a cheque's codeline is untouched.
    json cheque = ChequeDescription("e13b", 0, 0, 11);
    const RenderedDocument plain = renderer.Render(ParseDescription(cheque));
    cheque["degradation"]["fade_depth"] = 0.9;
    cheque["degradation"]["dot_pitch_mm"] = 0.3;
    EXPECT_EQ(PixelBytes(*renderer.Render(ParseDescription(cheque)).front),
              PixelBytes(*plain.front));
}

TEST(E13bDrawing, DefaultPrintHasRoundedCorners) {
    // The default E13B of the test documents has its corners rounded as
    // printed toner leaves them.
    const auto sharp = MakeE13bOutlineFont(0.0);
    const auto printed = MakeE13bOutlineFont();
    const CodelineGlyph a = sharp->Render('0', 600, 600);
    const CodelineGlyph b = printed->Render('0', 600, 600);
    auto ink = [](const ImageBuffer& cov) {
        long n = 0;
        for (std::size_t i = 0; i < cov.Bytes(); ++i) n += cov.Data()[i];
        return n;
    };
    const long inkA = ink(a.coverage), inkB = ink(b.coverage);
    EXPECT_LT(inkB, inkA);
    EXPECT_GT(inkB, inkA * 9 / 10);
}

}  // namespace
}  // namespace kovran::synth
