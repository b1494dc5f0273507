#include "imaging/zone_cleaning.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace kovran::imaging {

namespace {

enum class From { DarkEnd, LightEnd };

// The level below which (from the dark end) or above which (from the light
// end) `share` percent of the pixels lie.
int Percentile(const std::array<std::uint64_t, 256>& histogram, std::uint64_t total,
               std::uint64_t share, From from) {
    const bool fromDark = from == From::DarkEnd;
    std::uint64_t seen = 0;
    for (int i = 0; i < 256; ++i) {
        const int level = fromDark ? i : 255 - i;
        seen += histogram[static_cast<std::size_t>(level)];
        if (seen * 100 > total * share) return level;
    }
    return fromDark ? 255 : 0;
}

}  // namespace

ImageBuffer CleanZone(ConstImageView zone, int offset) {
    offset = std::clamp(offset, kCleaningOffsetMin, kCleaningOffsetMax);
    ImageBuffer out(zone.Width(), zone.Height(), 1, 0, zone.Res());
    if (zone.Empty()) return out;

    std::array<std::uint64_t, 256> histogram{};
    for (int y = 0; y < zone.Height(); ++y)
        for (int x = 0; x < zone.Width(); ++x) ++histogram[zone.At(x, y)];
    const std::uint64_t total =
        static_cast<std::uint64_t>(zone.Width()) * static_cast<std::uint64_t>(zone.Height());
    const int black = Percentile(histogram, total, 1, From::DarkEnd);
    const int white = Percentile(histogram, total, 1, From::LightEnd);

    std::array<std::uint8_t, 256> map{};
    for (int level = 0; level < 256; ++level) {
        int v = level;
        if (white - black >= kMinCleaningContrast)
            v = std::clamp((level - black) * 255 / (white - black), 0, 255);
        map[static_cast<std::size_t>(level)] =
            static_cast<std::uint8_t>(std::clamp(v + offset, 0, 255));
    }
    for (int y = 0; y < zone.Height(); ++y) {
        const std::uint8_t* src = zone.Row(y);
        std::uint8_t* dst = out.Row(y);
        const int channels = zone.Channels();
        for (int x = 0; x < zone.Width(); ++x) dst[x] = map[src[x * channels]];
    }
    return out;
}

}  // namespace kovran::imaging
