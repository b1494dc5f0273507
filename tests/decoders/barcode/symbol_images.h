// Test symbols: zint encodes the data (an encoder written apart from our
// decoders), and the module row it draws is rendered here into grey zone
// images with the degradations of a real scan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/image_view.h"

namespace kovran::decoders::barcode::testing {

// The modules of a zint symbol's middle row (true for a bar), from the
// bitmap zint draws at one pixel per module. Throws std::runtime_error with
// zint's message when zint refuses the data.
std::vector<bool> ZintModules(int zintSymbology, const std::string& data, int option2 = 0);

// Bar and space widths of a module row, in modules, starting with a bar.
std::vector<int> ModuleWidths(const std::vector<bool>& modules);

struct Degradation {
    double modulePixels = 3.0;  // pixels per module (any fraction)
    double blurSigma = 0.0;     // Gaussian blur, pixels
    double noiseSigma = 0.0;    // additive noise, grey levels
    double skewDegrees = 0.0;   // bars leaning this much from vertical
    int ink = 20;               // grey of the bars
    int paper = 235;            // grey of the paper
    int spots = 0;              // ink specks and voids, 2-5 pixels wide, up to 34 high
    unsigned seed = 1;          // noise and spot generator seed
};

// A zone image at `dpi` holding the modules, centred, with `quietModules` of
// paper on both sides and `height` rows (bars over the middle 80%).
imaging::ImageBuffer RenderSymbol(const std::vector<bool>& modules, const Degradation& d,
                                  int height = 90, int quietModules = 12, int dpi = 300,
                                  int minWidth = 320);

}  // namespace kovran::decoders::barcode::testing

namespace kovran::decoders::barcode::testing {

// The human-readable text zint gives for the data (with the check digits
// zint adds).
std::string ZintText(int zintSymbology, const std::string& data, int option2 = 0);

}  // namespace kovran::decoders::barcode::testing
