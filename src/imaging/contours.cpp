#include "imaging/contours.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "api/log.h"

namespace kovran::imaging {

namespace {

// The blur and the join lines are given at full resolution; a reduced
// image gets them scaled down.
constexpr int kBlurSize = 15;
constexpr double kBlurSigma = 2.6;  // OpenCV's own choice for 15 pixels
constexpr int kSearchDpi = 150;
// Otsu's choice is kept inside these bounds: the background of the sensor
// is darker than 100 and paper lighter than 120 on every model.
constexpr double kLowestOtsu = 100.0;
constexpr double kHighestOtsu = 120.0;
// Below this the light regions are the background's noise, not paper.
constexpr double kLastThreshold = 41.0;
constexpr double kMinPieceArea = 5000.0;
constexpr std::size_t kCandidates = 4;
constexpr int kJoinRounds = 4;
constexpr int kJoinWidth = 8;
constexpr double kMicroperforationArea = 1600000.0;
constexpr double kMinSquareInches = 7.0;

struct Piece {
    std::vector<cv::Point> points;
    double area = 0.0;
};

// Areas in full-resolution pixels.
std::vector<Piece> LargestPieces(const cv::Mat& binary, int factor) {
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(binary, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    std::vector<Piece> pieces;
    for (auto& contour : contours) {
        if (contour.size() <= 3) continue;
        const double area = cv::contourArea(contour) * factor * factor;
        if (area > kMinPieceArea) pieces.push_back({std::move(contour), area});
    }
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.area > b.area; });
    if (pieces.size() > kCandidates) pieces.resize(kCandidates);
    return pieces;
}

// Width along the sensor and height along the paper path of the rectangle.
void UprightSize(const cv::RotatedRect& rect, double* width, double* height) {
    cv::Point2f corners[4];
    rect.points(corners);
    const cv::Point2f e1 = corners[1] - corners[0];
    const cv::Point2f e2 = corners[2] - corners[1];
    const double l1 = std::hypot(e1.x, e1.y);
    const double l2 = std::hypot(e2.x, e2.y);
    const bool firstLying = std::abs(e1.x) >= std::abs(e1.y);
    *width = firstLying ? l1 : l2;
    *height = firstLying ? l2 : l1;
}

enum class Verdict { Accept, Reject };

Verdict CheckSize(const cv::RotatedRect& rect, const cv::Rect& box, const cv::Size& image, int dpi,
                  double threshold) {
    double width = 0.0;
    double height = 0.0;
    UprightSize(rect, &width, &height);
    width = width * 300.0 / dpi;
    height = height * 300.0 / dpi;
    const bool touchesLeftRight = box.x <= 0 && box.x + box.width >= image.width;
    const bool touchesTopBottom = box.y <= 0 && box.y + box.height >= image.height;
    // Light from border to border on both axes is no paper edge at all (an
    // empty or overexposed strip): never a document.
    if (touchesLeftRight && touchesTopBottom) return Verdict::Reject;
    const bool touches = box.x <= 0 || box.y <= 0 || box.x + box.width >= image.width ||
                         box.y + box.height >= image.height;
    if (image.width > 630 && height <= 590 && touches)
        return threshold < 60 ? Verdict::Accept : Verdict::Reject;
    if (image.height > 1000 && width < 950 && height < 950) return Verdict::Reject;
    if (width > 2000 && height < 810 && threshold > 60) return Verdict::Accept;
    return Verdict::Accept;
}

double LowerThreshold(double threshold) {
    return threshold - (threshold < 51 ? 5 : 10);
}

// A reduced pixel's centre is the centre of the block of full pixels it
// stands for. Sizes scale as they are: a border block that is partly paper
// reads as paper or not by the same threshold as a full pixel would, and
// over a sweep of angles and positions the rectangle found so matches the
// one of a full-resolution search to a pixel.
cv::RotatedRect ToFull(const cv::RotatedRect& r, int factor) {
    const float k = static_cast<float>(factor);
    const float half = (k - 1.0f) / 2.0f;
    return cv::RotatedRect(cv::Point2f(r.center.x * k + half, r.center.y * k + half),
                           cv::Size2f(r.size.width * k, r.size.height * k), r.angle);
}

cv::Rect ToFull(const cv::Rect& r, int factor) {
    return cv::Rect(r.x * factor, r.y * factor, r.width * factor, r.height * factor);
}

}  // namespace

