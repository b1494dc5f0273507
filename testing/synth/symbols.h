// Barcode and 2D symbol generation by independent libraries (zint for every
// symbology, libdmtx as a second DataMatrix source). The result is the
// module grid; the renderer scales it to the page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kovran::synth {

struct SymbolModules {
    int cols = 0;
    int rows = 0;
    bool linear = false;             // 1D: one row stretched to the bar height
    double rowModules = 1.0;         // height of one row in modules (stacked codes)
    int quietModules = 0;            // quiet zone the symbology needs on each side
    std::vector<std::uint8_t> dark;  // rows x cols, 1 = dark module, top row first
    bool IsDark(int c, int r) const { return dark[static_cast<std::size_t>(r) * cols + c] != 0; }
};

// symbology: code128, code39, ean13, itf, pdf417, datamatrix, qrcode;
// generator: "zint" or "libdmtx". Throws SynthError with the reason.
SymbolModules EncodeSymbol(const std::string& symbology, const std::string& data,
                           const std::string& generator);

}  // namespace kovran::synth
