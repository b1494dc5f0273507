#include "imaging/stretch.h"

#include <cmath>
#include <cstring>
#include <new>

#include <opencv2/imgproc.hpp>

#include "api/log.h"
#include "imaging/mat_adapter.h"
#include "imaging/record_planes.h"

namespace kovran::imaging {

namespace {

constexpr int kFewestLines = 10;
constexpr double kLevel = 0.001;  // radians: no rotation below this

bool Fail(std::string* message, const char* text) {
    if (message != nullptr) *message = text;
    return false;
}

}  // namespace

bool KVXFixVRes(ImageRecord* record, double factor, int spareLines) {
    if (record == nullptr) {
        LogPair("err - ", "KVXFixVRes - invalid pointer");
        return false;
    }
    if (record->Height < kFewestLines || !RecordUsable(*record) || !(factor > 0.0)) return true;
    const long lines = std::lround(record->Height * factor);
    if (lines > spareLines || lines > 65535 || lines < 1) return true;
    const std::size_t end = (static_cast<std::size_t>(record->top) + lines - 1) * record->stride +
                            (record->channels - 1u) * record->channelPitch + record->left +
                            record->width;
    if (end > RecordCapacity(*record)) return true;
    try {
        cv::Mat stretched;
        for (int c = 0; c < record->channels; ++c) {
            cv::resize(ChannelPlane(*record, c), stretched,
                       cv::Size(record->width, static_cast<int>(lines)), 0, 0, cv::INTER_LINEAR);
            std::uint8_t* first = record->data +
                                  static_cast<std::size_t>(record->top) * record->stride +
                                  static_cast<std::size_t>(c) * record->channelPitch + record->left;
            for (int y = 0; y < stretched.rows; ++y)
                std::memcpy(first + static_cast<std::size_t>(y) * record->stride, stretched.ptr(y),
                            record->width);
        }
    } catch (const std::bad_alloc&) {
        LogPair("err - ", "KVXFixVRes - allocating image buffer");
        return false;
    } catch (const cv::Exception&) {
        LogPair("err - ", "KVXFixVRes - allocating image buffer");
        return false;
    }
    record->Height = static_cast<std::uint16_t>(lines);
    record->height0 = static_cast<std::uint16_t>(lines + record->top);
    return true;
}

bool Stretch(ConstImageView input, ImageBuffer* output, const StretchFactors& factors, double angle,
             int colours, std::string* message) {
    if (factors.numH <= 0 || factors.denH <= 0 || factors.numV <= 0 || factors.denV <= 0)
        return Fail(message, "null or negative strech factors");
    if (colours == 0) return Fail(message, "null nColRGB in Stretch");
    if (output == nullptr || input.Empty() || colours != input.Channels())
        return Fail(message, "strech with invalid memory allocation");
    const bool exchanged = std::abs(angle) > CV_PI / 4;
    const long long across = exchanged ? input.Height() : input.Width();
    const long long down = exchanged ? input.Width() : input.Height();
    const long long width = across * factors.numH / factors.denH;
    const long long height = down * factors.numV / factors.denV;
    if (width < 1 || height < 1 || width > 65535 || height > 65535)
        return Fail(message, "strech with invalid memory allocation");
    try {
        ImageBuffer out(static_cast<int>(width), static_cast<int>(height), colours, 255,
                        input.Res());
        const cv::Mat in = ToMat(input);
        cv::Mat target = ToMat(out.View());
        const bool level = std::abs(angle) < kLevel;
        if (level && factors.denH % factors.numH == 0 && factors.denV % factors.numV == 0) {
            // Whole-number reductions average blocks of pixels: the strokes
            // of small print survive.
            cv::resize(in, target, target.size(), 0, 0, cv::INTER_AREA);
        } else {
            const double sx = static_cast<double>(factors.numH) / factors.denH;
            const double sy = static_cast<double>(factors.numV) / factors.denV;
            const double c = std::cos(angle);
            const double s = std::sin(angle);
            const double ox = (width - 1) / 2.0;
            const double oy = (height - 1) / 2.0;
            const double ix = (input.Width() - 1) / 2.0;
            const double iy = (input.Height() - 1) / 2.0;
            // Output pixel to input pixel: unscale, then turn back.
            cv::Mat back = (cv::Mat_<double>(2, 3) << c / sx, -s / sy, 0, s / sx, c / sy, 0);
            back.at<double>(0, 2) = ix - (c / sx * ox - s / sy * oy);
            back.at<double>(1, 2) = iy - (s / sx * ox + c / sy * oy);
            cv::warpAffine(in, target, back, target.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                           cv::BORDER_CONSTANT, cv::Scalar::all(255));
        }
        *output = std::move(out);
    } catch (const std::bad_alloc&) {
        return Fail(message, "strech with invalid memory allocation");
    } catch (const cv::Exception&) {
        return Fail(message, "strech with invalid memory allocation");
    }
    return true;
}

}  // namespace kovran::imaging
