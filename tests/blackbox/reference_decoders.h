// What the reference decoders (libjpeg, libtiff, libpng) read from an image
// file, used directly so that a file the library writes is judged by the
// same code the archives and clearing systems use. Each reader decodes the
// whole image: a file that does not decode gives nullopt.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kovran::test {

struct JpegFacts {
    int width = 0;
    int height = 0;
    int components = 0;
    int densityUnit = 0;  // 1: dots per inch
    int xDensity = 0;
    int yDensity = 0;
};
std::optional<JpegFacts> ReadJpeg(const std::string& path);

struct TiffPage {
    int width = 0;
    int height = 0;
    int bitsPerSample = 0;
    int samplesPerPixel = 0;
    int compression = 0;
    float xResolution = 0;
    float yResolution = 0;
    int resolutionUnit = 0;  // 2: inch
};
// Every page, each decoded strip by strip.
std::optional<std::vector<TiffPage>> ReadTiff(const std::string& path);

struct PngFacts {
    int width = 0;
    int height = 0;
    int bitDepth = 0;
    int colourType = 0;
    unsigned xPixelsPerMetre = 0;  // 0: no pHYs
    unsigned yPixelsPerMetre = 0;
};
std::optional<PngFacts> ReadPng(const std::string& path);

struct BmpFacts {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    int xPixelsPerMetre = 0;
    int yPixelsPerMetre = 0;
    unsigned fileSize = 0;  // as the header says
};
std::optional<BmpFacts> ReadBmp(const std::vector<unsigned char>& bytes);

}  // namespace kovran::test
