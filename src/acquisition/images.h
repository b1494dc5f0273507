// The two record sets of the document images (the current one, MyImg, and
// the next buffer of the continuous feeder), their allocation for the mode
// in force, the heights and margins of a scan and the longest document.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "acquisition/image_record.h"
#include "device/acq_mode.h"

namespace kovran {

struct ImagesRecord {
    ImageSet myImg;
    ImageSet nextImg;  // the continuous feeder's next buffer
    // Magnetic head samples of a scan with the CMC7 strip.
    std::shared_ptr<ImageMemory> cmc7;
    std::array<std::int32_t, 3> capacity{};  // bytes reserved per side
    // The memory of the images last freed, kept for the next ones: a host
    // frees and creates the images for every document, and fresh memory
    // costs its page faults and a whole whitening each time. Given back at
    // the close, by a creation that does not use it, and at unload.
    std::vector<std::shared_ptr<ImageMemory>> spare;
    // The longest document accepted, in lines at 150 dpi.
    std::int32_t maxHeight150 = 2048;
    // Margins in lines handed to the acquisition: after the start of the
    // document (f) and after its end (c).
    std::int32_t leadingLines = 0;
    std::int32_t trailingLines = 0;
    // The same for the front: its leading (a) and trailing (b) margins.
    std::int32_t frontLeadingLines = 0;
    std::int32_t frontTrailingLines = 0;
    bool twoPartAcq = false;
    bool secondPart = false;
    std::int32_t twoPartBlockLines = 0;  // acquisition block lines of a two-part scan
    bool buffersConsumed = false;
    // Height and size of each side as created: the continuous feeder's next
    // document is taken with these, never with the crop of the last one.
    std::array<std::uint16_t, 3> createdHeight{};
    std::array<std::int32_t, 3> createdSize{};
    // Bytes and lead of the memory each owning side got at the creation
    // (0 for a view or no side): what the feeder's next set must hold
    // again, whatever the processing of its last document put there.
    std::array<std::size_t, 3> createdBytes{};
    std::array<std::uint16_t, 3> createdLead{};
    // The codeline side (what side code 9 means) and its opposite.
    std::int32_t codelineSide = kFront;
    std::int32_t otherSide = kRear;
    // The second flag of the scan parameters: set by an ordinary paper
    // movement, cleared by a pre-feed.
    bool movementFlag = false;
    // The continuous feeder's acquisition thread runs.
    std::atomic<bool> feederThreadRunning{false};
};

namespace acquisition {

ImagesRecord& Images();

// Every buffer of both sets and the CMC7 buffer freed, the records cleared.
// Memory that nothing else holds is kept for the next images.
void FreeImages();

// FreeImages, and the kept memory given back too.
void ReleaseImages();

// Notes in the records' memory the lines they describe, for what was
// written there after the acquisition (deskew, crop, stretch).
void NoteRecordLines(const ImageSet& set);

// The feeder's next set in the memory and layout of the creation: a side
// whose memory the processing replaced by a smaller one gets memory of the
// created size again, and the views of a shared stream point into their
// own front. False when the memory is not there.
bool RestoreNextMemory();

// Margins and heights of the records for a wanted height in lines.
void ComputeHeights(int height);

// Allocates the buffers of the records for their heights (white). On
// failure nothing stays allocated and the last result is
// KVX_ERR_OUT_OF_MEMORY.
bool InitMyImg();

// Rounds the sizes to the block unit of the bulk pipe.
void SetImgSize();

// The default longest document of the device and settings in force, and
// the largest value parameter 9 accepts.
std::int32_t DefaultMaxHeight150();
std::int32_t AllowedMaxHeight150();
void ApplyDefaultMaxHeight();

// At an open: the default longest document and codeline sides.
void OpenDefaults();

// The hooks the mode set-up calls up into this layer.
ImageHooks MakeImageHooks();

}  // namespace acquisition
}  // namespace kovran
