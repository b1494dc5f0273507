// Image records laid out as the acquisition leaves them (planar channel
// lines, a margin on the left and lines on top), for the retrieval tests.
#pragma once

#include <cstdint>

#include "acquisition/image_record.h"

namespace kovran::test {

inline ImageRecord MakeRecord(int width, int height, int channels, std::uint8_t fill = 255,
                              int dpi = 300, int left = 3, int top = 2) {
    ImageRecord r;
    r.bytesPerPixel = static_cast<std::uint8_t>(channels == 1 ? 1 : 3);
    r.channels = static_cast<std::uint8_t>(channels);
    r.width = r.width0 = static_cast<std::uint16_t>(width);
    r.Height = r.height0 = static_cast<std::uint16_t>(height);
    r.left = r.left0 = static_cast<std::int16_t>(left);
    r.top = r.top0 = static_cast<std::int16_t>(top);
    r.right = static_cast<std::uint16_t>(left + width);
    r.channelPitch = static_cast<std::uint16_t>((left + width + 8 + 7) & ~7);
    r.stride = static_cast<std::uint16_t>(r.channelPitch * channels);
    r.dpiH = r.dpiV = static_cast<std::uint16_t>(dpi);
    const auto bytes = static_cast<std::size_t>(r.stride) * static_cast<std::size_t>(top + height);
    r.alloc = ImageMemory::Allocate(bytes);
    r.data = r.write = r.alloc->Bytes();
    for (std::size_t i = 0; i < bytes; ++i) r.data[i] = fill;
    r.size = r.allocSize = static_cast<std::int32_t>(bytes);
    r.enabled = r.processed = r.completed = true;
    return r;
}

inline std::uint8_t& Pixel(ImageRecord& r, int x, int y, int channel = 0) {
    return r.data[(r.top + y) * r.stride + channel * r.channelPitch + r.left + x];
}

}  // namespace kovran::test
