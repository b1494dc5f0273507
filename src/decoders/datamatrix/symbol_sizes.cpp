#include "decoders/datamatrix/symbol_sizes.h"

#include <array>
#include <cstdlib>
#include <limits>

namespace kovran::decoders::datamatrix {

namespace {

constexpr std::array<SymbolSize, 21> kSizes{{
    {10, 10, 8, 8, 1, 1, 3, 5, 1},      {12, 12, 10, 10, 1, 1, 5, 7, 1},
    {14, 14, 12, 12, 1, 1, 8, 10, 1},   {16, 16, 14, 14, 1, 1, 12, 12, 1},
    {18, 18, 16, 16, 1, 1, 18, 14, 1},  {20, 20, 18, 18, 1, 1, 22, 18, 1},
    {22, 22, 20, 20, 1, 1, 30, 20, 1},  {24, 24, 22, 22, 1, 1, 36, 24, 1},
    {26, 26, 24, 24, 1, 1, 44, 28, 1},  {32, 32, 14, 14, 2, 2, 62, 36, 1},
    {36, 36, 16, 16, 2, 2, 86, 42, 1},  {40, 40, 18, 18, 2, 2, 114, 48, 1},
    {44, 44, 20, 20, 2, 2, 144, 56, 1}, {48, 48, 22, 22, 2, 2, 174, 68, 1},
    {52, 52, 24, 24, 2, 2, 204, 84, 2}, {8, 18, 6, 16, 1, 1, 5, 7, 1},
    {8, 32, 6, 14, 1, 2, 10, 11, 1},    {12, 26, 10, 24, 1, 1, 16, 14, 1},
    {12, 36, 10, 16, 1, 2, 22, 18, 1},  {16, 36, 14, 16, 1, 2, 32, 24, 1},
    {16, 48, 14, 22, 1, 2, 49, 28, 1},
}};

// The size among those passing `keep` whose `key` lies nearest `target`
// (the first in table order on a tie).
template <typename Keep, typename Key>
std::optional<SymbolSize> Nearest(Keep keep, Key key, int target) {
    std::optional<SymbolSize> best;
    int bestDistance = std::numeric_limits<int>::max();
    for (const SymbolSize& s : kSizes) {
        if (!keep(s)) continue;
        const int distance = std::abs(key(s) - target);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = s;
        }
    }
    return best;
}

}  // namespace

std::span<const SymbolSize> AcceptedSizes() {
    return kSizes;
}

std::optional<SymbolSize> FindSize(int rows, int columns) {
    for (const SymbolSize& s : kSizes)
        if (s.rows == rows && s.columns == columns) return s;
    return std::nullopt;
}

std::optional<SymbolSize> MatchSize(int rows, int columns) {
    std::optional<SymbolSize> match = FindSize(rows, columns);
    const auto byColumns = [](const SymbolSize& s) { return s.columns; };
    const auto byRows = [](const SymbolSize& s) { return s.rows; };
    if (!match)
        match = Nearest([&](const SymbolSize& s) { return s.rows == rows; }, byColumns, columns);
    if (!match)
        match = Nearest([&](const SymbolSize& s) { return s.columns == columns; }, byRows, rows);
    if (!match && rows < columns)
        match = Nearest([&](const SymbolSize& s) { return std::abs(s.rows - rows) <= 1; },
                        byColumns, columns);
    if (!match)
        match = Nearest([&](const SymbolSize& s) { return std::abs(s.columns - columns) <= 1; },
                        byRows, rows);
    if (!match || std::abs(match->rows - rows) > 2 || std::abs(match->columns - columns) > 2)
        return std::nullopt;
    return match;
}

}  // namespace kovran::decoders::datamatrix
