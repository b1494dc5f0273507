// Print and scan degradations. A level (0 clean to 3 poor) picks ranges
// from which the seed draws the actual values; values given explicitly in
// the description win. Sizes are in pixels at 300 dpi and scaled to the
// image's resolution.
#pragma once

#include <cstdint>

#include <nlohmann/json_fwd.hpp>

#include "testing/synth/description.h"
#include "testing/synth/image.h"

namespace kovran::synth {

struct DegradationValues {
    double skewDeg = 0.0;
    double blur = 0.0;   // Gaussian sigma, pixels at 300 dpi
    double noise = 0.0;  // grey levels
    double contrast = 1.0;
    double brightness = 0.0;
    double inkSpread = 0.0;  // pixels at 300 dpi
    int jpegQuality = 0;     // 0: no JPEG round trip
};

DegradationValues ResolveDegradation(const Degradation& d);
nlohmann::json ToJson(const DegradationValues& v);

// Everything but the skew, which the renderer applies to all sides alike.
// `stream` separates the noise of the sides.
void DegradeImage(ImageBuffer& image, const DegradationValues& v, double dpi, std::uint64_t seed,
                  std::uint64_t stream);

}  // namespace kovran::synth
