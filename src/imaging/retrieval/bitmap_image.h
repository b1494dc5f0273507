// The bitmap file image: a whole BMP file in memory, the form in which an
// elaborated side passes from retrieval to encoding and to the host. Rows
// are padded to 4 bytes and stored bottom-up; 8-bit images carry a grey
// palette, 24-bit ones B, G, R triplets (R, G, B on request).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "acquisition/image_record.h"
#include "imaging/output/image_request.h"

namespace kovran::imaging::retrieval {

using Bytes = std::vector<std::uint8_t>;

inline constexpr int kBmpFileHeader = 14;
inline constexpr int kBmpInfoHeader = 40;
inline constexpr int kBmpPalette = 256 * 4;

// The per-side retrieval adjustments, -100..100.
struct Adjust {
    int brightness = 0;
    int contrast = 0;
};

// v + brightness + floor(contrast * (v - 128) / 128), clamped to 0..255;
// the floor is an arithmetic shift, so that dark samples round downwards.
std::uint8_t AdjustSample(int v, Adjust adjust);

// Which channel lines of the record make the image: the colour lines
// (planes 1 or 3 from 0), or one line (an infrared or ultraviolet one)
// delivered as grey.
struct PlaneChoice {
    int first = 0;
    int count = 0;  // 0: the record's bytesPerPixel
};

// The BMP file of the record's image. Null when the record's geometry is
// unusable or the memory is not there.
std::optional<Bytes> BuildBitmap(const ImageRecord& record, Adjust adjust, output::ByteOrder order,
                                 PlaneChoice planes = {});

// Geometry read back from a BMP file image built above.
struct BitmapInfo {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
};
std::optional<BitmapInfo> ReadBitmapInfo(const Bytes& bitmap);

}  // namespace kovran::imaging::retrieval
