// Text drawn with a ".fnt" font into the stamp image.
#include <string>
#include <string_view>

#include "api/log.h"
#include "inkjet/fnt_font.h"
#include "inkjet/stamp.h"
#include "inkjet/stamp_internal.h"
#include "platform/sys_error.h"

namespace kovran::inkjet {

namespace {

// Larger than any font the format can describe (510 glyphs of 257 x 38).
constexpr std::size_t kMaxFontFileBytes = std::size_t{8} << 20;
constexpr int kCmc7Gap = 6;
constexpr std::uint8_t kBlankChar = ' ';

bool IsCmc7Font(const std::string& path) {
    const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
    return name.find("cmc7") != std::string_view::npos ||
           name.find("CMC7") != std::string_view::npos;
}

// Line ends inside the text print as blanks; trailing ones print nothing.
std::string PrintableText(std::string_view text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = static_cast<char>(kBlankChar);
    return out;
}

KVXResult InvalidFont(const std::string& path) {
    LogTriple(kErr, "corrupted or invalid file", path.c_str());
    return KVX_ERR_GENERIC;
}

}  // namespace

KVXResult ComposeFntText(std::string_view text, const std::string& fontPath, int glyphHeight,
                         GlyphFlip flip) {
    DropStampImage();
    const auto file = ReadWholeFile(fontPath, kMaxFontFileBytes);
    if (!file) return InvalidFont(fontPath);
    FntFailure failure = FntFailure::Invalid;
    const auto font = ParseFntFont(*file, glyphHeight, &failure);
    if (!font) {
        if (failure == FntFailure::Invalid) return InvalidFont(fontPath);
        LogPairValue(kErr, "allocating stamp font memory", platform::kErrorNotEnoughMemory);
        return KVX_ERR_OUT_OF_MEMORY;
    }

    const bool cmc7 = IsCmc7Font(fontPath);
    // A CMC7 font's character 0 is drawn as wide as character 1.
    auto drawWidth = [&](std::size_t index) {
        if (cmc7 && index == 0 && font->widths.size() > 1) return font->widths[1];
        return font->widths[index];
    };
    const std::string printable = PrintableText(text);
    auto gapBefore = [&](std::size_t i) {
        return cmc7 && i > 0 && static_cast<std::uint8_t>(printable[i - 1]) != kBlankChar ? kCmc7Gap
                                                                                          : 0;
    };
    long long width = 0;
    for (std::size_t i = 0; i < printable.size(); ++i)
        width += drawWidth(font->IndexOf(static_cast<std::uint8_t>(printable[i]))) + gapBefore(i);

    auto image = BlankStampImage(static_cast<int>(width), glyphHeight, kComposedResolution);
    if (!image) {
        LogPairValue(kErr, "allocating stamp memory", platform::LastSystemError());
        return KVX_ERR_OUT_OF_MEMORY;
    }
    int x = 0;
    for (std::size_t i = 0; i < printable.size(); ++i) {
        const auto c = static_cast<std::uint8_t>(printable[i]);
        const std::size_t index = font->IndexOf(c);
        // Every column starts blank, so gaps and blanks only advance.
        x += gapBefore(i);
        const int w = drawWidth(index);
        if (c != kBlankChar) {
            for (int row = 0; row < glyphHeight; ++row) {
                const int glyphRow = flip == GlyphFlip::Yes ? glyphHeight - 1 - row : row;
                std::uint8_t* out =
                    image->pixels.data() + static_cast<std::size_t>(row) * image->stride + x;
                for (int col = 0; col < w; ++col)
                    out[col] = font->Ink(index, glyphRow, col) ? kInk : kBlank;
            }
        }
        x += w;
    }

    if (glyphHeight == kType2GlyphRows) {
        const std::string bitmap = ConfigFile("timbroTIJ25.bmp");
        if (!WriteStampImageFile(*image, bitmap)) {
            LogTriple(kErr, "error writing", bitmap.c_str());
            return KVX_ERR_GENERIC;
        }
    }
    SetStampImage(std::move(*image));
    return KVX_OK;
}

}  // namespace kovran::inkjet
