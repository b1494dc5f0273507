// Print and scan degradations. A level picks ranges from which the seed
// draws the actual values; values given explicitly in the description win.
// Sizes of the image effects are in pixels at 300 dpi and scaled to the
// image's resolution; codeline print effects are in millimetres.
//
// Every scan passes through the sensor's optics: a Gaussian of
// `kSensorOpticsBlur` pixels at 300 dpi (about 0.04 mm on the paper), which
// the level's own blur adds to in quadrature. A contact image sensor never
// samples the paper point by point; without it a 0.15 mm CMC7 stroke that
// falls badly on the pixel grid binarises one pixel wide on a 300 dpi scan
// that no real scanner delivers.
//
// Levels:
//   0 clean: nominal print, scanned through the sensor's optics only;
//   1 light: office-scanner noise, skew up to 0.5 degree, stroke -0.01 to
//     +0.03 mm, slight pitch and baseline jitter, at most one local defect;
//   2 medium: skew up to 1.2 degrees, JPEG 55-75, stroke -0.02 to +0.06 mm,
//     grey print possible, two local defects, an intrusion on half of the
//     documents;
//   3 heavy: skew up to 2 degrees, stroke -0.03 to +0.09 mm, low contrast,
//     four defects, one intrusion;
//   4 hard: skew up to 3 degrees, strong blur and noise, stroke -0.03 to
//     +0.12 mm (ink spread fills the counters), grey print, seven defects,
//     two intrusions.
// The print values (stroke, darkness, pitch and baseline jitter, local
// defects) apply to the machine-read OCR-A and OCR-B lines as well; the
// intrusions cross the codeline only. The OCR lines also wear as forms
// printed by office and impact printers do: ink fading in patches (low
// toner, a worn ribbon), dot-matrix print, a pitch tight enough for
// neighbours to touch, and ink that varies from character to character;
// none at level 0, growing to level 4 (see kOcrWear in degradation.cpp).
#pragma once

#include <cstdint>

#include <nlohmann/json_fwd.hpp>

#include "testing/synth/description.h"
#include "testing/synth/image.h"

namespace kovran::synth {

// The sensor's own blur (Gaussian sigma, pixels at 300 dpi).
inline constexpr double kSensorOpticsBlur = 0.45;

struct DegradationValues {
    double skewDeg = 0.0;
    double blur = 0.0;  // Gaussian sigma, pixels at 300 dpi, beside the optics
    double opticsBlur = kSensorOpticsBlur;
    double noise = 0.0;  // grey levels
    double contrast = 1.0;
    double brightness = 0.0;
    double inkSpread = 0.0;         // pixels at 300 dpi
    int jpegQuality = 0;            // 0: no JPEG round trip
    double strokeMm = 0.0;          // codeline stroke growth (< 0 light print)
    double inkDarkness = 1.0;       // codeline ink: 1 black, lower grey
    double pitchJitterMm = 0.0;     // per-character sideways jitter (standard deviation)
    double baselineJitterMm = 0.0;  // per-character vertical jitter (standard deviation)
    int defects = 0;                // local defects on codeline characters
    int intrusions = 0;             // strokes, stamps or endorsements across the codeline
    // Wear of the machine-read OCR lines (the codeline keeps its own print):
    double fadeDepth = 0.0;     // low toner, worn ribbon: deepest loss of ink in a patch (share)
    double dotPitchMm = 0.0;    // impact or dot-matrix print on this dot grid (0: solid print)
    double pitchSqueeze = 0.0;  // the pitch this share tighter than the font's (neighbours touch)
    double charInkSd = 0.0;     // per-character spread of the ink (share of its darkness)
};

DegradationValues ResolveDegradation(const Degradation& d);
nlohmann::json ToJson(const DegradationValues& v);

// Everything but the skew, which the renderer applies to all sides alike.
// `stream` separates the noise of the sides.
void DegradeImage(ImageBuffer& image, const DegradationValues& v, double dpi, std::uint64_t seed,
                  std::uint64_t stream);

}  // namespace kovran::synth
