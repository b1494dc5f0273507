// The channel planes of an image record seen as OpenCV matrices over the
// record's own lines (no copy), and the checks that make that safe: a record
// comes from the acquisition or from a host-driven elaboration, and its
// geometry is trusted only after it has been checked against its memory.
#pragma once

#include <cstddef>
#include <string>

#include <opencv2/core/mat.hpp>

#include "acquisition/image_record.h"

namespace kovran::imaging {

// Bytes reachable from record.data: to the end of its allocation, or, for
// lines owned elsewhere, the lines the record says it holds.
std::size_t RecordCapacity(const ImageRecord& record);

// True when the image lines (top, left, width, Height, every channel) lie
// inside the record's memory and the strides can describe them.
bool RecordUsable(const ImageRecord& record);

// Channel c of the image lines: width x Height at (left, top), row step
// stride. The record must be usable.
cv::Mat ChannelPlane(const ImageRecord& record, int channel);

// Line length of a derived record: rounded up to 8 bytes.
int PaddedPitch(int width);

// Gives the record room for `height` lines of `width` pixels from its first
// line: in place (in its own columns, from `left`) when its memory holds
// them, otherwise in fresh white memory with a padded pitch and `left` 0.
// False when the memory is not there.
bool MakeRoom(ImageRecord& record, int width, int height);

// Lays a derived record out for `planes` channel lines of `width` pixels
// (padded pitch) in `height` lines at (0, 0): in its memory when that holds
// them, otherwise in fresh white memory. False when the memory is not there.
bool ShapeDerived(ImageRecord& record, int width, int height, int planes);

// Copies plane into channel c of the record from line 0, column `left`.
void StorePlane(ImageRecord& record, int channel, const cv::Mat& plane);

// Sets the record's geometry to an image of width x height from line 0 at
// its column `left`.
void SetCropped(ImageRecord& record, int width, int height);

}  // namespace kovran::imaging
