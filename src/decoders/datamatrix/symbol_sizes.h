// The ECC 200 symbol sizes this reader accepts, with the layout of each:
// data regions, codeword counts and Reed-Solomon blocks. Symbols of 64 x 64
// modules and up are not read, so the module matrix never exceeds 52 x 52.
#pragma once

#include <optional>
#include <span>

namespace kovran::decoders::datamatrix {

struct SymbolSize {
    int rows = 0;  // modules, finder and clock included
    int columns = 0;
    int regionRows = 0;  // modules of one data region, borders excluded
    int regionColumns = 0;
    int regionsVertical = 0;
    int regionsHorizontal = 0;
    int dataCodewords = 0;
    int eccCodewords = 0;  // over all blocks
    int blocks = 0;

    int MatrixRows() const { return regionRows * regionsVertical; }
    int MatrixColumns() const { return regionColumns * regionsHorizontal; }
    int TotalCodewords() const { return dataCodewords + eccCodewords; }
};

inline constexpr int kMaxMatrixModules = 52;

std::span<const SymbolSize> AcceptedSizes();

// The accepted size with exactly these module counts, if any.
std::optional<SymbolSize> FindSize(int rows, int columns);

// Matches a measured module grid to an accepted size: exact; else the same
// rows and the nearest columns; else the same columns and the nearest rows;
// else (rows fewer than columns) rows within 1 and the nearest columns;
// else columns within 1 and the nearest rows. The match must lie within 2
// modules of the measurement both ways.
std::optional<SymbolSize> MatchSize(int measuredRows, int measuredColumns);

}  // namespace kovran::decoders::datamatrix
