// The retrieval pipeline: one side of the document in MyImg elaborated at
// the resolution and rotation the host asks for (the wrap), turned into a
// bitmap file image with the side's retrieval brightness and contrast, and
// encoded when the request asks for another format. Also the front-rear
// composite of both sides in one image.
#pragma once

#include <optional>

#include "KovranMS.h"
#include "imaging/output/image_request.h"
#include "imaging/retrieval/bitmap_image.h"

namespace kovran::imaging::retrieval {

// The MyImg index of a side code (0, 1, 2, 8, 9), or null.
std::optional<int> ResolveSide(int code);

struct RetrieveCall {
    int side = 1;  // a side code
    output::ImageRequest request;
    int optionA = 0;
    int optionB = 0;
    int dpi = 0;  // 0: the side's own
    output::Destination destination = output::Destination::Memory;
};

struct Retrieved {
    KVXResult result = KVX_OK;  // a warning or an error when image is empty
    Bytes image;
    int sideIndex = 0;
    int width = 0;  // of the elaborated side
    int height = 0;
    int dpi = 0;
};

// The whole pipeline for one side; the request is validated first.
Retrieved Retrieve(const RetrieveCall& call);

struct CompositeCall {
    int firstSide = 1;
    int secondSide = 0;
    int firstOptionA = 0;
    int firstOptionB = 0;
    int secondOptionA = 0;
    int secondOptionB = 0;
    output::ImageRequest request;
    int dpi = 0;  // 0: the larger of the two sides'
    output::Destination destination = output::Destination::Memory;
};

// Both sides in one image, the first above the second.
Retrieved RetrieveComposite(const CompositeCall& call);

// The side as R, G, B pixels, rows of (width + 7) pixels, at its own
// resolution without rotation; KVX_ERR_INV_PARAMETER for a side other than
// 0..2, KVX_ERR_OUT_OF_MEMORY when the memory is not there.
struct RgbPixels {
    KVXResult result = KVX_OK;
    Bytes pixels;
    int width = 0;
    int height = 0;
};
RgbPixels RetrieveRgb(int sideIndex);

}  // namespace kovran::imaging::retrieval
