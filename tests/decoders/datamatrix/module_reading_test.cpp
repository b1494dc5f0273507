// The pieces of the module reading that the corpus reaches only as a
// whole: the level list, the L of the finder and the module size.
#include <dmtx.h>
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "decoders/datamatrix/module_reading.h"
#include "imaging/mat_adapter.h"
#include "symbol_images.h"

namespace kovran::decoders::datamatrix {
namespace {

TEST(DataMatrixModuleReading, BinarisationLevels) {
    EXPECT_EQ(BinarisationLevels(100),
              (std::vector<int>{50, 50, 40, 30, 20, 10, 50, 60, 70, 80, 90, 100, 50, 45, 40,
                                35, 30, 25, 20, 15, 10, 5,  50, 55, 60, 65, 70,  75, 80}));
    // A low threshold: the runs stop at 5 and at t, and the list may end short.
    EXPECT_EQ(BinarisationLevels(12),
              (std::vector<int>{6, 6, 6, 6, 6, 11, 6, 6, 9, 12, 6, 5, 6, 7, 8, 9, 10, 11, 12}));
}

// A clean 12 x 12 symbol drawn at 6 pixels a module, with a quiet zone.
cv::Mat CleanSymbol(int quiet) {
    const auto grid = test::EncodeWithDmtx("HELLO", DmtxSymbol12x12);
    EXPECT_TRUE(grid);
    const imaging::ImageBuffer image = test::Render(
        *grid, {.moduleSize = 6, .quietModules = quiet, .margin = 0, .ink = 0, .paper = 255});
    return imaging::ToMat(image.View()).clone();
}

TEST(DataMatrixModuleReading, FinderAndModuleSize) {
    const cv::Mat symbol = CleanSymbol(2);
    const auto corners = FindDataMatrix(symbol, 0, 300, 0);
    ASSERT_TRUE(corners);
    // Top of the left border, the L's corner, the end of the bottom border.
    EXPECT_EQ((*corners)[0], cv::Point2f(12, 12));
    EXPECT_EQ((*corners)[1], cv::Point2f(12, 83));
    EXPECT_EQ((*corners)[2], cv::Point2f(83, 83));
    EXPECT_EQ((*corners)[3], cv::Point2f(83, 12));

    const cv::Mat cropped = symbol(cv::Rect(12, 12, 72, 72));
    const auto size = FindPixelSize(cropped);
    ASSERT_TRUE(size);
    EXPECT_DOUBLE_EQ(size->width, 6.0);
    EXPECT_DOUBLE_EQ(size->height, 6.0);
    // Too small a side, and an image with no clock pattern.
    EXPECT_FALSE(FindPixelSize(cropped(cv::Rect(0, 0, 9, 40))));
    EXPECT_FALSE(FindPixelSize(cv::Mat(40, 40, CV_8UC1, cv::Scalar(255))));
    // Below R x 32 / 300 pixels nothing is looked for.
    EXPECT_FALSE(FindDataMatrix(symbol(cv::Rect(0, 0, 63, 96)), 0, 600, 0));
    // No L on a blank image.
    EXPECT_FALSE(FindDataMatrix(cv::Mat(96, 96, CV_8UC1, cv::Scalar(255)), 0, 300, 0));
}

}  // namespace
}  // namespace kovran::decoders::datamatrix
