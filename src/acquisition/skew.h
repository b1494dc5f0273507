// The combination of the front and rear skew angles of one document.
#pragma once

#include <cstdint>

namespace kovran::acquisition {

// Angles in radians (kNoSkew: not measured) with their edge-sample counts.
struct SkewPair {
    float front;
    float rear;
    std::int16_t frontWeight;
    std::int16_t rearWeight;
};

struct SkewContext {
    bool cmc7Strip = false;
    bool deskewMicr = false;
    // Front plus rear height below front plus rear width: a wide document,
    // whose smaller angles are noise.
    bool heightsBelowWidths = false;
};

// The front's angle and the rear's (its negation), or both 0 when the
// measurements cannot be trusted.
SkewPair CombineSkew(SkewPair in, const SkewContext& ctx);

}  // namespace kovran::acquisition
