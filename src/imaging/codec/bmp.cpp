// BMP files: the bitmap file image the retrieval hands to the encoder
// (14-byte file header, 40-byte information header, grey palette for 8
// bits, rows padded to 4 bytes, bottom-up) and the reading of BMP files of
// 1, 4, 8 and 24 bits without compression.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "imaging/codec/codec_internal.h"

namespace kovran::imaging::codec::detail {

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::size_t kCoreHeaderBytes = 12;
constexpr std::uint32_t kNoCompression = 0;

std::uint32_t U32(File f, std::size_t at) {
    return static_cast<std::uint32_t>(f[at]) | static_cast<std::uint32_t>(f[at + 1]) << 8 |
           static_cast<std::uint32_t>(f[at + 2]) << 16 |
           static_cast<std::uint32_t>(f[at + 3]) << 24;
}
std::uint16_t U16(File f, std::size_t at) {
    return static_cast<std::uint16_t>(f[at] | f[at + 1] << 8);
}
std::int32_t I32(File f, std::size_t at) {
    return static_cast<std::int32_t>(U32(f, at));
}

void Put32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(Bytes& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// The headers of a BMP file, every field checked against the data length.
struct BmpLayout {
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bits = 0;
    std::size_t pixelOffset = 0;
    std::size_t rowBytes = 0;
    std::vector<std::array<std::uint8_t, 3>> palette;  // R, G, B
    double dpiX = 0.0;
    double dpiY = 0.0;
};

std::optional<BmpLayout> ReadLayout(File file, std::string* error) {
    if (file.size() < kFileHeaderBytes + 4 || file[0] != 'B' || file[1] != 'M')
        return Fail(error, "not a BMP file");
    const std::uint32_t headerBytes = U32(file, kFileHeaderBytes);
    const bool core = headerBytes == kCoreHeaderBytes;
    if (!core && (headerBytes < kInfoHeaderBytes || headerBytes > 1024))
        return Fail(error, "BMP information header of " + std::to_string(headerBytes) + " bytes");
    if (file.size() < kFileHeaderBytes + headerBytes) return Fail(error, "truncated BMP header");
    BmpLayout l;
    long long width = 0;
    long long height = 0;
    std::uint32_t compression = kNoCompression;
    std::uint32_t colours = 0;
    constexpr std::size_t h = kFileHeaderBytes;
    if (core) {
        width = U16(file, h + 4);
        height = U16(file, h + 6);
        l.bits = U16(file, h + 10);
    } else {
        width = I32(file, h + 4);
        height = I32(file, h + 8);
        l.bits = U16(file, h + 14);
        compression = U32(file, h + 16);
        l.dpiX = DpiOfPixelsPerMetre(I32(file, h + 24));
        l.dpiY = DpiOfPixelsPerMetre(I32(file, h + 28));
        colours = U32(file, h + 32);
    }
    // A negative height stores the rows top-down.
    if (height < 0) {
        l.topDown = true;
        height = -height;
    }
    if (compression != kNoCompression) return Fail(error, "compressed BMP");
    if (l.bits != 1 && l.bits != 4 && l.bits != 8 && l.bits != 24)
        return Fail(error, "BMP of " + std::to_string(l.bits) + " bits per pixel");
    const int channels = l.bits == 24 ? 3 : 1;
    if (!FitsBuffer(width, height, channels))
        return Fail(error,
                    "BMP of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
    l.width = static_cast<int>(width);
    l.height = static_cast<int>(height);
    l.rowBytes = ((static_cast<std::size_t>(l.width) * l.bits + 31) / 32) * 4;

    if (l.bits <= 8) {
        const std::uint32_t most = 1u << l.bits;
        if (colours == 0) colours = most;
        if (colours > most)
            return Fail(error, "BMP palette of " + std::to_string(colours) + " entries");
        const std::size_t entryBytes = core ? 3 : 4;
        const std::size_t start = kFileHeaderBytes + headerBytes;
        if (start + colours * entryBytes > file.size()) return Fail(error, "truncated BMP palette");
        for (std::uint32_t i = 0; i < colours; ++i) {
            const std::uint8_t* e = file.data() + start + i * entryBytes;
            l.palette.push_back({e[2], e[1], e[0]});
        }
    }
    l.pixelOffset = U32(file, 10);
    if (l.pixelOffset < kFileHeaderBytes + headerBytes || l.pixelOffset > file.size())
        return Fail(error,
                    "BMP pixel offset " + std::to_string(l.pixelOffset) + " outside the file");
    if (l.rowBytes * static_cast<std::size_t>(l.height) > file.size() - l.pixelOffset)
        return Fail(error, "truncated BMP pixels");
    return l;
}

}  // namespace

std::optional<FileInfo> BmpInfo(File file, std::string* error) {
    auto l = ReadLayout(file, error);
    if (!l) return std::nullopt;
    return FileInfo{l->width, l->height, l->dpiX};
}

std::optional<Picture> DecodeBmp(File file, std::string* error) {
    auto l = ReadLayout(file, error);
    if (!l) return std::nullopt;
    Depth depth = Depth::Rgb;
    // Palette indexes beyond the palette read as black.
    std::array<std::array<std::uint8_t, 3>, 256> colour{};
    if (l->bits <= 8) {
        std::copy(l->palette.begin(), l->palette.end(), colour.begin());
        const bool grey = std::all_of(l->palette.begin(), l->palette.end(),
                                      [](const auto& c) { return c[0] == c[1] && c[1] == c[2]; });
        const bool blackWhite =
            l->bits == 1 && std::all_of(l->palette.begin(), l->palette.end(), [](const auto& c) {
                return c == std::array<std::uint8_t, 3>{0, 0, 0} ||
                       c == std::array<std::uint8_t, 3>{255, 255, 255};
            });
        depth = blackWhite ? Depth::Bilevel : grey ? Depth::Grey : Depth::Rgb;
    }
    const int channels = Channels(depth);
    Picture out{ImageBuffer(l->width, l->height, channels, 0, {l->dpiX, l->dpiY}), depth};
    const int perByte = l->bits <= 8 ? 8 / l->bits : 1;
    const unsigned mask = (1u << l->bits) - 1u;
    for (int y = 0; y < l->height; ++y) {
        const int fileRow = l->topDown ? y : l->height - 1 - y;
        const std::uint8_t* src =
            file.data() + l->pixelOffset + static_cast<std::size_t>(fileRow) * l->rowBytes;
        std::uint8_t* dst = out.pixels.Row(y);
        if (l->bits == 24) {
            for (int x = 0; x < l->width; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
            continue;
        }
        for (int x = 0; x < l->width; ++x) {
            const int shift = 8 - l->bits * (x % perByte + 1);
            const auto& c = colour[(src[x / perByte] >> shift) & mask];
            if (channels == 3) {
                std::memcpy(dst + 3 * x, c.data(), 3);
            } else {
                dst[x] = c[0];
            }
        }
    }
    return out;
}

std::optional<Bytes> EncodeBmp(const Picture& picture, ChannelOrder order, std::string* error) {
    if (!CheckPicture(picture, error)) return std::nullopt;
    const ImageBuffer& in = picture.pixels;
    const int bits = static_cast<int>(picture.depth);
    const std::size_t paletteEntries = bits == 8 ? 256 : bits == 1 ? 2 : 0;
    const std::size_t rowBytes = ((static_cast<std::size_t>(in.Width()) * bits + 31) / 32) * 4;
    const std::size_t pixelOffset = kFileHeaderBytes + kInfoHeaderBytes + 4 * paletteEntries;
    const std::size_t imageBytes = rowBytes * static_cast<std::size_t>(in.Height());
    if (imageBytes > std::numeric_limits<std::uint32_t>::max() - pixelOffset)
        return Fail(error, "picture too large for a BMP file");
    Bytes out(pixelOffset + imageBytes, 0);
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 2, static_cast<std::uint32_t>(out.size()));
    Put32(out, 10, static_cast<std::uint32_t>(pixelOffset));
    constexpr std::size_t h = kFileHeaderBytes;
    Put32(out, h, kInfoHeaderBytes);
    Put32(out, h + 4, static_cast<std::uint32_t>(in.Width()));
    Put32(out, h + 8, static_cast<std::uint32_t>(in.Height()));
    Put16(out, h + 12, 1);
    Put16(out, h + 14, static_cast<std::uint16_t>(bits));
    Put32(out, h + 16, kNoCompression);
    Put32(out, h + 20, static_cast<std::uint32_t>(imageBytes));
    Put32(out, h + 24, static_cast<std::uint32_t>(PixelsPerMetre(in.Res().x)));
    Put32(out, h + 28, static_cast<std::uint32_t>(PixelsPerMetre(in.Res().y)));
    Put32(out, h + 32, static_cast<std::uint32_t>(paletteEntries));
    // Palette entry i of 8 bits is grey level i; of 1 bit, 0 black and 1 white.
    for (std::size_t i = 0; i < paletteEntries; ++i) {
        const auto level = static_cast<std::uint8_t>(paletteEntries == 2 ? 255 * i : i);
        std::uint8_t* e = out.data() + h + kInfoHeaderBytes + 4 * i;
        e[0] = e[1] = e[2] = level;
    }
    for (int y = 0; y < in.Height(); ++y) {
        const std::uint8_t* src = in.Row(y);
        std::uint8_t* dst =
            out.data() + pixelOffset + static_cast<std::size_t>(in.Height() - 1 - y) * rowBytes;
        if (bits == 1) {
            PackBits(src, in.Width(), dst, 0);
        } else if (bits == 8) {
            std::memcpy(dst, src, static_cast<std::size_t>(in.Width()));
        } else if (order == ChannelOrder::Rgb) {
            std::memcpy(dst, src, static_cast<std::size_t>(in.Width()) * 3);
        } else {
            for (int x = 0; x < in.Width(); ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
        }
    }
    return out;
}

}  // namespace kovran::imaging::codec::detail
