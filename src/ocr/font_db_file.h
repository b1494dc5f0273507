// The font database file (".db"): N models, each a character code, a 32 x 32
// glyph and 32 bytes of further data, little-endian:
//   0        u16  N
//   2        u16  reserved
//   4        N    character codes
//   4 + N    128 N glyphs, 32 rows of a u32 each (bit 31 - k = column k)
//   4 + 129N 32 N further data
// Bytes after the last block are ignored, as the loader reads the four
// blocks and nothing else.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ocr/glyph_normalise.h"

namespace kovran::ocr {

// One loaded font may hold at most this many models, all its files together.
inline constexpr std::size_t kMaxFontModels = 2000;

inline constexpr std::size_t kFontDbHeaderBytes = 4;
inline constexpr std::size_t kFontDbBytesPerModel = 1 + 128 + 32;

struct FontModel {
    std::uint8_t code = 0;
    Glyph32 glyph;
    std::array<std::uint8_t, 32> extra{};
    bool operator==(const FontModel&) const = default;
};

enum class FontDbError {
    None,
    NoHeader,       // shorter than the 4-byte header
    TooManyModels,  // more than kMaxFontModels in one file
    Truncated,      // the header counts more models than the file holds
    CannotOpen,
    ReadFailed,
    CannotWrite,
};

const char* FontDbErrorText(FontDbError error);

struct FontDbRead {
    std::vector<FontModel> models;
    FontDbError error = FontDbError::None;
    bool Ok() const { return error == FontDbError::None; }
};

// Every size is checked against the buffer before anything is allocated.
FontDbRead ParseFontDb(std::span<const std::uint8_t> bytes);
FontDbRead ReadFontDbFile(const std::string& path);

// Empty when there are more than kMaxFontModels models.
std::vector<std::uint8_t> EncodeFontDb(std::span<const FontModel> models);
FontDbError WriteFontDbFile(const std::string& path, std::span<const FontModel> models);

// Database file names are 4 to 31 characters long (the list keeps 32 bytes
// with the terminator).
bool IsValidFontDbName(std::string_view name);

}  // namespace kovran::ocr
