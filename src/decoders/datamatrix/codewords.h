// From the module matrix to the text: the codeword placement of ECC 200,
// the Reed-Solomon correction of each block and the data encodation.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decoders/datamatrix/symbol_sizes.h"

namespace kovran::decoders::datamatrix {

// Receives the reader's log lines.
using MessageSink = std::function<void(std::string_view)>;

// The module matrix of a symbol: its data regions side by side, finder and
// clock patterns removed; 1 is a dark module.
struct ModuleMatrix {
    int rows = 0;
    int columns = 0;
    std::vector<std::uint8_t> modules;  // row by row
};

// The codewords in placement order read from the matrix; empty when the
// matrix is larger than kMaxMatrixModules either way or not of its size.
std::vector<std::uint8_t> ReadMatrix(const ModuleMatrix& matrix);

// Where each bit of each codeword sits in a rows x columns matrix: for
// codeword k, entries 8k to 8k+7 are the module indices (row x columns +
// column) of its bits, most significant first. Exposed for encoders in tests.
std::vector<int> PlacementOrder(int rows, int columns);

enum class CodewordResult { Read, Uncorrectable, Undecodable };

struct CodewordOutcome {
    CodewordResult result = CodewordResult::Undecodable;
    std::string text;
};

// Corrects the symbol's codewords (data then error correction, blocks
// interleaved) and decodes the data. `codewords` may be of any length: a
// count other than the size's is refused.
CodewordOutcome DecodeCodewords(const SymbolSize& size, std::span<const std::uint8_t> codewords,
                                const MessageSink& log);

}  // namespace kovran::decoders::datamatrix
