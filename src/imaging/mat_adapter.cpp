#include "imaging/mat_adapter.h"

#include <stdexcept>

namespace kovran::imaging {

namespace {

void CheckMat(const cv::Mat& mat) {
    if (mat.empty()) return;
    if (mat.dims != 2 || mat.depth() != CV_8U || mat.channels() > kMaxChannels)
        throw std::invalid_argument("only 2-D 8-bit matrices of 1 to 4 channels are image views");
}

}  // namespace

cv::Mat ToMat(ImageView view) {
    if (view.Empty()) return {};
    return cv::Mat(view.Height(), view.Width(), CV_8UC(view.Channels()), view.Data(),
                   static_cast<std::size_t>(view.Stride()));
}

cv::Mat ToMat(ConstImageView view) {
    if (view.Empty()) return {};
    // cv::Mat has no read-only header; the const view's promise moves to the caller.
    return cv::Mat(view.Height(), view.Width(), CV_8UC(view.Channels()),
                   const_cast<std::uint8_t*>(view.Data()), static_cast<std::size_t>(view.Stride()));
}

ImageView ToView(cv::Mat& mat, Resolution resolution) {
    CheckMat(mat);
    if (mat.empty()) return {};
    return {mat.ptr<std::uint8_t>(), mat.cols,  mat.rows, static_cast<std::ptrdiff_t>(mat.step[0]),
            mat.channels(),          resolution};
}

ConstImageView ToView(const cv::Mat& mat, Resolution resolution) {
    CheckMat(mat);
    if (mat.empty()) return {};
    return {mat.ptr<std::uint8_t>(), mat.cols,  mat.rows, static_cast<std::ptrdiff_t>(mat.step[0]),
            mat.channels(),          resolution};
}

}  // namespace kovran::imaging
