// The library's own bitmap fonts (".fnt" files of the configuration
// directory). A file holds a line of the characters it defines, one width
// byte per character plus one for the line end's slot, then each glyph as
// glyph-height rows of (width + line end) bytes, a blank byte meaning no
// ink. The glyph height is not in the file: a font is made for one printer
// kind. The file is untrusted: every size is checked against what it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kovran::inkjet {

// A character line this long (line end included) or longer is refused.
inline constexpr std::size_t kFntMaxLine = 511;

struct FntFont {
    std::vector<std::uint8_t> chars;  // in the order of the character line
    std::vector<int> widths;          // the file's width of each character
    int lineEnd = 1;                  // bytes ending the character line and each glyph row
    int glyphHeight = 0;
    std::vector<std::size_t> offsets;  // where each glyph starts in `glyphs`
    std::vector<std::uint8_t> glyphs;

    // Index of c, or 0 (the font's first character) when c is not defined.
    std::size_t IndexOf(std::uint8_t c) const;
    // Glyph row pixel: true for ink. Columns past the stored width are blank.
    bool Ink(std::size_t index, int row, int column) const;
};

enum class FntFailure { Invalid, Memory };

// Parses a whole font file for glyphs of glyphHeight rows. nullopt with the
// reason in *failure when the file cannot be used.
std::optional<FntFont> ParseFntFont(std::span<const std::uint8_t> file, int glyphHeight,
                                    FntFailure* failure);

}  // namespace kovran::inkjet
