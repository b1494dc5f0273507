// The codeword layer against libdmtx's encoder: placement, Reed-Solomon
// correction and every encodation scheme, for every accepted size.
#include <dmtx.h>
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "decoders/datamatrix/codewords.h"
#include "decoders/datamatrix/encodation.h"
#include "decoders/datamatrix/symbol_sizes.h"
#include "symbol_images.h"

namespace kovran::decoders::datamatrix {
namespace {

// The data regions of a module grid, finder and clock patterns removed.
ModuleMatrix Regions(const test::ModuleGrid& grid, const SymbolSize& size) {
    ModuleMatrix matrix{size.MatrixRows(), size.MatrixColumns(), {}};
    matrix.modules.resize(static_cast<std::size_t>(matrix.rows) * matrix.columns);
    for (int r = 0; r < matrix.rows; ++r) {
        for (int c = 0; c < matrix.columns; ++c) {
            const int gr = (r / size.regionRows) * (size.regionRows + 2) + 1 + r % size.regionRows;
            const int gc =
                (c / size.regionColumns) * (size.regionColumns + 2) + 1 + c % size.regionColumns;
            matrix.modules[static_cast<std::size_t>(r) * matrix.columns + c] = grid.At(gr, gc);
        }
    }
    return matrix;
}

int DmtxSizeOf(const SymbolSize& s) {
    static const int kSquare[] = {10, 12, 14, 16, 18, 20, 22, 24, 26, 32, 36, 40, 44, 48, 52};
    for (int i = 0; i < 15; ++i)
        if (s.rows == s.columns && s.rows == kSquare[i]) return DmtxSymbol10x10 + i;
    static const int kRect[][2] = {{8, 18}, {8, 32}, {12, 26}, {12, 36}, {16, 36}, {16, 48}};
    for (int i = 0; i < 6; ++i)
        if (s.rows == kRect[i][0] && s.columns == kRect[i][1]) return DmtxSymbol8x18 + i;
    return -1;
}

// Text that fills about half of a size's data capacity, for a scheme.
std::string TextFor(const SymbolSize& s, int scheme, unsigned seed) {
    std::mt19937 random(seed);
    const std::string alphabets[] = {
        "Cheque 0123456789 ABC xyz!",               // ASCII
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789",    // C40
        "abcdefghijklmnopqrstuvwxyz 0123456789",    // Text
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789*> ",  // X12
        "ABCDEFGHIJ0123456789:;<=>?@ !\"#$%",       // EDIFACT
        "",                                         // Base 256: any byte
    };
    const int length = std::max(1, s.dataCodewords / 2);
    std::string text;
    for (int i = 0; i < length; ++i) {
        if (scheme == DmtxSchemeBase256) {
            text.push_back(static_cast<char>(random() % 256));
        } else {
            const std::string& a = alphabets[scheme];
            text.push_back(a[random() % a.size()]);
        }
    }
    return text;
}

TEST(DataMatrixCodewords, ReadsLibdmtxSymbolsOfEverySizeAndScheme) {
    int read = 0;
    for (const SymbolSize& size : AcceptedSizes()) {
        for (int scheme : {DmtxSchemeAscii, DmtxSchemeC40, DmtxSchemeText, DmtxSchemeX12,
                           DmtxSchemeEdifact, DmtxSchemeBase256}) {
            const std::string text = TextFor(size, scheme, size.rows * 100 + size.columns + scheme);
            const auto grid = test::EncodeWithDmtx(text, DmtxSizeOf(size), scheme);
            if (!grid) continue;  // libdmtx refuses some scheme and size pairs
            ASSERT_EQ(grid->rows, size.rows);
            ASSERT_EQ(grid->columns, size.columns);
            const std::vector<std::uint8_t> codewords = ReadMatrix(Regions(*grid, size));
            ASSERT_EQ(static_cast<int>(codewords.size()), size.TotalCodewords())
                << size.rows << "x" << size.columns;
            const CodewordOutcome outcome = DecodeCodewords(size, codewords, {});
            ASSERT_EQ(outcome.result, CodewordResult::Read)
                << size.rows << "x" << size.columns << " scheme " << scheme;
            EXPECT_EQ(outcome.text, text)
                << size.rows << "x" << size.columns << " scheme " << scheme;
            ++read;
        }
    }
    EXPECT_GT(read, 21 * 4);
}

// Errors up to half the error correction codewords of each block are
// repaired; beyond that the symbol is refused, never read as other text.
TEST(DataMatrixCodewords, CorrectsUpToCapacityAndNeverMisreadsBeyond) {
    std::mt19937 random(7);
    for (const SymbolSize& size : AcceptedSizes()) {
        const std::string text = TextFor(size, DmtxSchemeAscii, size.rows + size.columns);
        const auto grid = test::EncodeWithDmtx(text, DmtxSizeOf(size));
        ASSERT_TRUE(grid);
        const std::vector<std::uint8_t> clean = ReadMatrix(Regions(*grid, size));
        const int capacity = size.eccCodewords / size.blocks / 2;
        for (int extra : {0, 1, 3}) {
            for (int trial = 0; trial < 20; ++trial) {
                std::vector<std::uint8_t> damaged = clean;
                // Damage `capacity + extra` codewords of the first block
                // (every blocks-th codeword).
                std::set<int> positions;
                const int blockLength = size.TotalCodewords() / size.blocks;
                while (static_cast<int>(positions.size()) < std::min(capacity + extra, blockLength))
                    positions.insert(static_cast<int>(random() % blockLength) * size.blocks);
                for (int p : positions) damaged[p] ^= static_cast<std::uint8_t>(1 + random() % 255);
                const CodewordOutcome outcome = DecodeCodewords(size, damaged, {});
                if (extra == 0) {
                    ASSERT_EQ(outcome.result, CodewordResult::Read)
                        << size.rows << "x" << size.columns;
                    ASSERT_EQ(outcome.text, text);
                } else if (outcome.result == CodewordResult::Read) {
                    ASSERT_EQ(outcome.text, text) << "misread " << size.rows << "x" << size.columns;
                }
            }
        }
    }
}

TEST(DataMatrixCodewords, MatrixAndCountLimits) {
    std::vector<std::string> lines;
    const MessageSink log = [&](std::string_view l) { lines.emplace_back(l); };
    const SymbolSize size = *FindSize(10, 10);
    EXPECT_EQ(DecodeCodewords(size, std::vector<std::uint8_t>{1, 2, 3}, log).result,
              CodewordResult::Undecodable);
    EXPECT_EQ(lines, std::vector<std::string>{"not expected, codewords size 3"});
    // A count that is not the size's is refused, whatever its bytes.
    EXPECT_EQ(DecodeCodewords(size, std::vector<std::uint8_t>(9, 0), log).result,
              CodewordResult::Uncorrectable);
    // Beyond 52 modules the placement is refused: no symbol of 64 x 64.
    EXPECT_TRUE(PlacementOrder(56, 56).empty());
    EXPECT_TRUE(ReadMatrix(ModuleMatrix{56, 56, std::vector<std::uint8_t>(56 * 56)}).empty());
    EXPECT_TRUE(ReadMatrix(ModuleMatrix{8, 8, std::vector<std::uint8_t>(10)}).empty());
}

TEST(DataMatrixSizes, AcceptedSizesAndMatching) {
    EXPECT_EQ(AcceptedSizes().size(), 21u);
    EXPECT_FALSE(FindSize(64, 64));
    EXPECT_FALSE(MatchSize(64, 64));
    EXPECT_FALSE(MatchSize(30, 30));
    EXPECT_EQ(MatchSize(24, 23)->columns, 24);  // same rows, nearest columns
    EXPECT_EQ(MatchSize(25, 26)->rows, 26);     // same columns, nearest rows
    EXPECT_EQ(MatchSize(9, 18)->rows, 8);       // same columns: 8 x 18 nearer than 18 x 18
    EXPECT_EQ(MatchSize(13, 35)->columns, 36);  // rows within 1, nearest columns
    EXPECT_FALSE(MatchSize(52, 55));            // 52 x 52 is 3 columns away
    const SymbolSize big = *FindSize(52, 52);
    EXPECT_EQ(big.blocks, 2);
    EXPECT_EQ(big.MatrixRows(), 48);
}

TEST(DataMatrixEncodation, FunctionCodewordsAndInvalidOnes) {
    const auto decode = [](std::vector<std::uint8_t> c) { return DecodeData(c); };
    EXPECT_EQ(decode({66, 232, 67, 129, 0}), std::string("A\x1D"
                                                         "B"));  // FNC1, pad ends the data
    EXPECT_EQ(decode({236, 66}), std::string("[)>RS05GSA"));
    EXPECT_EQ(decode({237, 66}), std::string("[)>RS06GS)A"));
    EXPECT_EQ(decode({130 + 42, 235, 66}), std::string("42\xC1"));  // digit pair, upper shift
    EXPECT_FALSE(decode({66, 0}));
    EXPECT_FALSE(decode({66, 250}));
    // Base 256 whose length field runs past the data.
    std::vector<std::uint8_t> base256{231,
                                      static_cast<std::uint8_t>((40 + 149 * 2 % 255 + 1) % 256)};
    EXPECT_FALSE(decode(base256));
}

}  // namespace
}  // namespace kovran::decoders::datamatrix
