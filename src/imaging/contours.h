// The search for the document's outline in a grey side: the paper is light
// on the scanner's dark background, so the largest light region (its pieces
// joined when a dark picture splits it) is the document.
#pragma once

#include <memory>
#include <optional>

#include <opencv2/core/types.hpp>

#include "imaging/work_image.h"

namespace kovran::imaging {

// What the size test of the search must allow for.
struct ContourSearch {
    // A microperforation zone is read: the document must be large.
    bool microperforation = false;
    // The first part of a two-part scan holds only the start of the document.
    bool firstPart = false;
};

// The search's working images and the tracer's memory, kept between
// searches (one user at a time).
class ContourWorkspace {
  public:
    ContourWorkspace();
    ~ContourWorkspace();
    ContourWorkspace(const ContourWorkspace&) = delete;
    ContourWorkspace& operator=(const ContourWorkspace&) = delete;
    void Release();

    WorkImage blurred;
    WorkImage binary;  // framed: the tracer needs a 0 border
    WorkImage traced;  // the tracer's copy, which it overwrites
    struct Storage;
    std::unique_ptr<Storage> storage;
};

// The document's rectangle in the grey image (8-bit, one channel, square
// pixels at dpi), or none. Throws only what OpenCV throws (cv::Exception,
// std::bad_alloc).
std::optional<cv::RotatedRect> findImgContours(const cv::Mat& grey, int dpi,
                                               const ContourSearch& search,
                                               ContourWorkspace& workspace);
std::optional<cv::RotatedRect> findImgContours(const cv::Mat& grey, int dpi,
                                               const ContourSearch& search);

}  // namespace kovran::imaging
