#include "decoders/datamatrix/symbol_search.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "decoders/datamatrix/document_context.h"

namespace kovran::decoders::datamatrix {

namespace {

constexpr int kKeptContours = 4;
// OpenCV's warps take images below 32767 pixels each way.
constexpr int kMaxWarpSide = 32767;

// A blob with more than one point in an image corner is the document's own
// edge (dark background of the scanner), not a symbol.
bool TouchesCorner(const std::vector<cv::Point>& contour, cv::Size size) {
    int inCorner = 0;
    for (const cv::Point& p : contour) {
        const bool atSide = p.x <= 1 || p.x >= size.width - 2;
        const bool atEnd = p.y <= 1 || p.y >= size.height - 2;
        if (atSide && atEnd) ++inCorner;
    }
    return inCorner > 1;
}

}  // namespace

CandidateSearch SearchCandidate(const cv::Mat& zone, int threshold, int resolution, int typeDoc) {
    CandidateSearch search;
    cv::Mat work;
    cv::GaussianBlur(zone, work, cv::Size(15, 15), 0);
    if (threshold == 0) {
        search.otsuThreshold = static_cast<int>(
            cv::threshold(work, work, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU));
    } else {
        cv::threshold(work, work, threshold, 255, cv::THRESH_BINARY_INV);
    }
    cv::erode(work, work, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(7, 7)));
    cv::dilate(work, work, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(15, 15)));

    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(work, contours, hierarchy, cv::RETR_TREE, cv::CHAIN_APPROX_SIMPLE);

    const double cornerArea = resolution * 25600.0 / 300;
    const double leastArea = resolution * 4096.0 / 300;
    bool skipped = false;
    std::vector<std::pair<double, std::size_t>> ranked;
    for (std::size_t i = 0; i < contours.size(); ++i) {
        const double area = cv::contourArea(contours[i]);
        if (IsCornerDocumentType(typeDoc) && area > cornerArea &&
            TouchesCorner(contours[i], work.size())) {
            skipped = true;
            continue;
        }
        if (area > leastArea) ranked.emplace_back(area, i);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    if (ranked.size() > kKeptContours) ranked.resize(kKeptContours);
    if (ranked.empty()) return search;
    std::size_t chosen = ranked[0].second;
    if (skipped && ranked.size() > 1 && contours.size() > 1 && cv::contourArea(contours[1]) > 9)
        chosen = ranked[1].second;
    search.candidate = std::move(contours[chosen]);
    return search;
}

std::optional<cv::Mat> Straighten(const cv::Mat& zone, const std::vector<cv::Point>& contour,
                                  int resolution, Target target, std::optional<Corners>* previous) {
    const cv::RotatedRect rect = cv::minAreaRect(contour);
    Corners points;
    rect.points(points.data());
    if (*previous && **previous == points) return std::nullopt;
    *previous = points;
    if (static_cast<int>(rect.size.width) < 16 || static_cast<int>(rect.size.height) < 16)
        return std::nullopt;

    // Top-left: the left of the two highest; top-right: the highest of the
    // rest; bottom-right: the rightmost of the rest among the two lowest.
    std::vector<cv::Point2f> rest(points.begin(), points.end());
    std::stable_sort(rest.begin(), rest.end(), [](auto a, auto b) { return a.y < b.y; });
    const cv::Point2f topLeft = rest[0].x <= rest[1].x ? rest[0] : rest[1];
    rest.erase(std::find(rest.begin(), rest.end(), topLeft));
    const cv::Point2f topRight = rest[0];
    rest.erase(rest.begin());
    const cv::Point2f bottomRight = rest[0].x >= rest[1].x ? rest[0] : rest[1];
    const cv::Point2f bottomLeft = rest[0].x >= rest[1].x ? rest[1] : rest[0];

    // The sides that run from top-left to top-right and on to bottom-right.
    float width = std::hypot(topRight.x - topLeft.x, topRight.y - topLeft.y);
    float height = std::hypot(bottomRight.x - topRight.x, bottomRight.y - topRight.y);

    std::array<cv::Point2f, 3> source{topLeft, topRight, bottomRight};
    const float m = static_cast<float>(resolution * 4 / 300);
    const auto inside = [&](cv::Point2f p) {
        return p.x > m && p.y > m && p.x < zone.cols - 1 - m && p.y < zone.rows - 1 - m;
    };
    if (inside(topLeft) && inside(topRight) && inside(bottomRight) && inside(bottomLeft)) {
        // A quiet margin around the symbol keeps its border whole after the
        // transform. The corners move outward along the rectangle's own
        // sides: moved along the zone's axes instead, a turned rectangle
        // (a long symbol standing on its short side) comes out sheared.
        const cv::Point2f across = (topRight - topLeft) * (m / std::max(width, 1.0f));
        const cv::Point2f down = (bottomRight - topRight) * (m / std::max(height, 1.0f));
        source = {topLeft - across - down, topRight + across - down, bottomRight + across + down};
        width += 4 * m;
        height += 4 * m;
    }
    if (target == Target::Square) {
        width = height = std::min(width, height);
        if (width < 10) return std::nullopt;
    }
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    if (w < 1 || h < 1 || w >= kMaxWarpSide || h >= kMaxWarpSide) return std::nullopt;
    // Only the part of the zone under the rectangle takes part, so that a
    // long zone stays within what the warp accepts.
    const cv::Point2f fourth = source[0] + source[2] - source[1];
    const std::vector<cv::Point2f> all{source[0], source[1], source[2], fourth};
    const cv::Rect area = (cv::boundingRect(all) + cv::Size(8, 8) - cv::Point(4, 4)) &
                          cv::Rect(0, 0, zone.cols, zone.rows);
    if (area.empty() || area.width >= kMaxWarpSide || area.height >= kMaxWarpSide)
        return std::nullopt;
    for (cv::Point2f& p : source) p -= cv::Point2f(area.tl());
    const cv::Point2f destination[3] = {{0, 0}, {width, 0}, {width, height}};
    cv::Mat straight;
    cv::warpAffine(zone(area), straight, cv::getAffineTransform(source.data(), destination),
                   cv::Size(w, h), cv::INTER_CUBIC, cv::BORDER_CONSTANT, cv::Scalar(255));
    return straight;
}

}  // namespace kovran::decoders::datamatrix
