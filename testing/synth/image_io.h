// Image files of the synthesizer: PNG (libpng) and PGM/PPM out, PNG in (for
// the tests and the corpus readers), and a JPEG round trip through libjpeg to
// give an image the artefacts of a lossy scan.
#pragma once

#include <string>

#include "testing/synth/image.h"

namespace kovran::synth {

// Each returns false (with a reason in *error when given) instead of throwing.
bool writePng(const ImageBuffer& image, const std::string& path, double dpi = 0.0,
              std::string* error = nullptr);
bool writePnm(const ImageBuffer& image, const std::string& path, std::string* error = nullptr);
bool readPng(const std::string& path, ImageBuffer& image, std::string* error = nullptr);

// Encodes the image as JPEG at the quality (1..100) and decodes it again.
bool jpegRoundTrip(ImageBuffer& image, int quality, std::string* error = nullptr);

}  // namespace kovran::synth
