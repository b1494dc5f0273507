// Fuzz target for the DataMatrix codeword decoder: placement read-back,
// Reed-Solomon correction and the data encodation. The input is
//   byte 0  symbol size (index into the accepted sizes, modulo their count)
//   byte 1  what the rest is: 0 codewords (cut or padded with 129 to the
//           size's count), 1 data codewords for the encodation alone,
//           2 module bits of the size's matrix, row by row
//   then the rest.
// Whatever the bytes, a symbol that reads gives a text no longer than the
// data could carry, and reading the same codewords twice gives the same.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "decoders/datamatrix/codewords.h"
#include "decoders/datamatrix/encodation.h"
#include "decoders/datamatrix/symbol_sizes.h"

namespace {

namespace dm = kovran::decoders::datamatrix;

// The longest expansion of one data codeword: a macro header in front, and
// three characters per codeword in C40, Text and X12.
std::size_t MostText(std::size_t codewords) {
    return sizeof(dm::kMacro06Header) + 3 * codewords;
}

void Check(bool ok) {
    if (!ok) std::abort();
}

void DecodeAndCheck(const dm::SymbolSize& size, std::span<const std::uint8_t> codewords) {
    const dm::CodewordOutcome first = dm::DecodeCodewords(size, codewords, {});
    const dm::CodewordOutcome again = dm::DecodeCodewords(size, codewords, {});
    Check(first.result == again.result && first.text == again.text);
    if (first.result == dm::CodewordResult::Read)
        Check(first.text.size() <= MostText(static_cast<std::size_t>(size.dataCodewords)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const auto sizes = dm::AcceptedSizes();
    const dm::SymbolSize symbol = sizes[data[0] % sizes.size()];
    const std::span<const std::uint8_t> rest(data + 2, size - 2);
    switch (data[1] % 3) {
        case 0: {
            std::vector<std::uint8_t> codewords(rest.begin(), rest.end());
            codewords.resize(static_cast<std::size_t>(symbol.TotalCodewords()), 129);
            DecodeAndCheck(symbol, codewords);
            // The count other than the size's is refused, never read.
            if (rest.size() != codewords.size())
                Check(dm::DecodeCodewords(symbol, rest, {}).result != dm::CodewordResult::Read);
            break;
        }
        case 1: {
            const auto text = dm::DecodeData(rest);
            if (text) Check(text->size() <= MostText(rest.size()));
            break;
        }
        default: {
            dm::ModuleMatrix matrix{symbol.MatrixRows(), symbol.MatrixColumns(), {}};
            matrix.modules.resize(static_cast<std::size_t>(matrix.rows) * matrix.columns, 0);
            for (std::size_t i = 0; i < matrix.modules.size() && i / 8 < rest.size(); ++i)
                matrix.modules[i] = (rest[i / 8] >> (7 - i % 8)) & 1;
            const std::vector<std::uint8_t> codewords = dm::ReadMatrix(matrix);
            Check(static_cast<int>(codewords.size()) == symbol.TotalCodewords());
            DecodeAndCheck(symbol, std::span(codewords).first(symbol.TotalCodewords()));
            break;
        }
    }
    return 0;
}
