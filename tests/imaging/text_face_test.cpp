#include "imaging/text_face.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kovran::imaging {
namespace {

long InkSum(const TextGlyph& g) {
    const std::uint8_t* p = g.coverage.Data();
    return std::accumulate(p, p + g.coverage.Bytes(), 0L);
}

TEST(TextFace, SubstitutesAreRefusedWithTheirReason) {
    TextFaceLibrary fonts;
    ASSERT_TRUE(fonts.Ok());
    std::string error;
    EXPECT_EQ(fonts.OpenPattern("Kovran No Such Face:style=Bold", &error), nullptr);
    EXPECT_EQ(error, "font family 'Kovran No Such Face' is not installed");
    error.clear();
    EXPECT_EQ(fonts.OpenFamily("Kovran No Such Face", "", &error), nullptr);
    EXPECT_EQ(error, "font family 'Kovran No Such Face' is not installed");
    error.clear();
    // The family exists, the style does not: fontconfig offers another style.
    EXPECT_EQ(fonts.OpenFamily("Liberation Sans", "Kovran Hairline", &error), nullptr);
    EXPECT_EQ(error, "font family 'Liberation Sans' has no style 'Kovran Hairline'");
    error.clear();
    EXPECT_EQ(fonts.OpenFile("/nonexistent/kovran.ttf", &error), nullptr);
    EXPECT_EQ(error, "cannot open font file /nonexistent/kovran.ttf");
}

TEST(TextFace, OneFacePerFileHoweverItIsReached) {
    TextFaceLibrary fonts;
    std::string error;
    const TextFace* byFamily = fonts.OpenFamily("liberation sans", "bold", &error);
    ASSERT_NE(byFamily, nullptr) << error;
    EXPECT_EQ(byFamily->Family(), "Liberation Sans");
    EXPECT_EQ(fonts.OpenPattern("Liberation Sans:style=Bold", &error), byFamily);
    EXPECT_EQ(fonts.OpenFile(byFamily->Path(), &error), byFamily);
    EXPECT_NE(fonts.OpenFamily("Liberation Sans", "Regular", &error), byFamily);
}

// Liberation Sans keeps Arial's advances: digits are 1139/2048 em wide.
TEST(TextFace, RenderingFollowsTheOutline) {
    TextFaceLibrary fonts;
    std::string error;
    const TextFace* face = fonts.OpenFamily("Liberation Sans", "Regular", &error);
    ASSERT_NE(face, nullptr) << error;
    ASSERT_TRUE(face->HasChar(U'8'));
    EXPECT_FALSE(face->HasChar(U'\U0001F600'));

    const auto g = face->Render(U'8', 200, 200);
    ASSERT_TRUE(g);
    EXPECT_NEAR(g->advance, 200.0 * 1139 / 2048, 0.01);
    const OutlineBox box = face->Bounds(U'8');
    EXPECT_NEAR(g->left, box.xMin * 200, 1.0);
    EXPECT_NEAR(g->top, box.yMax * 200, 1.0);
    EXPECT_NEAR(g->coverage.Width(), (box.xMax - box.xMin) * 200, 2.0);
    EXPECT_NEAR(g->coverage.Height(), (box.yMax - box.yMin) * 200, 2.0);
    const std::uint8_t* values = g->coverage.Data();
    const std::uint8_t* end = values + g->coverage.Bytes();
    EXPECT_EQ(*std::max_element(values, end), 255);
    // Anti-aliased edges lie between paper and full ink.
    EXPECT_TRUE(std::any_of(values, end, [](std::uint8_t v) { return v > 0 && v < 255; }));

    const auto wide = face->Render(U'8', 400, 200);
    ASSERT_TRUE(wide);
    EXPECT_NEAR(wide->coverage.Width(), 2.0 * g->coverage.Width(), 2.0);
    EXPECT_EQ(wide->coverage.Height(), g->coverage.Height());
    EXPECT_NEAR(wide->advance, 2.0 * g->advance, 0.02);

    const auto bold = face->Render(U'8', 200, 200, {.emboldenPixels64 = 4 * 64});
    ASSERT_TRUE(bold);
    EXPECT_GT(InkSum(*bold), InkSum(*g) * 11 / 10);
    const auto hinted = face->Render(U'8', 48, 48, {.hinting = Hinting::On});
    ASSERT_TRUE(hinted);
    EXPECT_GT(InkSum(*hinted), 0);

    const auto space = face->Render(U' ', 200, 200);
    ASSERT_TRUE(space);
    EXPECT_TRUE(space->coverage.Empty());
    EXPECT_NEAR(space->advance, 200.0 * 569 / 2048, 0.01);
}

}  // namespace
}  // namespace kovran::imaging
