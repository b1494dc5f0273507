// Reading 1D barcodes in a zone of a grey document image: the zone is
// cleaned, scanned in horizontal bands, each band's bar and space widths are
// decoded by the symbology decoders, and the band readings are merged so that
// a character's confidence counts how often and how cleanly it was read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoders/char_box.h"
#include "imaging/image_view.h"

namespace kovran::decoders::barcode {

// The settings the reader takes from the OCR settings and the zone strategy.
struct BarcodeSettings {
    // "BarcodeMirror": retry every element list reversed.
    bool mirror = false;
    // "BARCODE_TRANSCODIFICA_FARMACEUTICA": six-character Code 39 readings
    // are Code 32 and come back as nine digits.
    bool pharmaceutical = false;
    // A calibration file is loaded: a band with too many bars is then worth
    // an error line in the log.
    bool calibrationLoaded = false;
};

// The last-symbology record that the parameter query reports.
inline constexpr int kNoSymbologyRead = -2;
struct BarcodeState {
    int lastSymbology = kNoSymbologyRead;
};

// The reading of a zone: one confidence (1 to 100) and one box per character.
struct BarcodeReading {
    std::string text;
    std::vector<std::uint8_t> confidence;
    std::vector<CharBox> boxes;
};

// CharBox values the barcode reader fills besides the edges.
inline constexpr std::size_t kBoxVerified = 9;    // low byte 1: check verified
inline constexpr std::size_t kBoxSymbology = 10;  // the symbology index
inline constexpr std::size_t kBoxReversed = 11;   // low byte 1: reversed list

// The result of ReadBarcodes when the work copy of the zone cannot be made
// (the last result is then KVX_ERR_OUT_OF_MEMORY).
inline constexpr int kBarcodeAllocationFailed = -1;

// Reads the barcodes of `zone` (8-bit grey; its horizontal resolution is the
// r of the size rules) with zone font `font`: 7 reads every symbology, 300 to
// 310 the one of index font - 300 (302 and 305 read nothing). At most
// `maxChars` characters come back. Returns the number of characters (0 when
// nothing was read) or kBarcodeAllocationFailed; `state` records the
// symbology of the reading.
int ReadBarcodes(imaging::ConstImageView zone, int font, int maxChars,
                 const BarcodeSettings& settings, BarcodeState& state, BarcodeReading& out);

}  // namespace kovran::decoders::barcode
