#include "decoders/barcode/print_quality.h"

#include <algorithm>
#include <new>
#include <vector>

#include "api/log.h"

namespace kovran::decoders::barcode {

namespace {

constexpr int kBright = 128;

}  // namespace

PrintQuality AnalysePrintQuality(imaging::ConstImageView band, int firstColumn, int lastColumn,
                                 double moduleSamples, ConfidenceLevels fallback) {
    PrintQuality out{.levels = fallback, .contrast = 0};
    firstColumn = std::max(firstColumn, 0);
    lastColumn = std::min(lastColumn, band.Width() - 1);
    const int rows = band.Height();
    if (lastColumn < firstColumn || rows <= 0) return out;
    const int columns = lastColumn - firstColumn + 1;

    std::vector<int> share;
    try {
        share.resize(static_cast<std::size_t>(columns));
    } catch (const std::bad_alloc&) {
        LogPair("war - ", "no barcode image analysis A");
        return out;
    }
    std::vector<int> bright;
    try {
        bright.assign(static_cast<std::size_t>(columns), 0);
    } catch (const std::bad_alloc&) {
        LogPair("war - ", "no barcode image analysis B");
        return out;
    }
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t* row = band.Row(y);
        for (int x = 0; x < columns; ++x)
            if (row[(firstColumn + x) * band.Channels()] > kBright)
                ++bright[static_cast<std::size_t>(x)];
    }
    for (int x = 0; x < columns; ++x)
        share[static_cast<std::size_t>(x)] = bright[static_cast<std::size_t>(x)] * 100 / rows;

    // Columns too dark (bars) and too light (spaces): a good print has many
    // of both; the scarcer of the two measures the contrast.
    const int u = std::clamp(columns / 5, 3, 64);
    const int v = std::max(u + 10, columns < 82 ? columns * 4 / 10 : 64);
    int dark = 0;
    int light = 0;
    for (int s : share) {
        if (s < u) ++dark;
        if (s > v) ++light;
    }
    int x = std::min(std::min(dark * 200 / columns, 100), std::min(light * 200 / columns, 100));
    if (rows <= 16)
        x /= 3;
    else if (rows <= 32)
        x = x * 2 / 3;
    out.contrast = x;

    ConfidenceLevels levels;
    if (rows > 16) {
        levels.verified = std::min(x, 32);
        levels.unverified = 20;
    } else {
        levels.verified = std::clamp(x, 10, 26);
        levels.unverified = std::clamp(x / 3, 10, 13);
    }
    if (moduleSamples > 64) {
        levels.verified = std::clamp(levels.verified / 3, 10, 30);
        levels.unverified = std::clamp(levels.unverified / 3, 5, 10);
    } else if (moduleSamples > 32) {
        levels.verified = std::clamp(levels.verified / 3, 10, 30);
        levels.unverified = 10;
    }
    out.levels = levels;
    return out;
}

}  // namespace kovran::decoders::barcode
