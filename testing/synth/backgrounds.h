// Security backgrounds of cheques and forms (guilloche-like waves, line
// screens, dot screens, gradients) and dark photographs.
#pragma once

#include "testing/synth/description.h"
#include "testing/synth/image.h"
#include "testing/synth/rng.h"

namespace kovran::synth {

// Draws the pattern over the whole image; pixelsPerMm on each axis.
void DrawBackground(ImageBuffer& image, const Background& bg, double pxPerMmX, double pxPerMmY);

// A dark photograph: smooth random shading in a rectangle of w x h pixels,
// returned as ink coverage (its darkness) so it can be painted and counted in
// the backlight.
ImageBuffer PhotoCoverage(int w, int h, double darkness, double pxPerMm, Rng& rng);

}  // namespace kovran::synth
