// The search for the document's outline in a grey side: the paper is light
// on the scanner's dark background, so the largest light region (its pieces
// joined when a dark picture splits it) is the document.
#pragma once

#include <optional>

#include <opencv2/core/types.hpp>

namespace kovran::imaging {

// What the size test of the search must allow for.
struct ContourSearch {
    // A microperforation zone is read: the document must be large.
    bool microperforation = false;
    // The first part of a two-part scan holds only the start of the document.
    bool firstPart = false;
};

// The document's rectangle in the grey image (8-bit, one channel, square
// pixels at dpi), or none. Throws only what OpenCV throws (cv::Exception,
// std::bad_alloc).
std::optional<cv::RotatedRect> findImgContours(const cv::Mat& grey, int dpi,
                                               const ContourSearch& search);

}  // namespace kovran::imaging
