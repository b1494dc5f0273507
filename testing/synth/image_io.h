// Image files of the synthesizer: PNG (libpng) and PGM/PPM out, PNG in (for
// the tests and the corpus readers), and a JPEG round trip through libjpeg to
// give an image the artefacts of a lossy scan.
#pragma once

#include <string>

#include "testing/synth/image.h"

namespace kovran::synth {

// Each throws SynthError with the file and the reason.
void WritePng(const ImageBuffer& image, const std::string& path, double dpi = 0.0);
void WritePnm(const ImageBuffer& image, const std::string& path);
ImageBuffer ReadPng(const std::string& path);

// Encodes the image as JPEG at the quality (1..100) and decodes it again.
void JpegRoundTrip(ImageBuffer& image, int quality);

}  // namespace kovran::synth
