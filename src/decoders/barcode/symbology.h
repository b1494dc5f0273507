// The 1D symbologies the barcode reader knows, by the index that the zone
// font (300 + index) and the last-symbology record use, and the decoders that
// turn one element list (bar and space widths) into text.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace kovran::decoders::barcode {

enum class Symbology : int {
    Code39 = 0,
    Interleaved2of5 = 1,
    Code93 = 3,
    Code128 = 4,
    Codabar = 6,
    UpcA = 7,
    UpcE = 8,
    Ean8 = 9,
    Ean13 = 10,
};

// The font that reads every symbology, and the font of symbology index 0.
inline constexpr int kFontAllBarcodes = 7;
inline constexpr int kFontFirstBarcode = 300;
inline constexpr int kFontLastBarcode = 310;

// The order in which an element list is offered to the decoders.
inline constexpr Symbology kDecodeOrder[] = {
    Symbology::Code39,  Symbology::Interleaved2of5, Symbology::Code128,
    Symbology::Codabar, Symbology::Code93,          Symbology::Ean8,
    Symbology::UpcA,    Symbology::Ean13,           Symbology::UpcE,
};

// What a decoder read from one element list.
struct SymbolText {
    std::string text;
    bool verified = false;  // the check character (or the stop rule) verified
};

// Element widths are in any unit (the reader gives tenths of a profile
// sample), bars and spaces alternating, starting and ending with a bar. Each
// decoder returns nothing when the list does not read as its symbology; it
// never reads outside the span. The retail codes (UPC-A, UPC-E, EAN-8,
// EAN-13) return only readings whose check digit verified.
std::optional<SymbolText> DecodeCode39(std::span<const int> widths);
std::optional<SymbolText> DecodeInterleaved2of5(std::span<const int> widths);
std::optional<SymbolText> DecodeCode93(std::span<const int> widths);
std::optional<SymbolText> DecodeCode128(std::span<const int> widths);
std::optional<SymbolText> DecodeCodabar(std::span<const int> widths);
std::optional<SymbolText> DecodeUpcA(std::span<const int> widths);
std::optional<SymbolText> DecodeUpcE(std::span<const int> widths);
std::optional<SymbolText> DecodeEan8(std::span<const int> widths);
std::optional<SymbolText> DecodeEan13(std::span<const int> widths);

std::optional<SymbolText> DecodeSymbology(Symbology symbology, std::span<const int> widths);

// Code 32, the Italian pharmaceutical code: six Code 39 characters read as a
// base-32 number and written as nine decimal digits ("%09d"). Nothing when a
// character is outside the base-32 set or the value exceeds 999999999.
std::optional<std::string> TranscodeCode32(const std::string& code39Text);

}  // namespace kovran::decoders::barcode
