// Fuzz target for the PDF417 codeword decoder: Reed-Solomon correction over
// GF(929) with erasures, the length descriptor and the compaction modes. The
// input is
//   byte 0  error correction level (modulo 9)
//   byte 1  what the rest is: 0 the symbol's codewords as-is, 1 data
//           codewords for the high-level decoding alone, 2 data codewords
//           given their error correction and then some codewords erased
//           (the erasure count in byte 2)
//   then big-endian 16-bit codewords (values above 928 are erasures).
// Whatever the bytes, the decoding is the same twice, a text stays within
// the caller's limit and within what the codewords can carry, and in form 2
// the erasures the level repairs never change the text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "decoders/pdf417/codewords.h"
#include "decoders/pdf417/high_level.h"
#include "decoders/pdf417/reed_solomon.h"

namespace {

namespace p = kovran::decoders::pdf417;

constexpr std::size_t kLimit = 4000;

void Check(bool ok) {
    if (!ok) std::abort();
}

// The longest text of n codewords: a macro codeword written as "\%03d" is
// four characters, a segment index up to seven.
std::size_t MostText(std::size_t n) {
    return 4 * n + 8;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int level = data[0] % 9;
    std::vector<int> codewords;
    for (std::size_t i = 3; i + 1 < size; i += 2) {
        const int v = (data[i] << 8) | data[i + 1];
        codewords.push_back(v > 928 ? p::kErasure : v);
    }
    switch (data[1] % 3) {
        case 0: {
            const p::SymbolOutcome a = p::DecodeSymbol(codewords, level, kLimit);
            const p::SymbolOutcome b = p::DecodeSymbol(codewords, level, kLimit);
            Check(a.result == b.result && a.text == b.text);
            if (a.result == p::SymbolResult::Read)
                Check(a.text.size() <= MostText(codewords.size()));
            break;
        }
        case 1: {
            for (int& c : codewords) c = std::max(c, 0);
            const auto text = p::DecodeDataCodewords(codewords, kLimit);
            if (text) Check(text->size() <= std::min(kLimit, MostText(codewords.size())));
            const auto shorter = p::DecodeDataCodewords(codewords, 3);
            if (shorter) Check(shorter->size() <= 3);
            break;
        }
        default: {
            const int ec = p::ErrorCorrectionCodewords(level);
            for (int& c : codewords) c = std::max(c, 0);
            if (codewords.size() + 1 + static_cast<std::size_t>(ec) > p::kMaxCodewordsPerCode)
                return 0;
            codewords.insert(codewords.begin(), static_cast<int>(codewords.size()) + 1);
            const std::vector<int> check = p::ComputeErrorCorrection(codewords, ec);
            codewords.insert(codewords.end(), check.begin(), check.end());
            const p::SymbolOutcome clean = p::DecodeSymbol(codewords, level, kLimit);
            Check(clean.result != p::SymbolResult::TooManyErasures &&
                  clean.result != p::SymbolResult::Uncorrectable);
            const int erasures = std::min<int>(data[2] % (p::MostErasures(level) + 1),
                                               static_cast<int>(codewords.size()));
            for (int i = 0; i < erasures; ++i)
                codewords[(static_cast<std::size_t>(i) * 7 + data[2]) % codewords.size()] =
                    p::kErasure;
            const p::SymbolOutcome erased = p::DecodeSymbol(codewords, level, kLimit);
            Check(erased.result == clean.result && erased.text == clean.text);
            break;
        }
    }
    return 0;
}
