// The automatic JPEG quality: the quality that puts a side's file inside
// the size window of its ini settings, found in at most ten further
// encodings, or the ini's fixed "Autoquality" when the cheque image-quality
// check is not running.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "KovranMS.h"
#include "imaging/output/encode_image.h"

namespace kovran::imaging::output {

// Encodes the side's image at a quality; null on a codec failure.
using QualityEncoder = std::function<std::optional<Bytes>(int quality)>;

struct AutoQualityResult {
    KVXResult result = KVX_OK;
    Bytes image;
    int quality = 0;
    int attempts = 0;  // encodings after the first
};

// side: 0 rear, 1 front, 2 backlight.
AutoQualityResult AutoQuality(int side, const QualityEncoder& encode);

// The state of the cheque image-quality check the codeline reading leaves;
// from kIqaCheckActive on the search runs.
inline constexpr int kIqaCheckActive = 3;
struct AutoQualityRecord {
    int iqaCheckState = 0;
    // "iqa_%06d_%04d%02d%02d_%02d%02d%02d", set once per scan by the
    // reading; the debug copies of the result are named after it.
    std::string iqaName;
};
AutoQualityRecord& AutoQualityState();

}  // namespace kovran::imaging::output
