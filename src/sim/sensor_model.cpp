#include "sim/sensor_model.h"

#include <cmath>

namespace kovran::sim {

namespace {

std::uint64_t Hash(std::uint64_t x) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    x ^= x >> 33;
    return x;
}

}  // namespace

double SensorModel::Unit(SensorSide side, int channel, int pixel, int dpi,
                         std::uint32_t salt) const {
    // A slow ripple across the sensor (lamp and lens fall-off) plus a
    // per-pixel scatter, both fixed by the seed.
    const std::uint64_t key = (static_cast<std::uint64_t>(s_.seed) << 32) ^
                              (static_cast<std::uint64_t>(side) << 28) ^
                              (static_cast<std::uint64_t>(channel & 0xF) << 24) ^
                              (static_cast<std::uint64_t>(salt) << 20);
    const double scatter =
        static_cast<double>(Hash(key ^ static_cast<std::uint64_t>(pixel)) >> 11) /
        9007199254740992.0;
    const double phase = static_cast<double>(Hash(key) % 1000) / 1000.0 * 6.283185307179586;
    const double inches = dpi > 0 ? static_cast<double>(pixel) / dpi : 0.0;
    const double ripple = 0.5 + 0.5 * std::sin(inches * 1.3 + phase);
    return 0.6 * ripple + 0.4 * scatter;
}

double SensorModel::Dark(SensorSide side, int channel, int pixel, int dpi) const {
    return s_.darkMin + (s_.darkMax - s_.darkMin) * Unit(side, channel, pixel, dpi, 1);
}

double SensorModel::Gain(SensorSide side, int channel, int pixel, int dpi) const {
    return s_.gainMin + (s_.gainMax - s_.gainMin) * Unit(side, channel, pixel, dpi, 2);
}

std::uint8_t SensorModel::Raw(double dark, double gain, std::uint8_t reflectance) {
    const double v = dark + gain * reflectance;
    if (v <= 0.0) return 0;
    if (v >= kMaxRawSample) return kMaxRawSample;
    return static_cast<std::uint8_t>(v + 0.5 >= kMaxRawSample ? kMaxRawSample : v + 0.5);
}

std::vector<int> SensorModel::DustSpecks(int pixels) const {
    std::vector<int> out;
    if (pixels <= 2 * kDustSpeckPixels) return out;
    for (int i = 0; i < s_.dustSpecks; ++i) {
        const std::uint64_t h = Hash((static_cast<std::uint64_t>(s_.seed) << 32) ^ 0xD057u ^
                                     static_cast<std::uint64_t>(i) * 0x9E3779B97F4A7C15ull);
        // Away from the ends, where the sheet's edge is.
        const int span = pixels - 2 * kDustSpeckPixels - pixels / 4;
        out.push_back(pixels / 8 + static_cast<int>(h % static_cast<std::uint64_t>(span)));
    }
    return out;
}

double SensorModel::Noise(std::uint32_t line, int pixel) const {
    if (s_.noise <= 0) return 0.0;
    const std::uint64_t h =
        Hash((static_cast<std::uint64_t>(line) << 32) ^ static_cast<std::uint64_t>(pixel) ^
             (static_cast<std::uint64_t>(s_.seed) << 48));
    const double unit = static_cast<double>(h >> 11) / 9007199254740992.0;
    return (unit * 2.0 - 1.0) * s_.noise;
}

}  // namespace kovran::sim
