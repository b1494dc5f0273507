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

}  // namespace kovran::sim
