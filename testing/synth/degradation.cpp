#include "testing/synth/degradation.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "testing/synth/image_io.h"
#include "testing/synth/image_ops.h"
#include "testing/synth/rng.h"

namespace kovran::synth {

namespace {

struct LevelRange {
    double skew, blur, noise, contrastLoss, brightness, inkSpread;
    int jpegFrom, jpegTo;
    double strokeLo, strokeHi, darknessLo;
    double pitchJitter, baselineJitter;
    int defects, intrusionsLo, intrusionsHi;
};

// Wear of the OCR lines by level: the deepest fade of a patch, the share
// of documents printed by an impact (dot-matrix) printer and its dot grid,
// the largest tightening of the pitch, and the spread of ink per character.
struct OcrWearRange {
    double fade, dotShare, dotPitchLo, dotPitchHi, squeeze, charInkSd;
};

constexpr OcrWearRange kOcrWear[kMaxDegradationLevel + 1] = {
    {0.0, 0.0, 0.0, 0.0, 0.0, 0.0},        // 0
    {0.2, 0.0, 0.0, 0.0, 0.03, 0.04},      // 1
    {0.45, 0.1, 0.14, 0.18, 0.07, 0.08},   // 2
    {0.7, 0.35, 0.17, 0.25, 0.12, 0.12},   // 3
    {0.75, 0.35, 0.18, 0.28, 0.14, 0.15},  // 4
};

// Upper ends of each level; the seed draws between 60 % and 100 % of the
// image effects, and uniformly within the print ranges.
constexpr LevelRange kLevels[kMaxDegradationLevel + 1] = {
    {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0, 0, 0.0, 0.0, 1.0, 0.0, 0.0, 0, 0, 0},
    {0.5, 0.5, 2.5, 0.06, 6.0, 0.3, 80, 92, -0.01, 0.03, 0.9, 0.02, 0.02, 1, 0, 0},
    {1.2, 0.8, 5.0, 0.15, 14.0, 0.5, 55, 75, -0.02, 0.06, 0.7, 0.04, 0.04, 2, 0, 1},
    {2.0, 1.1, 8.0, 0.25, 20.0, 0.6, 40, 60, -0.03, 0.09, 0.55, 0.06, 0.06, 4, 1, 1},
    {3.0, 1.4, 10.0, 0.35, 24.0, 0.8, 30, 50, -0.03, 0.12, 0.45, 0.09, 0.09, 7, 2, 2},
};

}  // namespace

DegradationValues ResolveDegradation(const Degradation& d) {
    if (d.level < 0 || d.level > kMaxDegradationLevel)
        throw std::invalid_argument("degradation level");
    const LevelRange& L = kLevels[d.level];
    Rng rng(d.seed * 0x9E3779B97F4A7C15ULL + 17);
    auto draw = [&](double top) { return top * rng.Uniform(0.6, 1.0); };
    auto sign = [&] { return rng.Uniform() < 0.5 ? -1.0 : 1.0; };
    DegradationValues v;
    v.skewDeg = sign() * draw(L.skew);
    v.blur = draw(L.blur);
    v.noise = draw(L.noise);
    v.contrast = 1.0 - draw(L.contrastLoss);
    v.brightness = sign() * draw(L.brightness);
    v.inkSpread = draw(L.inkSpread);
    v.jpegQuality = L.jpegTo == 0 ? 0 : static_cast<int>(rng.Integer(L.jpegFrom, L.jpegTo));
    v.strokeMm = rng.Uniform(L.strokeLo, L.strokeHi);
    v.inkDarkness = rng.Uniform(L.darknessLo, 1.0);
    v.pitchJitterMm = L.pitchJitter;
    v.baselineJitterMm = L.baselineJitter;
    v.defects = static_cast<int>(rng.Integer(L.defects / 2, L.defects));
    v.intrusions = static_cast<int>(rng.Integer(L.intrusionsLo, L.intrusionsHi));
    // Drawn after the values above, which stay what they were for a seed.
    const OcrWearRange& O = kOcrWear[d.level];
    v.fadeDepth = draw(O.fade);
    v.dotPitchMm = rng.Uniform() < O.dotShare ? rng.Uniform(O.dotPitchLo, O.dotPitchHi) : 0.0;
    v.pitchSqueeze = rng.Uniform(0.0, O.squeeze);
    v.charInkSd = O.charInkSd;
    if (d.skewDeg) v.skewDeg = *d.skewDeg;
    if (d.blur) v.blur = *d.blur;
    if (d.opticsBlur) v.opticsBlur = *d.opticsBlur;
    if (d.noise) v.noise = *d.noise;
    if (d.contrast) v.contrast = *d.contrast;
    if (d.brightness) v.brightness = *d.brightness;
    if (d.inkSpread) v.inkSpread = *d.inkSpread;
    if (d.jpegQuality) v.jpegQuality = *d.jpegQuality;
    if (d.strokeMm) v.strokeMm = *d.strokeMm;
    if (d.inkDarkness) v.inkDarkness = *d.inkDarkness;
    if (d.pitchJitterMm) v.pitchJitterMm = *d.pitchJitterMm;
    if (d.baselineJitterMm) v.baselineJitterMm = *d.baselineJitterMm;
    if (d.defects) v.defects = *d.defects;
    if (d.intrusions) v.intrusions = *d.intrusions;
    if (d.fadeDepth) v.fadeDepth = *d.fadeDepth;
    if (d.dotPitchMm) v.dotPitchMm = *d.dotPitchMm;
    if (d.pitchSqueeze) v.pitchSqueeze = *d.pitchSqueeze;
    if (d.charInkSd) v.charInkSd = *d.charInkSd;
    return v;
}

nlohmann::json ToJson(const DegradationValues& v) {
    return {{"skew_deg", v.skewDeg},
            {"blur", v.blur},
            {"optics_blur", v.opticsBlur},
            {"noise", v.noise},
            {"contrast", v.contrast},
            {"brightness", v.brightness},
            {"ink_spread", v.inkSpread},
            {"jpeg_quality", v.jpegQuality},
            {"stroke_mm", v.strokeMm},
            {"ink_darkness", v.inkDarkness},
            {"pitch_jitter_mm", v.pitchJitterMm},
            {"baseline_jitter_mm", v.baselineJitterMm},
            {"defects", v.defects},
            {"intrusions", v.intrusions},
            {"fade_depth", v.fadeDepth},
            {"dot_pitch_mm", v.dotPitchMm},
            {"pitch_squeeze", v.pitchSqueeze},
            {"char_ink_sd", v.charInkSd}};
}

void DegradeImage(ImageBuffer& image, const DegradationValues& v, double dpi, std::uint64_t seed,
                  std::uint64_t stream) {
    const double scale = dpi / 300.0;
    InkSpread(image, v.inkSpread * scale);
    GaussianBlur(image, std::hypot(v.blur, v.opticsBlur) * scale);
    AdjustContrastBrightness(image, v.contrast, v.brightness);
    Rng rng(seed ^ (0xD1B54A32D192ED03ULL * (stream + 1)));
    AddNoise(image, v.noise, rng);
    if (v.jpegQuality > 0) JpegRoundTrip(image, v.jpegQuality);
}

}  // namespace kovran::synth
