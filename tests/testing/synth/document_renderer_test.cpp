#include "testing/synth/document_renderer.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/temp_dir.h"
#include "testing/synth/image_io.h"

namespace kovran::synth {
namespace {

using nlohmann::json;

json Perforated(const std::string& glyphs) {
    json perf = {{"type", "microperforation"}, {"text", "1"}, {"x_mm", 20}, {"y_mm", 10}};
    if (glyphs == "project") perf["glyphs"] = "project";
    return {{"name", "perf"},
            {"paper", {{"width_mm", 60}, {"height_mm", 30}, {"transmission", 0.4}}},
            {"front", {{"elements", json::array({perf})}}},
            {"rear",
             {{"elements", json::array({{{"type", "rect"},
                                         {"x_mm", 40},
                                         {"y_mm", 5},
                                         {"width_mm", 10},
                                         {"height_mm", 5},
                                         {"fill", true},
                                         {"colour", "#000000"}}})}}},
            {"scan", {{"dpi", 300}, {"sides", json::array({"front", "rear", "backlight"})}}}};
}

// Holes let the backlight through and show the dark backdrop on both faces,
// mirrored on the rear; print on the rear shades the backlight from behind.
TEST(DocumentRenderer, MicroperforationAndBacklight) {
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    for (const char* glyphs : {"synth", "project"}) {
        SCOPED_TRACE(glyphs);
        const RenderedDocument doc = renderer.Render(ParseDescription(Perforated(glyphs)));
        ASSERT_TRUE(doc.front && doc.rear && doc.backlight);
        const auto& el = (*doc.truth)["front"][0];
        ASSERT_EQ(el["text"], "1");
        // The digit one has a full-height stem of holes in its middle
        // column: scan the middle of the box for the brightest column.
        const int l = el["box"][0], t = el["box"][1], r = el["box"][2], b = el["box"][3];
        int best = 0, bestX = -1;
        for (int x = l; x < r; ++x) {
            int bright = 0;
            for (int y = t; y < b; ++y) bright += doc.backlight->At(x, y) > 230;
            if (bright > best) best = bright, bestX = x;
        }
        ASSERT_GE(bestX, 0);
        EXPECT_GT(best, (b - t) / 3);
        int y = t;
        while (y < b && doc.backlight->At(bestX, y) <= 230) ++y;
        ASSERT_LT(y, b);
        EXPECT_LT(doc.front->At(bestX, y), 60);
        EXPECT_LT(doc.rear->At(doc.rear->Width() - 1 - bestX, y), 60);
        EXPECT_NEAR(doc.backlight->At(5, 5), 0.4 * 255, 2);  // blank paper
        // Under the rear's black patch (mirrored into front coordinates).
        const int px = doc.backlight->Width() - 1 - static_cast<int>(45 * 300 / 25.4);
        EXPECT_LT(doc.backlight->At(px, static_cast<int>(7 * 300 / 25.4)), 0.4 * 255 * 0.3);
    }
}

// Skewed scans: the truth's scan boxes follow the ink.
TEST(DocumentRenderer, ScanBoxesFollowTheSkewAndColourHasThreeChannels) {
    json j = {{"name", "skew"},
              {"paper", {{"width_mm", 120}, {"height_mm", 60}}},
              {"front",
               {{"elements", json::array({{{"type", "rect"},
                                           {"x_mm", 5},
                                           {"y_mm", 5},
                                           {"width_mm", 8},
                                           {"height_mm", 8},
                                           {"fill", true},
                                           {"colour", "#000000"}}})}}},
              {"scan", {{"dpi", 150}, {"colour", true}, {"sides", json::array({"front"})}}},
              {"degradation", {{"skew_deg", 3.0}}}};
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    const RenderedDocument doc = renderer.Render(ParseDescription(j));
    ASSERT_TRUE(doc.front);
    EXPECT_EQ(doc.front->Channels(), 3);
    EXPECT_FALSE(doc.rear);
    const auto& box = (*doc.truth)["front"][0]["box"];
    const auto& scan = (*doc.truth)["front"][0]["box_scan"];
    EXPECT_NE(box, scan);
    // Centre of the scan box is ink; the centre of the unskewed box (now
    // off by several pixels near a corner) is a worse guess.
    const int sx = (scan[0].get<int>() + scan[2].get<int>()) / 2,
              sy = (scan[1].get<int>() + scan[3].get<int>()) / 2;
    EXPECT_LT(doc.front->At(sx, sy, 0), 40);
    int inkInScan = 0, total = 0;
    for (int y = scan[1]; y < scan[3]; ++y)
        for (int x = scan[0]; x < scan[2]; ++x) {
            inkInScan += doc.front->At(x, y, 1) < 128;
            ++total;
        }
    // An 8 mm square turned by 3 degrees fills most of its bounding box.
    EXPECT_GT(inkInScan, total * 8 / 10);
    test::TempDir dir;
    WriteDocument(doc, dir.path(), "pnm");
    EXPECT_EQ(test::ReadFileBytes(dir / "skew.front.ppm").substr(0, 2), "P6");
    EXPECT_FALSE(test::ReadFileBytes(dir / "skew.json").empty());
    EXPECT_THROW(WriteDocument(doc, dir / "missing-dir", "png"), SynthError);
}

// Every scan passes through the scanner's optics, level 0 included: a
// black square's edge shades over a pixel or two, recorded in the ground
// truth; `optics_blur` 0 gives the drawn coverage exactly.
TEST(DocumentRenderer, EveryLevelScansThroughTheOptics) {
    json j = {{"name", "optics"},
              {"paper", {{"width_mm", 20}, {"height_mm", 20}}},
              {"front",
               {{"elements", json::array({{{"type", "rect"},
                                           {"x_mm", 5.08},
                                           {"y_mm", 5.08},
                                           {"width_mm", 8.467},
                                           {"height_mm", 8.467},
                                           {"fill", true},
                                           {"colour", "#000000"}}})}}},
              {"scan", {{"dpi", 300}, {"sides", json::array({"front"})}}},
              {"degradation", {{"level", 0}}}};
    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    // Grey values across the square's left edge (60 px from the left at
    // 300 dpi), on its middle row.
    auto edge = [&](const json& desc) {
        const RenderedDocument doc = renderer.Render(ParseDescription(desc));
        std::vector<int> v;
        for (int x = 57; x < 63; ++x) v.push_back(doc.front->At(x, 110, 0));
        return std::pair{v, (*doc.truth)["degradation"]["optics_blur"].get<double>()};
    };
    const auto [blurred, optics] = edge(j);
    EXPECT_DOUBLE_EQ(optics, 0.45);
    j["degradation"]["optics_blur"] = 0.0;
    const auto [sharp, none] = edge(j);
    EXPECT_EQ(none, 0.0);
    const auto grey = [](const std::vector<int>& v) {
        return std::count_if(v.begin(), v.end(), [](int g) { return g > 5 && g < 235; });
    };
    EXPECT_EQ(grey(sharp), 0) << "sharp edge " << ::testing::PrintToString(sharp);
    EXPECT_GE(grey(blurred), 2) << "edge through the optics " << ::testing::PrintToString(blurred);
}

}  // namespace
}  // namespace kovran::synth

