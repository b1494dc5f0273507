#include "acquisition/line_correct.h"

#include <algorithm>
#include <cstring>

#include "api/log.h"

namespace kovran::acquisition {
namespace {

// Columns corrected together down a block of lines: their tables (64 x 256
// bytes per channel) stay in the first-level cache while the lines pass.
constexpr std::size_t kColumnTile = 64;
// The mirror works on a line of at most this many pixels.
constexpr std::size_t kWidestMirror = 0x8000;

// One column's table: CorrectPixel of every raw byte. With a positive gain
// the corrected value only grows with the raw byte, so the bytes up to the
// black read curve[0] and those from the first that reaches 255 on read
// curve[255]; only the span between needs the arithmetic. A table per
// column of every channel of both sides is built at each acquisition.
void FillTable(std::uint8_t* t, float gain, std::uint8_t black, const CurveTable& curve) {
    int v = 0;
    if (gain > 0.0f) {
        std::memset(t, curve[0], std::size_t{black} + 1);
        v = black + 1;
    }
    for (; v < 256; ++v) {
        if (gain > 0.0f && static_cast<int>(gain * static_cast<float>(v - int{black})) >= 255) {
            std::memset(t + v, curve[255], static_cast<std::size_t>(256 - v));
            break;
        }
        t[v] = CorrectPixel(static_cast<std::uint8_t>(v), gain, black, curve);
    }
}

}  // namespace

std::uint8_t CorrectPixel(std::uint8_t raw, float gain, std::uint8_t black,
                          const CurveTable& curve) {
    const float v = gain * static_cast<float>(int{raw} - int{black});
    // Truncation towards zero, then the three ranges of the curve.
    const int t = static_cast<int>(v);
    if (t <= 0) return curve[0];
    if (t >= 255) return curve[255];
    return curve[static_cast<std::size_t>(t)];
}

SideCorrector::SideCorrector(const ImageRecord& record, const std::vector<float>& gain,
                             const std::vector<std::uint8_t>& black, const CurveTable& curve,
                             bool apply, Mirror mirror)
    : record_(record), channels_(std::max<std::size_t>(record.channels, 1)), apply_(apply) {
    const std::size_t pixels = record.sensorPixels;
    left_ = std::min<std::size_t>(static_cast<std::size_t>(std::max<int>(record.left, 0)), pixels);
    width_ = std::min<std::size_t>(record.width, pixels - left_);
    if (record.data != nullptr && record.alloc && record.stride != 0) {
        const std::uint8_t* begin = record.alloc->Bytes();
        const std::size_t room =
            record.data >= begin && record.data <= begin + record.alloc->Size()
                ? record.alloc->Size() - static_cast<std::size_t>(record.data - begin)
                : 0;
        const std::size_t span = (channels_ - 1) * record.channelPitch + pixels;
        linesHeld_ = room < span ? 0
                                 : static_cast<std::int32_t>(std::min<std::size_t>(
                                       (room - span) / record.stride + 1, 0x7FFFFFFF));
    }
    if (mirror == Mirror::Yes) {
        if (width_ > kWidestMirror)
            LogText("unexpeded width");
        else
            mirror_ = true;
    }
    if (!apply_) return;
    tables_.resize(channels_ * width_ * 256);
    for (std::size_t c = 0; c < channels_; ++c) {
        for (std::size_t x = 0; x < width_; ++x) {
            const std::size_t at = c * pixels + left_ + x;
            const float k = at < gain.size() ? gain[at] : 1.0f;
            const std::uint8_t bl = at < black.size() ? black[at] : 0;
            std::uint8_t* t = tables_.data() + (c * width_ + x) * 256;
            FillTable(t, k, bl, curve);
        }
    }
}

void SideCorrector::Correct(std::int32_t first, std::int32_t count) {
    if (record_.data == nullptr || first < 0 || count <= 0) return;
    const std::int32_t end = std::min(first + count, linesHeld_);
    if (end <= first) return;
    const std::size_t pixels = record_.sensorPixels;
    auto line = [&](std::int32_t y, std::size_t c) {
        return record_.data + static_cast<std::size_t>(y) * record_.stride +
               c * record_.channelPitch;
    };

    if (apply_) {
        for (std::size_t x0 = 0; x0 < width_; x0 += kColumnTile) {
            const std::size_t x1 = std::min(width_, x0 + kColumnTile);
            for (std::int32_t y = first; y < end; ++y) {
                for (std::size_t c = 0; c < channels_; ++c) {
                    std::uint8_t* p = line(y, c) + left_;
                    const std::uint8_t* t = tables_.data() + c * width_ * 256;
                    for (std::size_t x = x0; x < x1; ++x) p[x] = t[x * 256 + p[x]];
                }
            }
        }
    }
    for (std::int32_t y = first; y < end; ++y) {
        for (std::size_t c = 0; c < channels_; ++c) {
            std::uint8_t* p = line(y, c);
            std::memset(p, kMarginValue, left_);
            if (left_ + width_ < pixels)
                std::memset(p + left_ + width_, kMarginValue, pixels - left_ - width_);
            if (mirror_) std::reverse(p + left_, p + left_ + width_);
        }
    }
}

}  // namespace kovran::acquisition
