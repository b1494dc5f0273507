#include "inkjet/stamp_bitmap.h"

#include <algorithm>
#include <string>

#include "api/log.h"
#include "inkjet/stamp_internal.h"
#include "platform/files.h"

namespace kovran::inkjet {

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::size_t kHeadersBytes = kFileHeaderBytes + kInfoHeaderBytes;
constexpr int kGreyColours = 256;
// The stamp's sizes are 16-bit.
constexpr int kMaxSide = 65535;

std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::optional<StampImage> Refuse(BitmapRefusal* refusal, BitmapRefusal why, int* value, int v) {
    if (refusal != nullptr) *refusal = why;
    if (value != nullptr) *value = v;
    return std::nullopt;
}

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

}  // namespace

std::optional<StampImage> ParseStampBitmap(std::span<const std::uint8_t> file,
                                           BitmapRefusal* refusal, int* value) {
    if (file.size() < kHeadersBytes) return Refuse(refusal, BitmapRefusal::Size, value, 0);
    const std::uint32_t offset = U32(file, 10);
    const auto width = static_cast<std::int32_t>(U32(file, 18));
    const auto height = static_cast<std::int32_t>(U32(file, 22));
    const int planes = U16(file, 26);
    const int bitCount = U16(file, 28);
    if (bitCount != 8) return Refuse(refusal, BitmapRefusal::BitCount, value, bitCount);
    if (planes != 1) return Refuse(refusal, BitmapRefusal::Planes, value, planes);
    if (height <= 0) return Refuse(refusal, BitmapRefusal::Height, value, height);
    if (width <= 0 || width > kMaxSide || height > kMaxSide)
        return Refuse(refusal, BitmapRefusal::Size, value, width);

    // The pixels start at the stated offset, never inside the headers.
    const std::size_t start = std::max<std::size_t>(offset, kHeadersBytes);
    const std::size_t fileRow = (static_cast<std::size_t>(width) + 3) / 4 * 4;
    const std::size_t needed = fileRow * static_cast<std::size_t>(height - 1) + width;
    if (start > file.size() || file.size() - start < needed)
        return Refuse(refusal, BitmapRefusal::Size, value, width);

    auto image = BlankStampImage(width, height, kLoadedResolution);
    if (!image) return Refuse(refusal, BitmapRefusal::Size, value, width);
    for (int row = 0; row < height; ++row) {
        const auto* in = file.data() + start + fileRow * static_cast<std::size_t>(row);
        std::copy(
            in, in + width,
            image->pixels.begin() + static_cast<std::ptrdiff_t>(height - 1 - row) * image->stride);
    }
    return image;
}

KVXResult LoadStampBitmap(const std::string& path) {
    DropStampImage();
    if (!platform::FileExists(path)) {
        LogTriple(kErr, "file not found", path.c_str());
        return KVX_ERR_INV_PARAMETER;
    }
    const auto file = ReadWholeFile(path, kMaxStampFileBytes);
    BitmapRefusal refusal = BitmapRefusal::Size;
    int value = 0;
    std::optional<StampImage> image;
    if (file) image = ParseStampBitmap(*file, &refusal, &value);
    if (!image) {
        switch (refusal) {
            case BitmapRefusal::BitCount:
                LogPairValue(kErr, "Not 8 bit grayscale image; bit count", value);
                break;
            case BitmapRefusal::Planes:
                LogPairValue(kErr, "Not grayscale image; planes", value);
                break;
            case BitmapRefusal::Height:
                LogPair(kErr, "invalid height");
                break;
            case BitmapRefusal::Size:
                LogPair(kErr, "invalid size");
                break;
        }
        return KVX_ERR_INV_PARAMETER;
    }
    SetStampImage(std::move(*image));
    return KVX_OK;
}

std::vector<std::uint8_t> GreyBitmapFile(std::span<const std::uint8_t> pixels, int width,
                                         int height, int dotsPerInch) {
    const std::size_t row = (static_cast<std::size_t>(width) + 3) / 4 * 4;
    const std::size_t imageBytes = row * static_cast<std::size_t>(height);
    const std::size_t tableBytes = 4 * kGreyColours;
    const auto pixelOffset = static_cast<std::uint32_t>(kHeadersBytes + tableBytes);
    const auto pixelsPerMetre = static_cast<std::uint32_t>(dotsPerInch * 39.3701 + 0.5);
    std::vector<std::uint8_t> out;
    out.reserve(pixelOffset + imageBytes);
    out.push_back('B');
    out.push_back('M');
    Put32(out, static_cast<std::uint32_t>(pixelOffset + imageBytes));
    Put16(out, 0);
    Put16(out, 0);
    Put32(out, pixelOffset);
    Put32(out, kInfoHeaderBytes);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(height));
    Put16(out, 1);  // planes
    Put16(out, 8);  // bits per pixel
    Put32(out, 0);  // no compression
    Put32(out, static_cast<std::uint32_t>(imageBytes));
    Put32(out, pixelsPerMetre);
    Put32(out, pixelsPerMetre);
    Put32(out, kGreyColours);
    Put32(out, 0);
    for (int c = 0; c < kGreyColours; ++c) {
        const auto v = static_cast<std::uint8_t>(c);
        out.insert(out.end(), {v, v, v, 0});
    }
    for (int y = height - 1; y >= 0; --y) {
        const auto* in = pixels.data() + static_cast<std::size_t>(y) * width;
        out.insert(out.end(), in, in + width);
        out.insert(out.end(), row - width, 0);
    }
    return out;
}

}  // namespace kovran::inkjet
