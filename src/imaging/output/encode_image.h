// Encoding of a bitmap file image into the format of a request: the pixel
// work the request asks for (rotation, flip, depth), the resolution tags,
// then the codec.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "imaging/codec/codec.h"
#include "imaging/output/image_request.h"

namespace kovran::imaging::output {

using Bytes = std::vector<std::uint8_t>;

struct EncodeParams {
    int format = kFormatJpeg;
    int quality = 75;
    int threshold = 128;  // grey level below which a 1-bit pixel is black
    int rotation = 0;     // 0, 0x100, 0x200 or 0x300: still to be applied
    bool flip = false;
    ByteOrder order = ByteOrder::Bgr;
    int dpiH = 0;
    int dpiV = 0;
    int bitsPerPixel = 0;  // 0: the bitmap's own
};

// The encoded file, or null ("error encoding image" logged when the bitmap
// does not decode).
std::optional<Bytes> EncodeImage(std::span<const std::uint8_t> bitmap, const EncodeParams& params);

// The same for a picture already decoded (the retrieval builds one).
std::optional<Bytes> EncodePicture(codec::Picture picture, const EncodeParams& params);

// The 1-bit threshold in force.
int BilevelThreshold();

}  // namespace kovran::imaging::output
