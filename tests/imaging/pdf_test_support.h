// Test tooling for the PDF writer: image files of chosen layouts written
// with libtiff and libjpeg directly (so that the writer meets files it did
// not make), the independent readers (qpdf, pdftoppm) run on the output,
// and small readers of the written bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kovran::test::pdf {

// A grey picture, 0 black .. 255 white, row after row.
struct Grey {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
    std::uint8_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// White with a black block over the left half of the middle rows and a
// black stripe along the top: wrong orientation, inversion or a shifted
// strip all show.
Grey TestPattern(int width, int height);

struct TiffSpec {
    int width = 64;
    int height = 48;
    int bitsPerSample = 1;
    int samplesPerPixel = 1;
    int compression = 1;  // TIFF tag values: 1, 3, 4, 5, 7, 32773
    int photometric = 0;  // 0 WhiteIsZero, 1 BlackIsZero, 2 RGB
    int fillOrder = 1;
    int rowsPerStrip = 0;  // 0: one strip
    float dpi = 200;
    int group3Options = 0;
    int predictor = 1;
};
// Writes the pattern in the given layout.
void WriteTiff(const std::string& path, const TiffSpec& spec, const Grey& picture);

// A baseline JPEG of the pattern (1 or 3 components) with a JFIF density in
// dots per inch (0: no unit).
void WriteJpeg(const std::string& path, const Grey& picture, int components, int dpi);

struct CommandResult {
    int exitCode = -1;
    std::string output;
};
CommandResult RunCommand(const std::string& command);

bool HaveTool(const char* name);

// qpdf --check passes without errors or warnings.
::testing::AssertionResult QpdfClean(const std::string& pdf);

// The page rendered by pdftoppm in grey at dpi.
Grey Render(const std::string& pdf, int page, int dpi);

// The rendered page shows the picture: same size within a pixel, and the
// share of pixels whose darkness differs is below 3 %.
::testing::AssertionResult ShowsPicture(const Grey& rendered, const Grey& picture);

// Offsets of every "N 0 obj" line and the xref entries of a file.
struct XrefCheck {
    std::vector<long long> entryOffsets;  // by object number, [0] the free entry
    long long startxref = -1;
    bool entriesAre20Bytes = true;
};
XrefCheck ReadXref(const std::string& bytes);

// The text between "N 0 obj" and "endobj" of object N.
std::string ObjectText(const std::string& bytes, int number);

}  // namespace kovran::test::pdf
