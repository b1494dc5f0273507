// The data encodation of ECC 200: the corrected data codewords of a symbol
// turned into bytes (ASCII, C40, Text, X12, EDIFACT and Base 256 modes).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kovran::decoders::datamatrix {

// FNC1 is written as this byte (the GS separator of the application data).
inline constexpr char kFnc1Byte = 29;
// Written in front of the text by the macro codewords 236 and 237.
inline constexpr char kMacro05Header[] = "[)>RS05GS";
inline constexpr char kMacro06Header[] = "[)>RS06GS)";

// The decoded bytes; nullopt when a codeword has no meaning where it stands
// (0, 242 to 255 in ASCII mode, a Base 256 field running past the data).
std::optional<std::string> DecodeData(std::span<const std::uint8_t> data);

}  // namespace kovran::decoders::datamatrix
