// Resizing a side into a derived record: the stored deskew of the side
// first (DeskWrapInt), then per channel a bilinear resize, the flips and the
// transposition that make up the quarter and half turns.
#pragma once

#include <string>

#include "acquisition/image_record.h"

namespace kovran::imaging {

struct ResizeRequest {
    // Apply the side's stored deskew first (when one is stored).
    bool deskew = false;
    // A colour side's channels merged into one grey channel.
    bool greyMerge = false;
    bool flipUpDown = false;
    bool flipLeftRight = false;
    // Rows become columns; the output's width and height are exchanged.
    bool transpose = false;
};

// Warps a side (0 rear, 1 front) by its stored deskew into temp, which gets
// memory of its own. False with *message set.
bool DeskWrapInt(const ImageRecord& record, ImageRecord& temp, int side, std::string* message);

// Resizes input into output. The output record gives the size before the
// transposition in width and Height and any memory it has (grown when too
// small); it ends with its final geometry. False with *message set.
bool KVXResize(const ImageRecord& input, int side, ImageRecord& output,
               const ResizeRequest& request, std::string* message);

}  // namespace kovran::imaging
