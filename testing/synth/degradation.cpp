#include "testing/synth/degradation.h"

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
};

// Upper ends of each level; the seed draws between 60 % and 100 % of them.
constexpr LevelRange kLevels[4] = {
    {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0, 0},
    {0.5, 0.5, 2.5, 0.06, 6.0, 0.3, 80, 92},
    {1.2, 0.9, 5.0, 0.15, 14.0, 0.7, 55, 75},
    {2.2, 1.4, 9.0, 0.30, 24.0, 1.2, 30, 50},
};

}  // namespace

DegradationValues ResolveDegradation(const Degradation& d) {
    if (d.level < 0 || d.level > 3) throw std::invalid_argument("degradation level");
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
    if (d.skewDeg) v.skewDeg = *d.skewDeg;
    if (d.blur) v.blur = *d.blur;
    if (d.noise) v.noise = *d.noise;
    if (d.contrast) v.contrast = *d.contrast;
    if (d.brightness) v.brightness = *d.brightness;
    if (d.inkSpread) v.inkSpread = *d.inkSpread;
    if (d.jpegQuality) v.jpegQuality = *d.jpegQuality;
    return v;
}

nlohmann::json ToJson(const DegradationValues& v) {
    return {{"skew_deg", v.skewDeg},
            {"blur", v.blur},
            {"noise", v.noise},
            {"contrast", v.contrast},
            {"brightness", v.brightness},
            {"ink_spread", v.inkSpread},
            {"jpeg_quality", v.jpegQuality}};
}

void DegradeImage(ImageBuffer& image, const DegradationValues& v, double dpi, std::uint64_t seed,
                  std::uint64_t stream) {
    const double scale = dpi / 300.0;
    InkSpread(image, v.inkSpread * scale);
    GaussianBlur(image, v.blur * scale);
    AdjustContrastBrightness(image, v.contrast, v.brightness);
    Rng rng(seed ^ (0xD1B54A32D192ED03ULL * (stream + 1)));
    AddNoise(image, v.noise, rng);
    if (v.jpegQuality > 0) JpegRoundTrip(image, v.jpegQuality);
}

}  // namespace kovran::synth
