// Fuzz target for the barcode element decoders. The input is
//   byte 0  bits 0-3: the symbology to try first; bit 4: widths of two bytes
//   then the element widths (one byte each, or two bytes little-endian),
//   multiplied by 10 as the reader gives them (tenths of a profile sample).
// Every decoder sees the list forwards and reversed; the quiet-zone split
// sees it as a run. No decoder may read outside the list, and what a decoder
// returns must be consistent: non-empty text, and Code 32 of nine digits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "decoders/barcode/element_scan.h"
#include "decoders/barcode/symbology.h"

using namespace kovran::decoders::barcode;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int first = data[0] & 0x0F;
    const bool wide = (data[0] & 0x10) != 0;
    std::vector<int> widths;
    for (std::size_t i = 1; i < size && widths.size() < 2000;) {
        int w = data[i++];
        if (wide && i < size) w |= data[i++] << 8;
        widths.push_back(w * 10);
    }
    std::vector<int> reversed(widths.rbegin(), widths.rend());

    auto check = [](const std::optional<SymbolText>& read) {
        if (read && read->text.empty()) std::abort();
        if (read) {
            const auto code32 = TranscodeCode32(read->text);
            if (code32 && code32->size() != 9) std::abort();
        }
    };
    if (first < static_cast<int>(std::size(kDecodeOrder)))
        check(DecodeSymbology(kDecodeOrder[first], widths));
    for (Symbology s : kDecodeOrder) {
        check(DecodeSymbology(s, widths));
        check(DecodeSymbology(s, reversed));
    }

    ElementRun run;
    run.widths = widths;
    double end = 0.0;
    for (int w : widths) end += w / 10.0;
    run.end = end;
    for (const ElementRun& piece : SplitAtQuietZones(run)) {
        if (piece.widths.size() < 6 || piece.widths.size() % 2 == 0) std::abort();
        if (piece.start < run.start - 1e-6 || piece.end > run.end + 1e-6) std::abort();
        for (Symbology s : kDecodeOrder) check(DecodeSymbology(s, piece.widths));
    }
    return 0;
}
