#include "imaging/image_view.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace kovran::imaging {

void CheckGeometry(int width, int height, int channels, std::ptrdiff_t stride) {
    if (width < 0 || height < 0)
        throw std::invalid_argument("image size " + std::to_string(width) + " x " +
                                    std::to_string(height) + " is negative");
    if (channels < 1 || channels > kMaxChannels)
        throw std::invalid_argument("image with " + std::to_string(channels) +
                                    " samples per pixel");
    constexpr auto kMax = std::numeric_limits<std::ptrdiff_t>::max();
    const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(width) * channels;
    if (height > 0 && stride < row)
        throw std::invalid_argument("image stride " + std::to_string(stride) +
                                    " is shorter than a row of " + std::to_string(row) + " bytes");
    // The last byte must be addressable from the data pointer.
    if (height > 1 && stride > (kMax - row) / (height - 1))
        throw std::invalid_argument("image of " + std::to_string(height) + " rows of stride " +
                                    std::to_string(stride) + " overflows the address range");
}

std::size_t PackedBytes(int width, int height, int channels) {
    CheckGeometry(width, height, channels, static_cast<std::ptrdiff_t>(width) * channels);
    const std::size_t row = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
    if (height > 0 && row > kMaxBufferBytes / static_cast<std::size_t>(height))
        throw std::invalid_argument("image of " + std::to_string(width) + " x " +
                                    std::to_string(height) + " x " + std::to_string(channels) +
                                    " bytes is larger than a buffer may be");
    return row * static_cast<std::size_t>(height);
}

template <typename Sample>
void BasicImageView<Sample>::CheckData(bool ok) {
    if (!ok) throw std::invalid_argument("image view of a null pointer");
}

template <typename Sample>
BasicImageView<Sample> BasicImageView<Sample>::Crop(int x, int y, int width, int height) const {
    const long long x0 = std::clamp<long long>(x, 0, width_);
    const long long y0 = std::clamp<long long>(y, 0, height_);
    const long long x1 =
        std::clamp<long long>(static_cast<long long>(x) + std::max(width, 0), x0, width_);
    const long long y1 =
        std::clamp<long long>(static_cast<long long>(y) + std::max(height, 0), y0, height_);
    BasicImageView v = *this;
    v.width_ = static_cast<int>(x1 - x0);
    v.height_ = static_cast<int>(y1 - y0);
    if (v.Empty()) {
        v.width_ = v.height_ = 0;
        return v;
    }
    v.data_ = data_ + static_cast<std::ptrdiff_t>(y0) * stride_ +
              static_cast<std::ptrdiff_t>(x0) * channels_;
    return v;
}

template class BasicImageView<std::uint8_t>;
template class BasicImageView<const std::uint8_t>;

ImageBuffer::ImageBuffer(int width, int height, int channels, std::uint8_t fill,
                         Resolution resolution)
    : width_(width), height_(height), channels_(channels), resolution_(resolution) {
    pixels_.assign(PackedBytes(width, height, channels), fill);
    if (pixels_.empty()) width_ = height_ = 0;
}

ImageBuffer ImageBuffer::CopyOf(ConstImageView view) {
    ImageBuffer out(view.Width(), view.Height(), view.Channels(), 0, view.Res());
    const std::size_t row = static_cast<std::size_t>(out.Stride());
    for (int y = 0; y < out.height_; ++y) std::copy_n(view.Row(y), row, out.Row(y));
    return out;
}

ImageBuffer& ImageBuffer::operator=(ImageBuffer&& other) noexcept {
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    channels_ = std::exchange(other.channels_, 1);
    resolution_ = std::exchange(other.resolution_, {});
    pixels_ = std::move(other.pixels_);
    other.pixels_.clear();
    return *this;
}

}  // namespace kovran::imaging
