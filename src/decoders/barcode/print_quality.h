// The print quality of one element run and the confidence levels it earns:
// a sharp, well-contrasted run earns more per band than a faint or blurred
// one, so that the merged confidence counts how cleanly a text was read.
#pragma once

#include "imaging/image_view.h"

namespace kovran::decoders::barcode {

struct ConfidenceLevels {
    int verified = 0;    // characters of a reading whose check verified
    int unverified = 0;  // the others
};

// The levels the attempts set when the analysis cannot run.
inline constexpr ConfidenceLevels kWholeZoneLevels{100, 30};
inline constexpr ConfidenceLevels kBandLevels{80, 20};

struct PrintQuality {
    ConfidenceLevels levels;
    int contrast = 0;  // X: 0 (poor) to 100
};

// Analyses the pixel columns [firstColumn, lastColumn] of `band` (the
// cleaned band the run was found in) for a run whose module estimate is
// `moduleSamples` profile samples. `fallback` stands when the analysis
// buffers cannot be had ("no barcode image analysis A"/"B").
PrintQuality AnalysePrintQuality(imaging::ConstImageView band, int firstColumn, int lastColumn,
                                 double moduleSamples, ConfidenceLevels fallback);

}  // namespace kovran::decoders::barcode
