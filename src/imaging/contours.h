// The search for the document's outline in a grey side: the paper is light
// on the scanner's dark background, so the largest light region (its pieces
// joined when a dark picture splits it) is the document.
#pragma once

#include <optional>

#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>

namespace kovran::imaging {

// What the size test of the search must allow for.
struct ContourSearch {
    // A microperforation zone is read: the document must be large.
    bool microperforation = false;
    // The first part of a two-part scan holds only the start of the document.
    bool firstPart = false;
};

// A grey side (8-bit, one channel, square pixels) made ready for the
// search: reduced by a whole factor to about 150 dpi. An outline found to
// a pixel there is found to two at 300 dpi, within the spare the crop
// leaves anyway, and the blur, the thresholds and the contour walk cost a
// quarter of their work at full resolution.
struct SearchImage {
    cv::Mat reduced;
    int factor = 1;  // full-resolution pixels per reduced pixel, each way
    int dpi = 0;     // of the full-resolution side
};
SearchImage ReduceForSearch(const cv::Mat& grey, int dpi);

// The document's rectangle in a side made ready for the search, in the
// full-resolution side's coordinates, or none. Throws only what OpenCV
// throws (cv::Exception, std::bad_alloc).
std::optional<cv::RotatedRect> FindDocument(const SearchImage& image, const ContourSearch& search);

// The same for a grey side as it is (8-bit, one channel, square pixels at
// dpi).
std::optional<cv::RotatedRect> findImgContours(const cv::Mat& grey, int dpi,
                                               const ContourSearch& search);

}  // namespace kovran::imaging
