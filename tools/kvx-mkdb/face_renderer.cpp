#include "face_renderer.h"

#include <filesystem>

namespace kovran::mkdb {

std::optional<ocr::InkImage> FontFace::render(char32_t c, const FaceRenderOptions& options) const {
    if (!hasGlyph(c) || options.emPixels < 4 || options.emPixels > 1000) return std::nullopt;
    // Hinted, so that stems fall on whole pixels as in a printer's output.
    const auto glyph = face_.render(c, options.emPixels, options.emPixels, options.emboldenPixels64,
                                    platform::Hinting::on);
    if (!glyph) return std::nullopt;
    ocr::InkImage img;
    img.width = glyph->width;
    img.height = glyph->height;
    img.pixels.resize(glyph->values.size());
    for (std::size_t i = 0; i < glyph->values.size(); ++i)
        img.pixels[i] = glyph->values[i] >= options.inkCoverage;
    return img;
}

const FontFace* FaceLibrary::wrap(const platform::FontFace* face) {
    if (face == nullptr) return nullptr;
    auto& slot = faces_[face];
    if (!slot) slot = std::make_unique<FontFace>(*face);
    return slot.get();
}

const FontFace* FaceLibrary::openFile(const std::string& path, std::string& error) {
    if (!ok()) {
        error = "FreeType could not be started";
        return nullptr;
    }
    return wrap(library_.openFile(path, error));
}

const FontFace* FaceLibrary::open(const FaceSource& source, std::string& error) {
    for (const std::string& path : source.paths) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) return openFile(path, error);
    }
    std::string reason;
    if (const FontFace* face = wrap(library_.openFamily(source.family, source.style, reason)))
        return face;
    error = "font \"" + source.family + "\" " + source.style + " not found (tried";
    for (const std::string& path : source.paths) error += " " + path;
    error += " and fontconfig)";
    return nullptr;
}

}  // namespace kovran::mkdb
