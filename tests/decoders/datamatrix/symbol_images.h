// Test symbols: module grids from independent encoders (libdmtx, zint) and
// their rendering into grey zone images with print and scan degradations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/image_view.h"

namespace kovran::test {

// A symbol's modules, finder and quiet zone excluded; true is dark.
struct ModuleGrid {
    int rows = 0;
    int columns = 0;
    std::vector<std::uint8_t> dark;

    bool At(int r, int c) const { return dark[static_cast<std::size_t>(r) * columns + c] != 0; }
    void Flip(int r, int c) { dark[static_cast<std::size_t>(r) * columns + c] ^= 1; }
};

// libdmtx's DataMatrix of `text` at a DmtxSymbolSize and DmtxScheme.
std::optional<ModuleGrid> EncodeWithDmtx(std::string_view text, int symbolSize, int scheme = 0);

// zint's symbol (BARCODE_* number); `option2` picks the size or version.
std::optional<ModuleGrid> EncodeWithZint(int symbology, std::string_view text, int option2 = 0);

struct RenderOptions {
    double moduleSize = 6.0;  // pixels per module
    int quietModules = 3;     // light modules around the symbol
    int margin = 10;          // further paper pixels around the quiet zone
    double angleDegrees = 0;  // counter-clockwise rotation
    int quarterTurns = 0;     // 90 degree turns before the rotation
    double blurSigma = 0;
    double noiseSigma = 0;
    int ink = 35;
    int paper = 225;
    std::uint64_t seed = 1;
    int resolution = 300;
};

imaging::ImageBuffer Render(const ModuleGrid& grid, const RenderOptions& options);

// Uniform random grey pixels, the same for the same seed.
imaging::ImageBuffer NoiseImage(int width, int height, std::uint64_t seed, int resolution = 300);

}  // namespace kovran::test
