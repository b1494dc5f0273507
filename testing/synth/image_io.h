// Image files of the synthesizer: PNG (libpng) and PGM/PPM out, PNG in (for
// the tests and the corpus readers), and a JPEG round trip through libjpeg to
// give an image the artefacts of a lossy scan.
#pragma once

#include <string>

#include "testing/synth/image.h"

namespace kovran::synth {

// Each returns false (with a reason in *error when given) instead of throwing.
bool WritePng(const ImageBuffer& image, const std::string& path, double dpi = 0.0,
              std::string* error = nullptr);
bool WritePnm(const ImageBuffer& image, const std::string& path, std::string* error = nullptr);
bool ReadPng(const std::string& path, ImageBuffer& image, std::string* error = nullptr);

// Encodes the image as JPEG at the quality (1..100) and decodes it again.
bool JpegRoundTrip(ImageBuffer& image, int quality, std::string* error = nullptr);

}  // namespace kovran::synth
