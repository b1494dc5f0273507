#include "imaging/retrieval/bitmap_image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "imaging/record_planes.h"

namespace kovran::imaging::retrieval {

namespace {

void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}
std::uint32_t Get32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint32_t PixelsPerMetre(int dpi) {
    return static_cast<std::uint32_t>(dpi * 39.3701 + 0.5);
}

}  // namespace

std::uint8_t AdjustSample(int v, Adjust adjust) {
    // The shift of a negative product floors, as the product's makers had it.
    const int out = v + adjust.brightness + ((adjust.contrast * (v - 128)) >> 7);
    return static_cast<std::uint8_t>(std::clamp(out, 0, 255));
}

std::optional<Bytes> BuildBitmap(const ImageRecord& record, Adjust adjust, output::ByteOrder order,
                                 PlaneChoice planes) {
    const int count = planes.count > 0 ? planes.count : record.bytesPerPixel;
    if (count != 1 && count != 3) return std::nullopt;
    if (planes.first < 0 || planes.first + count > record.channels) return std::nullopt;
    if (!RecordUsable(record) || record.width == 0 || record.Height == 0) return std::nullopt;
    const int width = record.width;
    const int height = record.Height;
    const int bits = count * 8;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * count + 3) & ~std::size_t{3};
    const std::size_t palette = count == 1 ? kBmpPalette : 0;
    const std::size_t offset = kBmpFileHeader + kBmpInfoHeader + palette;
    const std::size_t total = offset + rowBytes * static_cast<std::size_t>(height);
    Bytes out;
    try {
        out.assign(total, 0);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    std::uint8_t* h = out.data();
    h[0] = 'B';
    h[1] = 'M';
    Put32(h + 2, static_cast<std::uint32_t>(total));
    Put32(h + 10, static_cast<std::uint32_t>(offset));
    std::uint8_t* info = h + kBmpFileHeader;
    Put32(info, kBmpInfoHeader);
    Put32(info + 4, static_cast<std::uint32_t>(width));
    Put32(info + 8, static_cast<std::uint32_t>(height));
    Put16(info + 12, 1);
    Put16(info + 14, static_cast<std::uint32_t>(bits));
    Put32(info + 20, static_cast<std::uint32_t>(rowBytes * static_cast<std::size_t>(height)));
    Put32(info + 24, PixelsPerMetre(record.dpiH));
    Put32(info + 28, PixelsPerMetre(record.dpiV));
    Put32(info + 32, count == 1 ? 256 : 0);
    if (count == 1) {
        std::uint8_t* p = info + kBmpInfoHeader;
        for (int i = 0; i < 256; ++i) {
            p[i * 4] = p[i * 4 + 1] = p[i * 4 + 2] = static_cast<std::uint8_t>(i);
        }
    }

    std::array<std::uint8_t, 256> lut{};
    for (int v = 0; v < 256; ++v) lut[static_cast<std::size_t>(v)] = AdjustSample(v, adjust);

    std::uint8_t* pixels = out.data() + offset;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* line =
            record.data + static_cast<std::ptrdiff_t>(record.top + y) * record.stride + record.left;
        std::uint8_t* row = pixels + static_cast<std::size_t>(height - 1 - y) * rowBytes;
        if (count == 1) {
            const std::uint8_t* src = line + planes.first * record.channelPitch;
            for (int x = 0; x < width; ++x) row[x] = lut[src[x]];
            continue;
        }
        const std::uint8_t* r = line + planes.first * record.channelPitch;
        const std::uint8_t* g = r + record.channelPitch;
        const std::uint8_t* b = g + record.channelPitch;
        const std::uint8_t* first = order == output::ByteOrder::Rgb ? r : b;
        const std::uint8_t* last = order == output::ByteOrder::Rgb ? b : r;
        for (int x = 0; x < width; ++x) {
            row[x * 3] = lut[first[x]];
            row[x * 3 + 1] = lut[g[x]];
            row[x * 3 + 2] = lut[last[x]];
        }
    }
    return out;
}

std::optional<BitmapInfo> ReadBitmapInfo(const Bytes& bitmap) {
    if (bitmap.size() < kBmpFileHeader + kBmpInfoHeader || bitmap[0] != 'B' || bitmap[1] != 'M')
        return std::nullopt;
    const std::uint8_t* info = bitmap.data() + kBmpFileHeader;
    BitmapInfo i;
    i.width = static_cast<int>(Get32(info + 4));
    i.height = static_cast<int>(Get32(info + 8));
    i.bitsPerPixel = info[14] | (info[15] << 8);
    return i;
}

}  // namespace kovran::imaging::retrieval
