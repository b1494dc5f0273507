#include "face_renderer.h"

#include <filesystem>

namespace kovran::mkdb {

std::optional<imaging::ImageBuffer> GlyphFaceRenderer::Render(
    char32_t c, const FaceRenderOptions& options) const {
    if (!HasGlyph(c) || options.emPixels < 4 || options.emPixels > 1000) return std::nullopt;
    // Hinted, so that stems fall on whole pixels as in a printer's output.
    const auto glyph = face_.Render(
        c, options.emPixels, options.emPixels,
        {.emboldenPixels64 = options.emboldenPixels64, .hinting = imaging::Hinting::On});
    if (!glyph) return std::nullopt;
    imaging::ImageBuffer img = glyph->coverage;
    std::uint8_t* p = img.Data();
    for (std::size_t i = 0; i < img.Bytes(); ++i) p[i] = p[i] >= options.inkCoverage;
    return img;
}

const GlyphFaceRenderer* FaceLibrary::Wrap(const imaging::TextFace* face) {
    if (face == nullptr) return nullptr;
    auto& slot = faces_[face];
    if (!slot) slot = std::make_unique<GlyphFaceRenderer>(*face);
    return slot.get();
}

const GlyphFaceRenderer& FaceLibrary::OpenFile(const std::string& path) {
    if (!library_.Ok()) throw MkdbError("FreeType could not be started");
    std::string error;
    const GlyphFaceRenderer* face = Wrap(library_.OpenFile(path, &error));
    if (face == nullptr) throw MkdbError(error);
    return *face;
}

const GlyphFaceRenderer& FaceLibrary::Open(const FaceSource& source) {
    for (const std::string& path : source.paths) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) return OpenFile(path);
    }
    std::string reason;
    if (const GlyphFaceRenderer* face =
            Wrap(library_.OpenFamily(source.family, source.style, &reason)))
        return *face;
    std::string error = "font \"" + source.family + "\" " + source.style + " not found (tried";
    for (const std::string& path : source.paths) error += " " + path;
    error += " and fontconfig)";
    throw MkdbError(error);
}

}  // namespace kovran::mkdb
