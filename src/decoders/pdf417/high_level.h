// From the corrected data codewords to the text: text, byte and numeric
// compaction, the shifts and latches between them, reader initialisation,
// extended channels and the macro block, written as this library has always
// written them into the zone text.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace kovran::decoders::pdf417 {

// Mode codewords.
inline constexpr int kLatchText = 900;
inline constexpr int kLatchByte = 901;
inline constexpr int kLatchNumeric = 902;
inline constexpr int kShiftByte = 913;
inline constexpr int kReaderInit = 921;
inline constexpr int kMacroTerminator = 922;
inline constexpr int kMacroOptionalField = 923;
inline constexpr int kLatchByteWhole = 924;
inline constexpr int kEciGeneral = 925;
inline constexpr int kEciUser = 926;
inline constexpr int kEciCharacterSet = 927;
inline constexpr int kMacroControlBlock = 928;

// Decodes the data codewords that follow the symbol length descriptor.
// Nothing when the stream breaks a rule (the reason logged) or when the text
// would be longer than `maxChars`.
std::optional<std::string> DecodeDataCodewords(std::span<const int> data, std::size_t maxChars);

}  // namespace kovran::decoders::pdf417
