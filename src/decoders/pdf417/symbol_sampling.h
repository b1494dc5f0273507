// From a cleaned zone to the codewords of its PDF417 symbol: the symbol's
// columns and skew, the straightened symbol, and the codewords of every
// scan line voted into their rows by the row indicators.
#pragma once

#include <optional>
#include <vector>

#include "imaging/image_view.h"

namespace kovran::decoders::pdf417 {

struct SymbolCodewords {
    int rows = 0;
    int columns = 0;  // data columns
    int ecLevel = 0;
    std::vector<int> codewords;  // rows x columns, kErasure where unread
};

struct SamplingOutcome {
    // A start or stop pattern was seen: worth another cleaning.
    bool symbolLike = false;
    // What the symbol's rows gave, in the order to try: the row bands' own
    // reading first, then the lines voted into rows by their indicators.
    std::vector<SymbolCodewords> candidates;
};

// `cleaned`: 8-bit grey, ink dark, paper white. Throws std::bad_alloc.
SamplingOutcome SampleSymbol(imaging::ConstImageView cleaned);

}  // namespace kovran::decoders::pdf417