SearchImage ReduceForSearch(const cv::Mat& grey, int dpi) {
    SearchImage image;
    image.dpi = dpi;
    const int factor = std::max(1, dpi / kSearchDpi);
    const cv::Size size(grey.cols / factor, grey.rows / factor);
    if (factor == 1 || size.width < 1 || size.height < 1) {
        image.reduced = grey;
        return image;
    }
    // Whole blocks only (the last odd column or line goes): each reduced
    // pixel is the mean of its own block.
    cv::resize(grey(cv::Rect(0, 0, size.width * factor, size.height * factor)), image.reduced, size,
               0, 0, cv::INTER_AREA);
    image.factor = factor;
    return image;
}

std::optional<cv::RotatedRect> findImgContours(const cv::Mat& grey, int dpi,
                                               const ContourSearch& search) {
    return FindDocument(ReduceForSearch(grey, dpi), search);
}

std::optional<cv::RotatedRect> FindDocument(const SearchImage& image, const ContourSearch& search) {
    LogText("findImgContours start");
    const cv::Mat& grey = image.reduced;
    const int dpi = image.dpi;
    const int factor = image.factor;
    if (grey.empty() || dpi <= 0 || factor < 1) return std::nullopt;
    const cv::Size fullSize(grey.cols * factor, grey.rows * factor);
    cv::Mat blurred;
    if (factor == 1) {
        cv::GaussianBlur(grey, blurred, cv::Size(kBlurSize, kBlurSize), 0);
    } else {
        const int size = std::max(3, (kBlurSize / factor) | 1);
        cv::GaussianBlur(grey, blurred, cv::Size(size, size), kBlurSigma / factor);
    }
    const int joinWidth = std::max(1, kJoinWidth / factor);
    cv::Mat binary;
    double threshold = cv::threshold(blurred, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    if (threshold < kLowestOtsu || threshold > kHighestOtsu) {
        threshold = std::clamp(threshold, kLowestOtsu, kHighestOtsu);
        cv::threshold(blurred, binary, threshold, 255, cv::THRESH_BINARY);
    }
    double minArea = 0.0;
    if (search.microperforation)
        minArea = kMicroperforationArea;
    else if (!search.firstPart)
        minArea = static_cast<double>(dpi) * dpi * kMinSquareInches;

    for (;;) {
        std::optional<cv::RotatedRect> found;
        for (int round = 0; round <= kJoinRounds; ++round) {
            const std::vector<Piece> pieces = LargestPieces(binary, factor);
            if (pieces.empty() || pieces.front().area < minArea) break;
            const cv::RotatedRect rect = cv::minAreaRect(pieces.front().points);
            if (pieces.size() > 1 && round < kJoinRounds) {
                // Pieces of one document split by a dark picture or a fold:
                // joined, the next search sees them as one outline.
                for (std::size_t i = 1; i < pieces.size(); ++i) {
                    const cv::RotatedRect other = cv::minAreaRect(pieces[i].points);
                    cv::line(binary, rect.center, other.center, cv::Scalar(255), joinWidth);
                }
                continue;
            }
            const cv::RotatedRect full = ToFull(rect, factor);
            if (CheckSize(full, ToFull(cv::boundingRect(pieces.front().points), factor), fullSize,
                          dpi, threshold) == Verdict::Accept)
                found = full;
            break;
        }
        if (found) return found;
        if (threshold < kLastThreshold) return std::nullopt;
        threshold = LowerThreshold(threshold);
        cv::threshold(blurred, binary, threshold, 255, cv::THRESH_BINARY);
    }
}

}  // namespace kovran::imaging
