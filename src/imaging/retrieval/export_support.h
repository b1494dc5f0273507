// What the exports of retrieval and saving share: the frame of an export
// that hands back a pointer, the region note, and the requests of the
// variants that take format, rotation and depth apart.
#pragma once

#include <cstdint>

#include "KovranMS.h"
#include "api/frame.h"
#include "imaging/output/image_request.h"

namespace kovran::imaging::retrieval {

inline ExportInfo HandleExport(const char* name, int handle, const char* tag = nullptr) {
    return {
        .name = name, .tag = tag != nullptr ? tag : name, .guard = Guard::Handle, .handle = handle};
}

// Runs op (which returns the result and fills *image) in the frame and
// returns the image: null whenever the frame or op refused.
template <class Op>
std::uint8_t* RunPointerExport(const ExportInfo& info, Op&& op) {
    std::uint8_t* image = nullptr;
    RunExport(info, [&] { return op(&image); });
    return image;
}

// Regions are not used; one that is not empty is noted.
void NoteRegion(const KVXRect* region);
void NoteRegion(std::int16_t left, std::int16_t top, std::int16_t right, std::int16_t bottom);

// The request of the variants with the format, rotation, quality and depth
// given apart.
output::ImageRequest SplitRequest(int format, int rotation, int quality, int bitsPerPixel);

}  // namespace kovran::imaging::retrieval
