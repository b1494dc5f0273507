// Finding a DataMatrix candidate in a zone (a blurred, binarised and
// morphologically merged blob) and straightening it into an upright image.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace kovran::decoders::datamatrix {

struct CandidateSearch {
    std::optional<std::vector<cv::Point>> candidate;
    int otsuThreshold = 0;  // the threshold Otsu's method chose (t = 0 only)
};

// Searches the grey zone at threshold t (0: Otsu's method).
CandidateSearch SearchCandidate(const cv::Mat& zone, int threshold, int resolution, int typeDoc);

enum class Target { AsFound, Square };

using Corners = std::array<cv::Point2f, 4>;

// The candidate straightened by an affine transform of its enclosing
// rotated rectangle; nullopt when the rectangle is too small or has the
// corners of `previous` (updated with this candidate's corners).
std::optional<cv::Mat> Straighten(const cv::Mat& zone, const std::vector<cv::Point>& contour,
                                  int resolution, Target target, std::optional<Corners>* previous);

}  // namespace kovran::decoders::datamatrix
