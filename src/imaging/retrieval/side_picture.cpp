#include "imaging/retrieval/side_picture.h"

#include <array>
#include <new>

#include "imaging/record_planes.h"

namespace kovran::imaging::retrieval {

std::optional<codec::Picture> BuildPicture(const ImageRecord& record, Adjust adjust,
                                           PlaneChoice planes, PictureDepth depth) {
    const int count = planes.count > 0 ? planes.count : record.bytesPerPixel;
    if (count != 1 && count != 3) return std::nullopt;
    if (planes.first < 0 || planes.first + count > record.channels) return std::nullopt;
    if (!RecordUsable(record) || record.width == 0 || record.Height == 0) return std::nullopt;
    const int width = record.width;
    const int height = record.Height;
    const Resolution resolution{static_cast<double>(record.dpiH), static_cast<double>(record.dpiV)};

    std::array<std::uint8_t, 256> lut{};
    for (int v = 0; v < 256; ++v) {
        std::uint8_t out = AdjustSample(v, adjust);
        if (count == 1 && depth.bitsPerPixel == 1) out = out < depth.threshold ? 0 : 255;
        lut[static_cast<std::size_t>(v)] = out;
    }
    codec::Picture picture;
    const bool expand = count == 1 && depth.bitsPerPixel == 24;
    const int channels = count == 3 || expand ? 3 : 1;
    picture.depth = channels == 3                           ? codec::Depth::Rgb
                    : count == 1 && depth.bitsPerPixel == 1 ? codec::Depth::Bilevel
                                                            : codec::Depth::Grey;
    try {
        picture.pixels = ImageBuffer(width, height, channels, 0, resolution);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* line = record.data +
                                   static_cast<std::ptrdiff_t>(record.top + y) * record.stride +
                                   record.left + planes.first * record.channelPitch;
        std::uint8_t* row = picture.pixels.Row(y);
        if (count == 1 && !expand) {
            for (int x = 0; x < width; ++x) row[x] = lut[line[x]];
        } else if (count == 1) {
            for (int x = 0; x < width; ++x)
                row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = lut[line[x]];
        } else {
            const std::uint8_t* g = line + record.channelPitch;
            const std::uint8_t* b = g + record.channelPitch;
            for (int x = 0; x < width; ++x) {
                row[x * 3] = lut[line[x]];
                row[x * 3 + 1] = lut[g[x]];
                row[x * 3 + 2] = lut[b[x]];
            }
        }
    }
    return picture;
}

}  // namespace kovran::imaging::retrieval
