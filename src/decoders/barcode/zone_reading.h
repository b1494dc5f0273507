// The reading a zone accumulates while its bands are scanned: characters with
// confidence and box, grouped into one stretch per barcode, and the merge of
// a band's reading into it.
#pragma once

#include <string>
#include <vector>

#include "decoders/barcode/barcode_reader.h"
#include "decoders/barcode/symbology.h"

namespace kovran::decoders::barcode {

// Boxes of two readings of one barcode lie within this many pixels.
inline constexpr int kMergeDistance = 49;
// Confidence sums stop here, or at 100 when a check verified.
inline constexpr int kUnverifiedCap = 90;
inline constexpr int kFullConfidence = 100;

struct ReadChar {
    char ch = 0;
    int confidence = 0;
    bool verified = false;
};

// One barcode's text as read in one or more bands.
struct Stretch {
    Symbology symbology = Symbology::Code39;
    bool reversed = false;
    int left = 0;  // pixels of the zone
    int right = 0;
    int bottom = 0;
    std::vector<ReadChar> chars;

    bool Verified() const;
    double MeanConfidence() const;
};

enum class MergeResult { Merged, TooManyChars };

class ZoneReading {
  public:
    explicit ZoneReading(int maxChars) : maxChars_(maxChars) {}

    // Merges one barcode reading; logs "barcode reading - too many char" and
    // keeps the reading as it was when the result would be too long.
    MergeResult Merge(const Stretch& reading);

    bool Empty() const { return stretches_.empty(); }
    // Every character has reached full confidence.
    bool Complete() const;
    const std::vector<Stretch>& Stretches() const { return stretches_; }

    // The final text: a barcode with a character below 40 (20 when
    // verified) goes whole; the barcodes left are joined by a blank. Returns
    // the symbology of the first barcode left, or kNoSymbologyRead.
    int Finish(BarcodeReading& out) const;

  private:
    std::size_t Length(const std::vector<Stretch>& stretches) const;

    int maxChars_;
    std::vector<Stretch> stretches_;
};

}  // namespace kovran::decoders::barcode
