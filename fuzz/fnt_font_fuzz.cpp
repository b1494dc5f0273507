// Fuzz target for the ".fnt" stamp font parser: the first byte picks the
// glyph height, the rest is the file. A font that parses must describe
// exactly the bytes it holds, and every pixel of every glyph must be
// reachable without leaving them.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "inkjet/fnt_font.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int height = 1 + data[0] % 40;
    kovran::inkjet::FntFailure failure{};
    const auto font = kovran::inkjet::ParseFntFont(std::span(data + 1, size - 1), height, &failure);
    if (!font) return 0;
    if (font->chars.empty() || font->chars.size() != font->widths.size() ||
        font->offsets.size() != font->chars.size() || font->chars.size() >= 511)
        std::abort();
    std::size_t area = 0;
    for (std::size_t i = 0; i < font->chars.size(); ++i) {
        if (font->offsets[i] != area) std::abort();
        area += static_cast<std::size_t>(font->widths[i] + font->lineEnd) * height;
        for (int row = 0; row < height; ++row)
            for (int col = -1; col <= font->widths[i]; ++col) (void)font->Ink(i, row, col);
    }
    if (area != font->glyphs.size()) std::abort();
    return 0;
}
