#include "imaging/work_image.h"

#include <cstddef>
#include <limits>
#include <new>

namespace kovran::imaging {

cv::Mat WorkImage::Shape(int rows, int cols) {
    const std::size_t bytes = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    if (rows <= 0 || cols <= 0 || bytes > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw std::bad_alloc();
    if (memory_.empty() || memory_.total() < bytes)
        memory_.create(1, static_cast<int>(bytes), CV_8UC1);
    framed_ = cv::Mat();
    return cv::Mat(rows, cols, CV_8UC1, memory_.data);
}

cv::Mat WorkImage::ShapeFramed(int rows, int cols) {
    cv::Mat whole = Shape(rows + 2, cols + 2);
    whole.row(0).setTo(0);
    whole.row(rows + 1).setTo(0);
    whole.col(0).setTo(0);
    whole.col(cols + 1).setTo(0);
    framed_ = whole;
    return whole(cv::Rect(1, 1, cols, rows));
}

void WorkImage::Release() {
    framed_ = cv::Mat();
    memory_.release();
}

}  // namespace kovran::imaging
