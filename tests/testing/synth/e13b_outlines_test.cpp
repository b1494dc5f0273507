// The synthesizer's own E13B drawing: its characters stand on the font's
// grid (0.117 inch tall digits, widths of whole 0.013 inch modules up to
// seven, right-aligned at a 0.125 inch pitch), and at nominal print the
// font databases read every one of them, with the nearest model and with
// the template matcher's rules.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

#include "ocr/font_db_file.h"
#include "testing/synth/description.h"
#include "testing/synth/document_renderer.h"
#include "testing/synth/e13b_outlines.h"
#include "testing/synth/project_glyphs.h"
#include "testing/synth/template_match.h"

namespace kovran::synth {
namespace {

using nlohmann::json;

const std::string kE13bChars = "0123456789:=<;";

struct InkExtent {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
};

InkExtent ExtentOf(const ImageBuffer& coverage, int threshold = 128) {
    InkExtent e;
    for (int y = 0; y < coverage.Height(); ++y)
        for (int x = 0; x < coverage.Width(); ++x)
            if (coverage.At(x, y) >= threshold) {
                e.left = std::min(e.left, x);
                e.top = std::min(e.top, y);
                e.right = std::max(e.right, x);
                e.bottom = std::max(e.bottom, y);
            }
    return e;
}

TEST(E13bOutlines, CharactersStandOnTheModuleGrid) {
    // At 1000 dpi one pixel is a thousandth of an inch; sharp corners and
    // nominal print so that the ink shows the drawing's own edges.
    const auto font = MakeE13bOutlineFont(0.0);
    EXPECT_DOUBLE_EQ(font->PitchInch(), 0.125);
    EXPECT_DOUBLE_EQ(font->HeightInch(), 0.117);
    for (char c : kE13bChars) {
        SCOPED_TRACE(std::string(1, c));
        ASSERT_TRUE(font->HasChar(c));
        const CodelineGlyph g = font->Render(c, 1000, 1000);
        const InkExtent e = ExtentOf(g.coverage);
        ASSERT_GE(e.right, 0);
        const int width = e.right - e.left + 1, height = e.bottom - e.top + 1;
        // The widths of E13B in whole modules: four for '1' and '2', five
        // for '3', '5' and '7', six for '4', '6' and '9', seven for '0',
        // '8' and the symbols. A digit drawn narrower than its cell changes
        // its proportions after normalisation ('6' and '8' grow alike).
        const int expected = c >= '0' && c <= '9' ? "7445656576"[c - '0'] - '0' : 7;
        EXPECT_NEAR(width, expected * 13, 1) << width;
        if (c >= '0' && c <= '9') {
            EXPECT_NEAR(height, 117, 1);
        }
        EXPECT_LE(height, 117 + 1);
        // Within the character's band above the baseline.
        const double bottomInch = g.bottomInch + (g.coverage.Height() - 1 - e.bottom) / 1000.0;
        EXPECT_GE(bottomInch, -0.001);
        EXPECT_LE(bottomInch + height / 1000.0, 0.117 + 0.001);
        // Right-aligned in the seven-module box centred in the 0.125 inch cell.
        EXPECT_NEAR(g.leftInch + (e.right + 1) / 1000.0, (0.125 + 0.091) / 2, 0.0011);
    }
    EXPECT_FALSE(font->HasChar('A'));
}

TEST(E13bOutlines, TestDocumentsPrintThemAtTheCodelinePitch) {
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    const json j = {
        {"name", "pitch"},
        {"paper", {{"width_mm", 80.0}, {"height_mm", 30.0}}},
        {"front",
         {{"elements",
           json::array({{{"type", "codeline"}, {"font", "e13b"}, {"text", "0808:1<2=3;9"}}})}}},
        {"scan", {{"dpi", 600}, {"sides", json::array({"front"})}}}};
    const RenderedDocument doc = renderer.Render(ParseDescription(j));
    const json& cl = (*doc.truth)["codeline"];
    EXPECT_EQ(cl["font_name"], "E13B (synthesizer outlines)");
    const json& chars = cl["chars"];
    ASSERT_EQ(chars.size(), 12u);
    // The right edges of the ink, 0.125 inch (75 pixels) apart.
    for (std::size_t i = 1; i < chars.size(); ++i)
        EXPECT_NEAR(chars[i]["box"][2].get<int>() - chars[i - 1]["box"][2].get<int>(), 75, 1) << i;
}

std::vector<ocr::FontModel> E13bModels() {
    std::vector<ocr::FontModel> all;
    for (const char* f : {"e13bA04.db", "e13bB04.db"}) {
        const ocr::FontDbRead r = ocr::ReadFontDbFile(std::string(KOVRAN_FONTDB_DIR) + "/" + f);
        EXPECT_TRUE(r.Ok()) << f;
        all.insert(all.end(), r.models.begin(), r.models.end());
    }
    return all;
}

// The glyph of a drawn character as a scan gives it: grey paper, dark ink,
// the character's true box.
std::optional<ocr::NormalisedGlyph> Scanned(const CodelineGlyph& g) {
    constexpr int kPad = 4;
    ImageBuffer page(g.coverage.Width() + 2 * kPad, g.coverage.Height() + 2 * kPad, 1, 240);
    for (int y = 0; y < g.coverage.Height(); ++y)
        for (int x = 0; x < g.coverage.Width(); ++x)
            page.At(x + kPad, y + kPad) =
                static_cast<std::uint8_t>(240 - g.coverage.At(x, y) * 215 / 255);
    const InkExtent e = ExtentOf(g.coverage, 1);
    return GlyphOfBox(
        page.View(), TrueBox{e.left + kPad, e.top + kPad, e.right + kPad + 1, e.bottom + kPad + 1});
}

TEST(E13bOutlines, DatabasesReadTheDrawingAtNominalPrint) {
    const std::vector<ocr::FontModel> models = E13bModels();
    ASSERT_FALSE(models.empty());
    const auto ours = MakeE13bOutlineFont();
    const auto theirs = MakeProjectCodelineFont("e13b");
    const MatcherRules font1;
    int sharper = 0;
    for (double dpi : {200.0, 240.0, 300.0}) {
        for (char c : kE13bChars) {
            SCOPED_TRACE(std::string(1, c) + " at " + std::to_string(dpi) + " dpi");
            const auto g = Scanned(ours->Render(c, dpi, dpi));
            ASSERT_TRUE(g);
            EXPECT_EQ(NearestModel(g->glyph, models), c);
            EXPECT_EQ(MatchGlyph(*g, models, font1), c);
            // Drawn apart from the databases' art, the drawing is not their
            // copy: its distance to the nearest model of its character is
            // mostly above what the art itself gives.
            const auto art = Scanned(theirs->Render(c, dpi, dpi));
            ASSERT_TRUE(art);
            auto own = [&](const ocr::Glyph32& glyph) {
                int best = 1 << 30;
                for (const ocr::FontModel& m : models)
                    if (m.code == static_cast<std::uint8_t>(c))
                        best = std::min(best, ocr::GlyphDistance(glyph, m.glyph, font1.limits));
                return best;
            };
            const int dOurs = own(g->glyph), dArt = own(art->glyph);
            EXPECT_LE(dOurs, font1.maxDistance);
            if (dOurs > dArt) ++sharper;
        }
    }
    EXPECT_GE(sharper, 3 * static_cast<int>(kE13bChars.size()) / 2);
}

TEST(E13bOutlines, HeavyPrintKeepsTheSixApartFromTheEight) {
    // Ink spread thickens the '6' toward an '8' only where its lower bowl
    // is drawn narrow and heavy; drawn six modules wide round an open
    // counter, as E13B has it, it stays well nearer its own models.
    const std::vector<ocr::FontModel> models = E13bModels();
    const auto font = MakeE13bOutlineFont();
    for (double dpi : {200.0, 240.0, 300.0})
        for (double grow : {0.04, 0.08, 0.12}) {
            SCOPED_TRACE(std::to_string(dpi) + " dpi, +" + std::to_string(grow) + " mm");
            const auto g = Scanned(font->Render('6', dpi, dpi, grow));
            ASSERT_TRUE(g);
            int six = 1 << 30, eight = 1 << 30;
            for (const ocr::FontModel& m : models) {
                const int d = ocr::GlyphDistance(g->glyph, m.glyph);
                if (m.code == '6') six = std::min(six, d);
                if (m.code == '8') eight = std::min(eight, d);
            }
            EXPECT_GE(eight - six, 100) << six << " from a '6', " << eight << " from an '8'";
        }
}

}  // namespace
}  // namespace kovran::synth