namespace kovran::synth {
namespace {

// Every CMC7 character drawn by the synthesizer decodes back, by its bar
// intervals, to itself through the code table of the standard.
TEST(CodelineFont, Cmc7BarsCarryTheCodeTable) {
    auto font = MakeCmc7Font(Cmc7Geometry{});
    // Split so that no "??x" trigraph sequence appears in a literal.
    const std::string table = std::string("???7?32?") + "?49?0???" + "?18?6???" + "5???????" +
                              "?:;?<???" + "=???????" + ">";
    const double dpi = 1200.0;
    for (char c : std::string("0123456789:;<=>")) {
        SCOPED_TRACE(c);
        const CodelineGlyph g = font->Render(c, dpi, dpi);
        // Bar starts: columns where ink begins after paper.
        std::vector<int> starts;
        bool inBar = false;
        for (int x = 0; x < g.coverage.Width(); ++x) {
            float ink = 0.0f;
            for (int y = 0; y < g.coverage.Height(); ++y)
                ink = std::max(ink, CoverageShare(g.coverage.At(x, y)));
            if (ink > 0.5f && !inBar) starts.push_back(x);
            inBar = ink > 0.5f;
        }
        ASSERT_EQ(starts.size(), 7u);
        unsigned code = 0;
        for (int k = 1; k < 7; ++k) {
            const double mm = (starts[k] - starts[k - 1]) * 25.4 / dpi;
            EXPECT_TRUE(std::abs(mm - 0.30) < 0.03 || std::abs(mm - 0.50) < 0.03) << mm;
            if (mm > 0.40) code |= 1u << (k - 1);
        }
        ASSERT_LT(code, table.size());
        EXPECT_EQ(table[code], c);
        EXPECT_EQ(Cmc7Code(c), static_cast<int>(code));
        // Centred in the 1/8 inch cell.
        EXPECT_NEAR(g.leftInch * 2 + g.coverage.Width() / dpi, 0.125, 0.002);
    }
    EXPECT_EQ(Cmc7Code('?'), -1);
    EXPECT_EQ(Cmc7Code('A'), -1);
}

}  // namespace
}  // namespace kovran::synth
