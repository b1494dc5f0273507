#include "inkjet/fnt_font.h"

#include <algorithm>
#include <new>

namespace kovran::inkjet {

namespace {

constexpr std::uint8_t kLineFeed = '\n';
constexpr std::uint8_t kReturn = '\r';
constexpr std::uint8_t kBlankByte = ' ';

std::optional<FntFont> Fail(FntFailure* failure, FntFailure why) {
    if (failure != nullptr) *failure = why;
    return std::nullopt;
}

}  // namespace

std::size_t FntFont::IndexOf(std::uint8_t c) const {
    const auto it = std::find(chars.begin(), chars.end(), c);
    return it == chars.end() ? 0 : static_cast<std::size_t>(it - chars.begin());
}

bool FntFont::Ink(std::size_t index, int row, int column) const {
    if (index >= chars.size() || row < 0 || row >= glyphHeight || column < 0 ||
        column >= widths[index])
        return false;
    const std::size_t rowBytes = static_cast<std::size_t>(widths[index]) + lineEnd;
    return glyphs[offsets[index] + static_cast<std::size_t>(row) * rowBytes + column] != kBlankByte;
}

std::optional<FntFont> ParseFntFont(std::span<const std::uint8_t> file, int glyphHeight,
                                    FntFailure* failure) {
    if (glyphHeight <= 0) return Fail(failure, FntFailure::Invalid);
    const auto lineSpan = file.first(std::min(file.size(), kFntMaxLine));
    const auto feed = std::find(lineSpan.begin(), lineSpan.end(), kLineFeed);
    // No line end within the limit: the line is too long or the file too short.
    if (feed == lineSpan.end()) return Fail(failure, FntFailure::Invalid);
    const std::size_t lineBytes = static_cast<std::size_t>(feed - lineSpan.begin()) + 1;
    if (lineBytes >= kFntMaxLine) return Fail(failure, FntFailure::Invalid);

    FntFont font;
    font.glyphHeight = glyphHeight;
    std::size_t count = lineBytes - 1;
    if (count > 0 && file[count - 1] == kReturn) {
        font.lineEnd = 2;
        --count;
    }
    // Character 0 stands in for every character the font lacks.
    if (count == 0) return Fail(failure, FntFailure::Invalid);
    font.chars.assign(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(count));

    const std::size_t widthBytes = count + 1;
    if (file.size() - lineBytes < widthBytes) return Fail(failure, FntFailure::Invalid);
    const auto widths = file.subspan(lineBytes, count);  // the line end's slot is ignored
    std::size_t area = 0;
    font.offsets.reserve(count);
    for (const std::uint8_t w : widths) {
        font.widths.push_back(w);
        font.offsets.push_back(area);
        // At most 510 glyphs of 257 x glyphHeight bytes: no overflow.
        area +=
            (static_cast<std::size_t>(w) + font.lineEnd) * static_cast<std::size_t>(glyphHeight);
    }
    const auto glyphs = file.subspan(lineBytes + widthBytes);
    // A short file or a byte after the last glyph: not a font of this height.
    if (glyphs.size() != area) return Fail(failure, FntFailure::Invalid);
    try {
        font.glyphs.assign(glyphs.begin(), glyphs.end());
    } catch (const std::bad_alloc&) {
        return Fail(failure, FntFailure::Memory);
    }
    return font;
}

}  // namespace kovran::inkjet
