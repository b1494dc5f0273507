// Reed-Solomon error correction of a PDF417 symbol over GF(929), the prime
// field of the codeword values, with generator powers of 3 starting at 3^1.
#pragma once

#include <span>
#include <vector>

namespace kovran::decoders::pdf417 {

inline constexpr int kFieldSize = 929;
// Positions a locator can tell apart: the order of the generator 3.
inline constexpr int kMaxCodewordsPerCode = kFieldSize - 1;
// The most unknown error locations the solver takes on.
inline constexpr int kMaxLocatorUnknowns = 254;

enum class Correction {
    Corrected,        // the codewords now form a code word (possibly unchanged)
    TooManyErasures,  // more erasures than the level repairs
    Uncorrectable,    // errors beyond the code's reach, or a result that fails its check
    DivisionByZero,   // the error values could not be computed
};

struct CorrectionOutcome {
    Correction result = Correction::Uncorrectable;
    int errors = 0;  // errors found besides the erasures
};

// The largest erasure count that level `ecLevel` still corrects: two fewer
// than its error correction codewords, so that the result keeps a check.
int MostErasures(int ecLevel);
// 2^(level + 1).
int ErrorCorrectionCodewords(int ecLevel);

// Corrects `codewords` (data then `ecCount` error correction codewords; a
// value outside 0..928 is an erasure) in place. Erasure positions are those
// values; the caller has already refused counts above MostErasures.
CorrectionOutcome CorrectCodewords(std::span<int> codewords, int ecCount);

// The error correction codewords of `data` (the encoder's side, for tests and
// symbols built in memory).
std::vector<int> ComputeErrorCorrection(std::span<const int> data, int ecCount);

}  // namespace kovran::decoders::pdf417
