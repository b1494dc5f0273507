// Reed-Solomon error correction of ECC 200 over GF(256) (field polynomial
// x^8 + x^5 + x^3 + x^2 + 1, generator roots alpha^1 to alpha^n).
#pragma once

#include <cstdint>
#include <span>

namespace kovran::decoders::datamatrix {

// Corrects one block in place: `block` holds the data codewords followed by
// `eccCount` error correction codewords, first codeword first. Returns false
// when the block holds more errors than the code repairs (the block is then
// left as it was) or when its length is beyond the code (over 255
// codewords, or no room for data).
bool CorrectBlock(std::span<std::uint8_t> block, int eccCount);

}  // namespace kovran::decoders::datamatrix
