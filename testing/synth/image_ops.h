// The few image operations the synthesizer needs to imitate printing and
// scanning, written for speed on full-page images (separable filters, one
// pass per row).
#pragma once

#include "testing/synth/image.h"
#include "testing/synth/rng.h"

namespace kovran::synth {

// Separable Gaussian blur with standard deviation sigma (pixels); sigma <= 0
// leaves the input unchanged.
void GaussianBlur(ImageBuffer& image, double sigma);

// Rotates the image by angleDeg (counter-clockwise as seen on screen) about
// its centre and shifts it by (dx, dy) pixels, sampling bilinearly; pixels
// that come from outside the source get the fill colour.
ImageBuffer RotateImage(const ImageBuffer& image, double angleDeg, double dx, double dy, Rgb fill);

// Adds zero-mean Gaussian noise of the given standard deviation (grey levels).
void AddNoise(ImageBuffer& image, double sigma, Rng& rng);

// out = (in - 128) * contrast + 128 + brightness, clamped.
void AdjustContrastBrightness(ImageBuffer& image, double contrast, double brightness);

// Ink spread: dark areas grow by about `radius` pixels (a grey erosion
// blended with the original by the fractional part of the radius).
void InkSpread(ImageBuffer& image, double radius);

}  // namespace kovran::synth
