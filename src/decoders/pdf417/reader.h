// Reading a PDF417 symbol in a zone of a grey document image (zone font 8,
// or the "BARCODE_OR_PDF417" strategy of the document reading): the zone
// is cleaned at offsets from dark to neutral, the symbol found and
// straightened, its codewords read line by line, corrected and decoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoders/char_box.h"
#include "imaging/image_view.h"

namespace kovran::decoders::pdf417 {

// One confidence and one box (the whole zone) per character.
struct Pdf417Reading {
    std::string text;
    std::vector<std::uint8_t> confidence;
    std::vector<CharBox> boxes;
};

inline constexpr int kPdf417AllocationFailed = -1;
inline constexpr std::uint8_t kPdf417Confidence = 100;
// The cleaning offsets, darkest first; the reading stops at the first that
// reads, or when a cleaning shows nothing like a symbol.
inline constexpr int kPdf417CleaningOffsets[] = {-60, -40, -20, 0};

// Reads the PDF417 symbol of `zone` (8-bit grey, 0 black; an empty view
// reads nothing). At most `maxChars` characters come back: a longer text is
// not returned at all. Returns the number of characters, 0 for none, or
// kPdf417AllocationFailed (the last result then KVX_ERR_OUT_OF_MEMORY).
int ReadPdf417(imaging::ConstImageView zone, int maxChars, Pdf417Reading& out);

}  // namespace kovran::decoders::pdf417
