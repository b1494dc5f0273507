// An elaborated side as the codec's picture, built in one pass over its
// lines with the retrieval brightness and contrast (and, for a grey side,
// the 1-bit threshold or the colour expansion the request asks for). The
// same pixels the bitmap file image carries, without passing through a
// BMP file and back: every full-size buffer costs its page faults.
#pragma once

#include <optional>

#include "acquisition/image_record.h"
#include "imaging/codec/codec.h"
#include "imaging/retrieval/bitmap_image.h"

namespace kovran::imaging::retrieval {

// The depth the picture is built at; a colour side is always built as
// Rgb (its conversions are the codec's).
struct PictureDepth {
    int bitsPerPixel = 0;  // 0: as the side is; 1, 8 or 24
    int threshold = 128;   // for 1 bit
};

std::optional<codec::Picture> BuildPicture(const ImageRecord& record, Adjust adjust,
                                           PlaneChoice planes, PictureDepth depth);

}  // namespace kovran::imaging::retrieval
