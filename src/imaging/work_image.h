// Memory for one working image of the deskew, kept at the largest size it
// was asked for, so that the next document's image of the same role lands
// in pages already mapped instead of a fresh multi-megabyte allocation.
#pragma once

#include <opencv2/core/mat.hpp>

namespace kovran::imaging {

class WorkImage {
  public:
    // A rows x cols 8-bit one-channel image in the kept memory, grown when
    // too small. Its pixels are whatever the last use left. Valid until the
    // next Shape() or Release().
    cv::Mat Shape(int rows, int cols);
    // The same with a frame of one 0 pixel around it: the image is the
    // inside, Framed() the whole (what the contour tracer wants).
    cv::Mat ShapeFramed(int rows, int cols);
    cv::Mat Framed() const { return framed_; }
    void Release();

  private:
    cv::Mat memory_;  // one row of bytes
    cv::Mat framed_;
};

}  // namespace kovran::imaging
