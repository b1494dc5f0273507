// Scanned sides drawn for the deskew tests and benchmark: a light document
// with dark marks on the sensor's dark background, turned by a known angle,
// laid into an image record as the acquisition leaves it.
#pragma once

#include <cmath>
#include <cstring>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "acquisition/image_record.h"

namespace kovran::testing_side {

struct SideSpec {
    int stripWidth = 2688;
    int stripHeight = 1100;
    int docWidth = 1800;
    int docHeight = 850;
    double angleDeg = 0.0;  // the top edge's slope, image y downward
    cv::Point2d centre{1344, 550};
    std::uint8_t background = 30;
    std::uint8_t paper = 225;
    // A dark band across the whole document height (a photograph).
    int bandFrom = 0;
    int bandTo = 0;
    int dpiH = 300;
    int dpiV = 300;
};

// Where a point of the document (x from its left, y from its top) lands.
inline cv::Point2d DocPoint(const SideSpec& s, double x, double y) {
    const double a = s.angleDeg * CV_PI / 180.0;
    const double dx = x - s.docWidth / 2.0;
    const double dy = y - s.docHeight / 2.0;
    return {s.centre.x + dx * std::cos(a) - dy * std::sin(a),
            s.centre.y + dx * std::sin(a) + dy * std::cos(a)};
}

inline void FillDocQuad(cv::Mat& image, const SideSpec& s, double x0, double y0, double x1,
                        double y1, std::uint8_t value) {
    std::vector<cv::Point> quad;
    for (auto [x, y] : {std::pair{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}) {
        const cv::Point2d p = DocPoint(s, x, y);
        quad.emplace_back(static_cast<int>(std::lround(p.x * 16)),
                          static_cast<int>(std::lround(p.y * 16)));
    }
    cv::fillConvexPoly(image, quad, cv::Scalar(value), cv::LINE_AA, 4);
}

// The side in square pixels (before any vertical sampling).
inline cv::Mat DrawSide(const SideSpec& s) {
    cv::Mat image(s.stripHeight, s.stripWidth, CV_8UC1, cv::Scalar(s.background));
    FillDocQuad(image, s, 0, 0, s.docWidth, s.docHeight, s.paper);
    // Text-like lines of marks, and a solid square near the top-left corner
    // by which the tests find the document's orientation.
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 30; ++col) {
            const double x = 300 + col * 45.0;
            const double y = 250 + row * 70.0;
            if (x + 30 < s.docWidth - 40 && y + 25 < s.docHeight - 40)
                FillDocQuad(image, s, x, y, x + 30, y + 25, 40);
        }
    FillDocQuad(image, s, 80, 80, 160, 160, 0);
    if (s.bandTo > s.bandFrom) FillDocQuad(image, s, s.bandFrom, 0, s.bandTo, s.docHeight, 10);
    return image;
}

// A record holding the image (channels copies of it) below `top` spare
// lines and right of `left` spare pixels, as the acquisition leaves a side.
inline ImageRecord RecordOf(const cv::Mat& image, int dpiH, int dpiV, int channels = 1, int top = 7,
                            int left = 24) {
    ImageRecord r;
    r.side = 1;
    r.channels = static_cast<std::uint8_t>(channels);
    r.bytesPerPixel = channels >= 3 ? 3 : 1;
    r.top = r.top0 = static_cast<std::int16_t>(top);
    r.left = r.left0 = static_cast<std::int16_t>(left);
    r.width = r.width0 = static_cast<std::uint16_t>(image.cols);
    r.Height = static_cast<std::uint16_t>(image.rows);
    r.height0 = static_cast<std::uint16_t>(image.rows + top);
    r.channelPitch = static_cast<std::uint16_t>(left + image.cols + 40);
    r.stride = static_cast<std::uint16_t>(r.channelPitch * channels);
    r.dpiH = static_cast<std::uint16_t>(dpiH);
    r.dpiV = static_cast<std::uint16_t>(dpiV);
    const std::size_t bytes = static_cast<std::size_t>(top + image.rows + 16) * r.stride;
    r.alloc = ImageMemory::Allocate(bytes);
    r.data = r.write = r.alloc->Bytes();
    r.size = r.allocSize = static_cast<std::int32_t>(bytes);
    r.enabled = r.processed = true;
    for (int y = 0; y < image.rows; ++y)
        for (int c = 0; c < channels; ++c)
            std::memcpy(r.data + static_cast<std::size_t>(top + y) * r.stride +
                            static_cast<std::size_t>(c) * r.channelPitch + left,
                        image.ptr(y), static_cast<std::size_t>(image.cols));
    return r;
}

inline ImageRecord SideRecord(const SideSpec& s, int channels = 1) {
    cv::Mat image = DrawSide(s);
    if (s.dpiV != s.dpiH)
        cv::resize(image, image, cv::Size(image.cols, image.rows * s.dpiV / s.dpiH), 0, 0,
                   cv::INTER_AREA);
    return RecordOf(image, s.dpiH, s.dpiV, channels);
}

// Channel c of the record's image as a matrix header.
inline cv::Mat Plane(const ImageRecord& r, int c = 0) {
    return cv::Mat(r.Height, r.width, CV_8UC1,
                   r.data + static_cast<std::size_t>(r.top) * r.stride +
                       static_cast<std::size_t>(c) * r.channelPitch + r.left,
                   r.stride);
}

}  // namespace kovran::testing_side
