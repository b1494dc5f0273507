// OpenCV's cv::Mat seen as an image view and back, without copying pixels:
// image operations can use OpenCV while the rest of the library passes
// imaging::ImageView. Only 8-bit matrices of 1 to kMaxChannels channels map.
#pragma once

#include <opencv2/core/mat.hpp>

#include "imaging/image_view.h"

namespace kovran::imaging {

// A matrix header over the view's pixels (no copy): it lives no longer than
// the memory behind the view. A view of constant pixels gives a matrix that
// must not be written.
cv::Mat ToMat(ImageView view);
cv::Mat ToMat(ConstImageView view);

// The matrix's pixels as a view (no copy); throws std::invalid_argument for
// a matrix that is not 2-D 8-bit with 1 to kMaxChannels channels. The
// matrix carries no resolution, so the caller gives it.
ImageView ToView(cv::Mat& mat, Resolution resolution = {});
ConstImageView ToView(const cv::Mat& mat, Resolution resolution = {});

}  // namespace kovran::imaging
