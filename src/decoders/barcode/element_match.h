// Helpers the element decoders share: matching widths against module
// patterns, and the mod 10 check of the retail codes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kovran::decoders::barcode::detail {

// How far `widths` lie from `pattern` (module counts): the widths are scaled
// so that their sum equals the pattern's, and the result is the summed
// absolute difference in modules divided by the pattern's total. Returns a
// large value when a single element is off by more than `maxElement` modules
// or the widths sum to nothing.
double PatternDistance(std::span<const int> widths, std::span<const std::uint8_t> pattern,
                       double maxElement = 0.7);

// A distance at or below this is a match; the best match must also beat the
// second best by kMinMatchMargin.
inline constexpr double kMaxMatchDistance = 0.14;
inline constexpr double kMinMatchMargin = 0.04;

// The index of the pattern (rows of `columns` modules in `table`) that
// `widths` match best, or -1 when none matches clearly. Widths are compared
// element by element first, then edge to edge (sums of neighbours).
int BestPattern(std::span<const int> widths, std::span<const std::uint8_t> table, int columns);

// The GS1 mod 10 check digit of a string of digits (weights 3, 1, 3, ...
// from the right).
int Mod10CheckDigit(const std::string& digits);

}  // namespace kovran::decoders::barcode::detail
