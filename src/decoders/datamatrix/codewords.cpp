#include "decoders/datamatrix/codewords.h"

#include <string>

#include "decoders/datamatrix/encodation.h"
#include "decoders/datamatrix/reed_solomon.h"

namespace kovran::decoders::datamatrix {

namespace {

class Placement {
  public:
    Placement(int rows, int columns)
        : rows_(rows), columns_(columns), owner_(static_cast<std::size_t>(rows) * columns, -1) {}

    std::vector<int> Run() {
        int row = 4;
        int col = 0;
        int chr = 0;
        do {
            if (row == rows_ && col == 0) Corner1(chr++);
            if (row == rows_ - 2 && col == 0 && columns_ % 4 != 0) Corner2(chr++);
            if (row == rows_ - 2 && col == 0 && columns_ % 8 == 4) Corner3(chr++);
            if (row == rows_ + 4 && col == 2 && columns_ % 8 == 0) Corner4(chr++);
            do {
                if (row < rows_ && col >= 0 && Free(row, col)) Utah(row, col, chr++);
                row -= 2;
                col += 2;
            } while (row >= 0 && col < columns_);
            row += 1;
            col += 3;
            do {
                if (row >= 0 && col < columns_ && Free(row, col)) Utah(row, col, chr++);
                row += 2;
                col -= 2;
            } while (row < rows_ && col >= 0);
            row += 3;
            col += 1;
        } while (row < rows_ || col < columns_);
        order_.resize(static_cast<std::size_t>(chr) * 8);
        return order_;
    }

  private:
    bool Free(int row, int col) const { return owner_[row * columns_ + col] < 0; }

    void Module(int row, int col, int chr, int bit) {
        if (row < 0) {
            row += rows_;
            col += 4 - ((rows_ + 4) % 8);
        }
        if (col < 0) {
            col += columns_;
            row += 4 - ((columns_ + 4) % 8);
        }
        const int index = row * columns_ + col;
        owner_[index] = chr;
        const std::size_t slot = static_cast<std::size_t>(chr) * 8 + (bit - 1);
        if (order_.size() <= slot) order_.resize(slot + 1, 0);
        order_[slot] = index;
    }

    void Utah(int row, int col, int chr) {
        Module(row - 2, col - 2, chr, 1);
        Module(row - 2, col - 1, chr, 2);
        Module(row - 1, col - 2, chr, 3);
        Module(row - 1, col - 1, chr, 4);
        Module(row - 1, col, chr, 5);
        Module(row, col - 2, chr, 6);
        Module(row, col - 1, chr, 7);
        Module(row, col, chr, 8);
    }
    void Corner1(int chr) {
        Module(rows_ - 1, 0, chr, 1);
        Module(rows_ - 1, 1, chr, 2);
        Module(rows_ - 1, 2, chr, 3);
        Module(0, columns_ - 2, chr, 4);
        Module(0, columns_ - 1, chr, 5);
        Module(1, columns_ - 1, chr, 6);
        Module(2, columns_ - 1, chr, 7);
        Module(3, columns_ - 1, chr, 8);
    }
    void Corner2(int chr) {
        Module(rows_ - 3, 0, chr, 1);
        Module(rows_ - 2, 0, chr, 2);
        Module(rows_ - 1, 0, chr, 3);
        Module(0, columns_ - 4, chr, 4);
        Module(0, columns_ - 3, chr, 5);
        Module(0, columns_ - 2, chr, 6);
        Module(0, columns_ - 1, chr, 7);
        Module(1, columns_ - 1, chr, 8);
    }
    void Corner3(int chr) {
        Module(rows_ - 3, 0, chr, 1);
        Module(rows_ - 2, 0, chr, 2);
        Module(rows_ - 1, 0, chr, 3);
        Module(0, columns_ - 2, chr, 4);
        Module(0, columns_ - 1, chr, 5);
        Module(1, columns_ - 1, chr, 6);
        Module(2, columns_ - 1, chr, 7);
        Module(3, columns_ - 1, chr, 8);
    }
    void Corner4(int chr) {
        Module(rows_ - 1, 0, chr, 1);
        Module(rows_ - 1, columns_ - 1, chr, 2);
        Module(0, columns_ - 3, chr, 3);
        Module(0, columns_ - 2, chr, 4);
        Module(0, columns_ - 1, chr, 5);
        Module(1, columns_ - 3, chr, 6);
        Module(1, columns_ - 2, chr, 7);
        Module(1, columns_ - 1, chr, 8);
    }

    int rows_;
    int columns_;
    std::vector<int> owner_;
    std::vector<int> order_;
};

}  // namespace

std::vector<int> PlacementOrder(int rows, int columns) {
    if (rows < 6 || columns < 6 || rows > kMaxMatrixModules || columns > kMaxMatrixModules)
        return {};
    return Placement(rows, columns).Run();
}

std::vector<std::uint8_t> ReadMatrix(const ModuleMatrix& matrix) {
    if (matrix.modules.size() != static_cast<std::size_t>(matrix.rows) * matrix.columns) return {};
    const std::vector<int> order = PlacementOrder(matrix.rows, matrix.columns);
    std::vector<std::uint8_t> codewords(order.size() / 8, 0);
    for (std::size_t k = 0; k < codewords.size(); ++k) {
        int value = 0;
        for (int bit = 0; bit < 8; ++bit)
            value = (value << 1) | (matrix.modules[order[k * 8 + bit]] & 1);
        codewords[k] = static_cast<std::uint8_t>(value);
    }
    return codewords;
}

CodewordOutcome DecodeCodewords(const SymbolSize& size, std::span<const std::uint8_t> codewords,
                                const MessageSink& log) {
    CodewordOutcome outcome;
    if (codewords.size() < 4) {
        if (log) log("not expected, codewords size " + std::to_string(codewords.size()));
        return outcome;
    }
    if (size.blocks < 1 || static_cast<int>(codewords.size()) != size.TotalCodewords()) {
        outcome.result = CodewordResult::Uncorrectable;
        return outcome;
    }
    // Blocks are interleaved codeword by codeword, data first, then the
    // error correction codewords the same way.
    const int blocks = size.blocks;
    const int dataPerBlock = size.dataCodewords / blocks;
    const int eccPerBlock = size.eccCodewords / blocks;
    std::vector<std::uint8_t> data(size.dataCodewords);
    for (int b = 0; b < blocks; ++b) {
        std::vector<std::uint8_t> block;
        for (int i = b; i < size.dataCodewords; i += blocks) block.push_back(codewords[i]);
        for (int i = b; i < size.eccCodewords; i += blocks)
            block.push_back(codewords[size.dataCodewords + i]);
        if (block.size() > 255) {
            if (log) log("MAX_DATA reached");
            outcome.result = CodewordResult::Uncorrectable;
            return outcome;
        }
        if (static_cast<int>(block.size()) != dataPerBlock + eccPerBlock ||
            !CorrectBlock(block, eccPerBlock)) {
            outcome.result = CodewordResult::Uncorrectable;
            return outcome;
        }
        for (int i = 0; i < dataPerBlock; ++i) data[b + i * blocks] = block[i];
    }
    std::optional<std::string> text = DecodeData(data);
    if (!text) return outcome;
    outcome.result = CodewordResult::Read;
    outcome.text = std::move(*text);
    return outcome;
}

}  // namespace kovran::decoders::datamatrix
