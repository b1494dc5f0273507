#include "decoders/barcode/element_match.h"

#include <cmath>
#include <limits>
#include <optional>

namespace kovran::decoders::barcode::detail {

namespace {

constexpr double kNoMatch = std::numeric_limits<double>::max();

// Modules per pixel that lay the widths over the pattern, and the pattern's
// module count; nothing when a width is not positive or the sizes differ.
struct Scale {
    double modulesPerPixel;
    int modules;
};
std::optional<Scale> ScaleOf(std::span<const int> widths, std::span<const std::uint8_t> pattern) {
    if (widths.size() != pattern.size() || widths.empty()) return std::nullopt;
    long long total = 0;
    int modules = 0;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        if (widths[i] <= 0) return std::nullopt;
        total += widths[i];
        modules += pattern[i];
    }
    return Scale{static_cast<double>(modules) / static_cast<double>(total), modules};
}

}  // namespace

double PatternDistance(std::span<const int> widths, std::span<const std::uint8_t> pattern,
                       double maxElement) {
    const std::optional<Scale> s = ScaleOf(widths, pattern);
    if (!s) return kNoMatch;
    const double scale = s->modulesPerPixel;
    const int modules = s->modules;
    double sum = 0.0;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        const double off = std::fabs(widths[i] * scale - pattern[i]);
        if (off > maxElement) return kNoMatch;
        sum += off;
    }
    return sum / modules;
}

namespace {

// The distance measured edge to edge: the sums of neighbouring elements,
// which a blur that widens narrow elements at their neighbours' cost
// changes less than the elements themselves.
double PairDistance(std::span<const int> widths, std::span<const std::uint8_t> pattern) {
    if (widths.size() < 2) return kNoMatch;
    const std::optional<Scale> s = ScaleOf(widths, pattern);
    if (!s) return kNoMatch;
    const double scale = s->modulesPerPixel;
    const int modules = s->modules;
    double sum = 0.0;
    for (std::size_t i = 0; i + 1 < widths.size(); ++i) {
        const double off =
            std::fabs((widths[i] + widths[i + 1]) * scale - (pattern[i] + pattern[i + 1]));
        if (off > 0.7) return kNoMatch;
        sum += off;
    }
    return sum / (2.0 * modules);
}

int Best(std::span<const int> widths, std::span<const std::uint8_t> table, int columns,
         double (*distance)(std::span<const int>, std::span<const std::uint8_t>)) {
    double best = std::numeric_limits<double>::max();
    double second = best;
    int bestIndex = -1;
    const std::size_t rows = table.size() / static_cast<std::size_t>(columns);
    for (std::size_t r = 0; r < rows; ++r) {
        const double d = distance(widths, table.subspan(r * columns, columns));
        if (d < best) {
            second = best;
            best = d;
            bestIndex = static_cast<int>(r);
        } else if (d < second) {
            second = d;
        }
    }
    if (best > kMaxMatchDistance || second - best < kMinMatchMargin) return -1;
    return bestIndex;
}

double ElementDistance(std::span<const int> widths, std::span<const std::uint8_t> pattern) {
    return PatternDistance(widths, pattern);
}

}  // namespace

int BestPattern(std::span<const int> widths, std::span<const std::uint8_t> table, int columns) {
    const int byElements = Best(widths, table, columns, ElementDistance);
    if (byElements >= 0) return byElements;
    // Edge to edge, some patterns coincide (the retail digits 1 and 7, 2
    // and 8): among the patterns that match so, the element widths decide,
    // and must decide clearly.
    constexpr double kTieBreakMargin = 0.10;
    constexpr double kAnyElement = 100.0;
    const std::size_t rows = table.size() / static_cast<std::size_t>(columns);
    int chosen = -1;
    double best = std::numeric_limits<double>::max();
    double second = best;
    for (std::size_t r = 0; r < rows; ++r) {
        const auto pattern = table.subspan(r * columns, columns);
        if (PairDistance(widths, pattern) > kMaxMatchDistance) continue;
        const double d = PatternDistance(widths, pattern, kAnyElement);
        if (d < best) {
            second = best;
            best = d;
            chosen = static_cast<int>(r);
        } else if (d < second) {
            second = d;
        }
    }
    if (chosen < 0 || second - best < kTieBreakMargin) return -1;
    return chosen;
}

int Mod10CheckDigit(const std::string& digits) {
    int sum = 0;
    int weight = 3;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        sum += (*it - '0') * weight;
        weight = 4 - weight;
    }
    return (10 - sum % 10) % 10;
}

}  // namespace kovran::decoders::barcode::detail
