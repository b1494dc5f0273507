// The codewords of a whole symbol to its text: the erasure count against the
// error correction level, Reed-Solomon correction, the symbol length
// descriptor and the high-level decoding.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kovran::decoders::pdf417 {

inline constexpr int kErasure = -1;
// The most codewords of one symbol, and of one row.
inline constexpr int kMaxSymbolCodewords = 9599;
inline constexpr int kMaxColumns = 30;
inline constexpr int kMinRows = 3;
inline constexpr int kMaxRows = 90;
inline constexpr int kMaxEcLevel = 8;

enum class SymbolResult { Read, TooManyErasures, Uncorrectable, Undecodable };

struct SymbolOutcome {
    SymbolResult result = SymbolResult::Undecodable;
    std::string text;
    int errors = 0;  // errors corrected besides the erasures
    int erasures = 0;
};

// `codewords`: every codeword of the symbol in reading order (row by row,
// the row indicators left out), kErasure where unread; `ecLevel` 0 to 8.
SymbolOutcome DecodeSymbol(std::vector<int> codewords, int ecLevel, std::size_t maxChars);

}  // namespace kovran::decoders::pdf417
