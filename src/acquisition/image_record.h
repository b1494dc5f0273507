// The images of one document in memory: three image records (rear, front,
// backlight) of planar lines. Pixel x of channel c of line y lies at
// data + y * stride + c * channelPitch + left + x.
//
// Memory: a record that owns its lines holds the allocation; on devices that
// deliver front and rear in one stream, the rear and backlight records are
// views into the front's lines and share its allocation, so a view can never
// outlive the memory it points into.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kovran {

// One allocation of image lines, filled with white.
//
// An allocation can serve the next images of a host that frees and creates
// them per document: it keeps how far its bytes may have been written since
// it was last white, so that only that part is whitened again. Whoever
// writes into the lines notes how far (NoteWritten); a write not noted
// would show in the next images.
class ImageMemory {
  public:
    // Null when the memory is not there (the caller reports it).
    static std::shared_ptr<ImageMemory> Allocate(std::size_t bytes);

    std::uint8_t* Bytes() { return bytes_.get(); }
    // The bytes of the current use; the allocation may be larger.
    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return capacity_; }

    // Bytes from the start that may no longer be white.
    std::size_t Written() const { return written_; }
    void NoteWritten(std::size_t end) {
        if (end > written_) written_ = end < capacity_ ? end : capacity_;
    }
    // White again for a new use of `bytes` (at most the capacity).
    void Renew(std::size_t bytes);

  private:
    ImageMemory(std::unique_ptr<std::uint8_t[]> bytes, std::size_t size)
        : bytes_(std::move(bytes)), size_(size), capacity_(size) {}
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t written_ = 0;
};

// No skew angle measured yet.
inline constexpr float kNoSkew = 10000.0f;

struct ImageRecord {
    std::uint8_t side = 0;           // own index (0, 1 or 2)
    std::uint8_t bytesPerPixel = 1;  // of the delivered image: 1 grey, 3 colour
    std::uint8_t channels = 1;       // channel lines per scan line
    std::int16_t top = 0;            // first image line inside the buffer
    std::int16_t left = 0;           // first image pixel inside a channel line
    std::uint16_t width = 0;
    std::uint16_t Height = 0;  // the requested height, then the acquired one
    std::int16_t top0 = 0;     // copies kept for the crop stage
    std::int16_t left0 = 0;
    std::uint16_t right = 0;  // left + width
    std::uint16_t height0 = 0;
    std::uint16_t width0 = 0;
    std::uint16_t sensorPixels = 0;  // this side's pixels in a channel line
    std::uint16_t channelPitch = 0;  // bytes of one channel line
    std::uint16_t stride = 0;        // bytes of one scan line
    std::uint16_t dpiH = 0;
    std::uint16_t dpiV = 0;
    std::uint8_t* data = nullptr;   // line 0, channel 0
    std::uint8_t* write = nullptr;  // where the acquisition writes next
    std::uint16_t lead = 0;         // bytes reserved in front of the lines
    // The allocation the lines live in: owned, or shared with the front.
    std::shared_ptr<ImageMemory> alloc;
    std::int32_t size = 0;       // image bytes, rounded to the block unit
    std::int32_t allocSize = 0;  // bytes this record allocated (0 for a view)
    bool enabled = false;
    bool processed = false;
    bool completed = false;
    bool deskewed = false;
    std::uint8_t flags = 0;
    float skew = kNoSkew;
    std::int16_t skewWeight = 0;
    std::int16_t brightness = 0;
    std::int16_t contrast = 0;
};

// Rear, front, backlight.
using ImageSet = std::array<ImageRecord, 3>;

}  // namespace kovran
