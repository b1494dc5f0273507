#include "acquisition/double_feed.h"

#include <algorithm>
#include <vector>

namespace kovran::acquisition {
namespace {

// Window centres at 300 dpi; the front and the rear see the sensors from
// opposite faces, so their columns mirror each other.
constexpr std::array<int, kDoubleSheetSensors> kFrontCentre = {1100, 2330, 220};
constexpr std::array<int, kDoubleSheetSensors> kRearCentre = {1450, 220, 2330};
constexpr int kWindowWidth300 = 64;
constexpr int kBaseDpi = 300;
constexpr std::uint8_t kUncalibratedDark = 10;
constexpr std::uint8_t kUncalibratedBright = 128;
constexpr int kSensorDistance300 = 472;
constexpr int kRearDistance300 = 272;
constexpr int kLimit300 = 100;

}  // namespace

SensorWindow WindowOf(SensorFace face, int sensor, int dpiH) {
    const auto i = static_cast<std::size_t>(std::clamp(sensor, 0, kDoubleSheetSensors - 1));
    const int centre = face == SensorFace::Front ? kFrontCentre[i] : kRearCentre[i];
    const int dpi = dpiH > 0 ? dpiH : kBaseDpi;
    const int half = kWindowWidth300 / 2;
    return {(centre - half) * dpi / kBaseDpi, (centre + half) * dpi / kBaseDpi};
}

DarkThresholds ThresholdsFrom(const std::array<std::uint8_t, 5>& black,
                              const std::array<std::uint8_t, 5>& white, bool calibrated) {
    DarkThresholds t;
    for (std::size_t c = 0; c < t.dark.size(); ++c) {
        if (!calibrated || white[c] <= black[c]) {
            t.dark[c] = kUncalibratedDark;
            t.bright[c] = kUncalibratedBright;
            continue;
        }
        const int span = white[c] - black[c];
        t.dark[c] = static_cast<std::uint8_t>(black[c] + span / 4);
        t.bright[c] = static_cast<std::uint8_t>(black[c] + span / 2);
    }
    return t;
}

int RunLimit(int lines) {
    if (lines > 15) return 8;
    if (lines >= 8) return lines / 2;
    return 4;
}

std::uint8_t DarkWindows(const ImageRecord& side, SensorFace face, std::int32_t first,
                         std::int32_t lines, const DarkThresholds& thresholds) {
    if (side.data == nullptr || lines <= 0 || first < 0) return 0;
    const int limit = RunLimit(lines);
    const int channels = std::min<int>(side.channels, static_cast<int>(thresholds.dark.size()));
    std::uint8_t mask = 0;
    // Each column keeps its own count down the lines; the lines are walked
    // in order with all the window's columns side by side, as they lie in
    // memory.
    std::vector<int> counts;
    for (int s = 0; s < kDoubleSheetSensors; ++s) {
        const SensorWindow w = WindowOf(face, s, side.dpiH);
        const int from = std::max(w.first, 0);
        const int to = std::min<int>(w.last, side.width);
        if (to <= from) continue;
        const auto columns = static_cast<std::size_t>(to - from);
        bool dark = false;
        for (int c = 0; c < channels && !dark; ++c) {
            const auto ci = static_cast<std::size_t>(c);
            const std::uint8_t darkLevel = thresholds.dark[ci];
            const std::uint8_t brightLevel = thresholds.bright[ci];
            counts.assign(columns, 0);
            for (std::int32_t y = first; y < first + lines; ++y) {
                const std::uint8_t* row = side.data + static_cast<std::size_t>(y) * side.stride +
                                          static_cast<std::size_t>(c) * side.channelPitch +
                                          static_cast<std::size_t>(side.left + from);
                for (std::size_t x = 0; x < columns; ++x) {
                    int& count = counts[x];
                    if (row[x] < darkLevel)
                        ++count;
                    else if (row[x] > brightLevel && count > 0 && count < limit)
                        --count;
                }
            }
            dark = std::any_of(counts.begin(), counts.end(), [&](int n) { return n > limit; });
        }
        if (dark) mask = static_cast<std::uint8_t>(mask | (1u << s));
    }
    return mask;
}

SequenceGeometry GeometryFor(int frontDpiV) {
    const int dpi = frontDpiV > 0 ? frontDpiV : kBaseDpi;
    return {.sensorDistance = kSensorDistance300 * dpi / kBaseDpi,
            .rearDistance = kRearDistance300 * dpi / kBaseDpi,
            .limit = kLimit300 * dpi / kBaseDpi,
            .dpiV = dpi};
}

}  // namespace kovran::acquisition
