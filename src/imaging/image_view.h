// The one raster type of the library: a strided view of 8-bit samples
// (width, height, bytes from row to row, samples per pixel, resolution) and
// the buffer that owns such pixels. Views never own memory; a buffer hands
// out views of its pixels and frees them with itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace kovran::imaging {

// Dots per inch on each axis; 0 when the source does not say.
struct Resolution {
    double x = 0.0;
    double y = 0.0;
    bool operator==(const Resolution&) const = default;
};

// Samples of one pixel, interleaved: 1 grey (or binary), 3 RGB.
inline constexpr int kMaxChannels = 4;
// A buffer never holds more than this; a scan at 1200 dpi of the longest
// document the feeders take is a tenth of it.
inline constexpr std::size_t kMaxBufferBytes = std::size_t{1} << 30;

// Throws std::invalid_argument when the geometry cannot describe memory:
// negative or overflowing sizes, a stride shorter than a row, more than
// kMaxChannels samples per pixel. An empty image (0 x 0) is valid.
void CheckGeometry(int width, int height, int channels, std::ptrdiff_t stride);

// Bytes a tightly packed image of this size needs; throws
// std::invalid_argument beyond kMaxBufferBytes or on overflow.
std::size_t PackedBytes(int width, int height, int channels);

template <typename Sample>
class BasicImageView {
    static_assert(std::is_same_v<std::remove_const_t<Sample>, std::uint8_t>);

  public:
    BasicImageView() = default;
    // Checks the geometry (see CheckGeometry); a null data pointer is
    // allowed only for an empty view.
    BasicImageView(Sample* data, int width, int height, std::ptrdiff_t stride, int channels = 1,
                   Resolution resolution = {})
        : data_(data),
          width_(width),
          height_(height),
          stride_(stride),
          channels_(channels),
          resolution_(resolution) {
        CheckGeometry(width, height, channels, stride);
        CheckData(data != nullptr || width == 0 || height == 0);
    }
    // A view of writable pixels reads as a view of constant ones.
    template <typename Other>
    requires(std::is_const_v<Sample> && !std::is_const_v<Other>)
        BasicImageView(const BasicImageView<Other>& other)  // NOLINT(google-explicit-constructor)
        : data_(other.Data()),
          width_(other.Width()),
          height_(other.Height()),
          stride_(other.Stride()),
          channels_(other.Channels()),
          resolution_(other.Res()) {}

    Sample* Data() const { return data_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    std::ptrdiff_t Stride() const { return stride_; }
    int Channels() const { return channels_; }
    Resolution Res() const { return resolution_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

    Sample* Row(int y) const { return data_ + static_cast<std::ptrdiff_t>(y) * stride_; }
    Sample& At(int x, int y, int channel = 0) const {
        return Row(y)[static_cast<std::ptrdiff_t>(x) * channels_ + channel];
    }

    // The rectangle (x, y, width, height), clipped to the view.
    BasicImageView Crop(int x, int y, int width, int height) const;
    BasicImageView WithResolution(Resolution resolution) const {
        BasicImageView v = *this;
        v.resolution_ = resolution;
        return v;
    }

  private:
    static void CheckData(bool ok);

    Sample* data_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    std::ptrdiff_t stride_ = 0;
    int channels_ = 1;
    Resolution resolution_;
};

using ImageView = BasicImageView<std::uint8_t>;
using ConstImageView = BasicImageView<const std::uint8_t>;

// Owns tightly packed pixels (stride = width x channels). Copies copy the
// pixels; a moved-from buffer is empty.
class ImageBuffer {
  public:
    ImageBuffer() = default;
    // Throws std::invalid_argument for sizes PackedBytes refuses.
    ImageBuffer(int width, int height, int channels = 1, std::uint8_t fill = 0,
                Resolution resolution = {});
    // A copy of the pixels of a view.
    static ImageBuffer CopyOf(ConstImageView view);

    ImageBuffer(const ImageBuffer&) = default;
    ImageBuffer& operator=(const ImageBuffer&) = default;
    ImageBuffer(ImageBuffer&& other) noexcept { *this = std::move(other); }
    ImageBuffer& operator=(ImageBuffer&& other) noexcept;

    ImageView View() { return {pixels_.data(), width_, height_, Stride(), channels_, resolution_}; }
    ConstImageView View() const {
        return {pixels_.data(), width_, height_, Stride(), channels_, resolution_};
    }

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Channels() const { return channels_; }
    std::ptrdiff_t Stride() const { return static_cast<std::ptrdiff_t>(width_) * channels_; }
    Resolution Res() const { return resolution_; }
    void SetResolution(Resolution resolution) { resolution_ = resolution; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

    std::uint8_t* Data() { return pixels_.data(); }
    const std::uint8_t* Data() const { return pixels_.data(); }
    std::size_t Bytes() const { return pixels_.size(); }
    std::uint8_t* Row(int y) { return pixels_.data() + static_cast<std::ptrdiff_t>(y) * Stride(); }
    const std::uint8_t* Row(int y) const {
        return pixels_.data() + static_cast<std::ptrdiff_t>(y) * Stride();
    }
    std::uint8_t& At(int x, int y, int channel = 0) {
        return Row(y)[static_cast<std::ptrdiff_t>(x) * channels_ + channel];
    }
    std::uint8_t At(int x, int y, int channel = 0) const {
        return Row(y)[static_cast<std::ptrdiff_t>(x) * channels_ + channel];
    }

    bool operator==(const ImageBuffer&) const = default;

  private:
    int width_ = 0;
    int height_ = 0;
    int channels_ = 1;
    Resolution resolution_;
    std::vector<std::uint8_t> pixels_;
};

extern template class BasicImageView<std::uint8_t>;
extern template class BasicImageView<const std::uint8_t>;

}  // namespace kovran::imaging
