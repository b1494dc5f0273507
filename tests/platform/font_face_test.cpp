#include "platform/font_face.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kovran::platform {
namespace {

long inkSum(const GlyphCoverage& g) {
    return std::accumulate(g.values.begin(), g.values.end(), 0L);
}

TEST(FontFace, SubstitutesAreRefusedWithTheirReason) {
    FontLibrary fonts;
    ASSERT_TRUE(fonts.ok());
    std::string error;
    EXPECT_EQ(fonts.openPattern("Kovran No Such Face:style=Bold", error), nullptr);
    EXPECT_EQ(error, "font family 'Kovran No Such Face' is not installed");
    error.clear();
    EXPECT_EQ(fonts.openFamily("Kovran No Such Face", "", error), nullptr);
    EXPECT_EQ(error, "font family 'Kovran No Such Face' is not installed");
    error.clear();
    // The family exists, the style does not: fontconfig offers another style.
    EXPECT_EQ(fonts.openFamily("Liberation Sans", "Kovran Hairline", error), nullptr);
    EXPECT_EQ(error, "font family 'Liberation Sans' has no style 'Kovran Hairline'");
    error.clear();
    EXPECT_EQ(fonts.openFile("/nonexistent/kovran.ttf", error), nullptr);
    EXPECT_EQ(error, "cannot open font file /nonexistent/kovran.ttf");
}

TEST(FontFace, OneFacePerFileHoweverItIsReached) {
    FontLibrary fonts;
    std::string error;
    const FontFace* byFamily = fonts.openFamily("liberation sans", "bold", error);
    ASSERT_NE(byFamily, nullptr) << error;
    EXPECT_EQ(byFamily->family(), "Liberation Sans");
    EXPECT_EQ(fonts.openPattern("Liberation Sans:style=Bold", error), byFamily);
    EXPECT_EQ(fonts.openFile(byFamily->path(), error), byFamily);
    EXPECT_NE(fonts.openFamily("Liberation Sans", "Regular", error), byFamily);
}

// Liberation Sans keeps Arial's advances: digits are 1139/2048 em wide.
TEST(FontFace, RenderingFollowsTheOutline) {
    FontLibrary fonts;
    std::string error;
    const FontFace* face = fonts.openFamily("Liberation Sans", "Regular", error);
    ASSERT_NE(face, nullptr) << error;
    ASSERT_TRUE(face->hasChar(U'8'));
    EXPECT_FALSE(face->hasChar(U'\U0001F600'));

    const auto g = face->render(U'8', 200, 200);
    ASSERT_TRUE(g);
    EXPECT_NEAR(g->advance, 200.0 * 1139 / 2048, 0.01);
    const FontFace::Box box = face->box(U'8');
    EXPECT_NEAR(g->left, box.xMin * 200, 1.0);
    EXPECT_NEAR(g->top, box.yMax * 200, 1.0);
    EXPECT_NEAR(g->width, (box.xMax - box.xMin) * 200, 2.0);
    EXPECT_NEAR(g->height, (box.yMax - box.yMin) * 200, 2.0);
    EXPECT_EQ(*std::max_element(g->values.begin(), g->values.end()), 255);
    // Anti-aliased edges lie between paper and full ink.
    EXPECT_TRUE(std::any_of(g->values.begin(), g->values.end(),
                            [](std::uint8_t v) { return v > 0 && v < 255; }));

    const auto wide = face->render(U'8', 400, 200);
    ASSERT_TRUE(wide);
    EXPECT_NEAR(wide->width, 2.0 * g->width, 2.0);
    EXPECT_EQ(wide->height, g->height);
    EXPECT_NEAR(wide->advance, 2.0 * g->advance, 0.02);

    const auto bold = face->render(U'8', 200, 200, 4 * 64);
    ASSERT_TRUE(bold);
    EXPECT_GT(inkSum(*bold), inkSum(*g) * 11 / 10);
    const auto hinted = face->render(U'8', 48, 48, 0, Hinting::on);
    ASSERT_TRUE(hinted);
    EXPECT_GT(inkSum(*hinted), 0);

    const auto space = face->render(U' ', 200, 200);
    ASSERT_TRUE(space);
    EXPECT_EQ(space->width * space->height, 0);
    EXPECT_NEAR(space->advance, 200.0 * 569 / 2048, 0.01);
}

}  // namespace
}  // namespace kovran::platform
