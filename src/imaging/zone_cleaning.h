// The cleaning that the symbol readers apply to a zone before they look for
// bars: a grey copy stretched so that the darkest ink is black and the paper
// white, then brightened or darkened by an offset. Readers retry at several
// offsets so that faint print (darker copy) and ink spread (lighter copy) each
// get a chance.
#pragma once

#include "imaging/image_view.h"

namespace kovran::imaging {

// Offsets that make sense: a darker copy at -60, a lighter one at +40.
inline constexpr int kCleaningOffsetMin = -255;
inline constexpr int kCleaningOffsetMax = 255;

// A cleaned copy of an 8-bit grey zone (channel 0 of the view), the same size
// and resolution. The black point is the grey level below which 1% of the
// pixels lie, the white point the level above which 1% lie; between them the
// levels are stretched linearly to 0..255, then `offset` is added and the
// result clamped. A zone with less than kMinCleaningContrast between the two
// points has nothing to stretch: it is copied with only the offset applied.
// An empty zone gives an empty buffer. Throws std::bad_alloc when the copy
// cannot be made.
inline constexpr int kMinCleaningContrast = 24;
ImageBuffer CleanZone(ConstImageView zone, int offset);

}  // namespace kovran::imaging
