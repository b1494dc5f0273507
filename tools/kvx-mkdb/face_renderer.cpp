#include "face_renderer.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

namespace kovran::mkdb {

struct FontFace::Impl {
    FT_Face face = nullptr;
    ~Impl() {
        if (face != nullptr) FT_Done_Face(face);
    }
};

FontFace::FontFace(std::unique_ptr<Impl> impl, std::string path)
    : impl_(std::move(impl)), path_(std::move(path)) {}
FontFace::~FontFace() = default;

bool FontFace::hasGlyph(char32_t c) const {
    return FT_Get_Char_Index(impl_->face, c) != 0;
}

std::optional<ocr::InkImage> FontFace::render(char32_t c, const FaceRenderOptions& options) const {
    FT_Face face = impl_->face;
    if (!hasGlyph(c) || options.emPixels < 4 || options.emPixels > 1000) return std::nullopt;
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(options.emPixels)) != 0)
        return std::nullopt;
    if (FT_Load_Char(face, c, FT_LOAD_NO_BITMAP) != 0) return std::nullopt;
    FT_GlyphSlot slot = face->glyph;
    if (options.emboldenPixels64 != 0 && slot->format == FT_GLYPH_FORMAT_OUTLINE)
        FT_Outline_Embolden(&slot->outline, options.emboldenPixels64);
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return std::nullopt;
    const FT_Bitmap& bm = slot->bitmap;
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY) return std::nullopt;
    ocr::InkImage img;
    img.width = static_cast<int>(bm.width);
    img.height = static_cast<int>(bm.rows);
    img.pixels.assign(static_cast<std::size_t>(img.width) * img.height, 0);
    const int pitch = bm.pitch;
    const int stride = pitch < 0 ? -pitch : pitch;
    for (int y = 0; y < img.height; ++y) {
        // A negative pitch means the rows are stored bottom-up.
        const unsigned char* row =
            bm.buffer + static_cast<std::ptrdiff_t>(pitch < 0 ? img.height - 1 - y : y) * stride;
        for (int x = 0; x < img.width; ++x)
            img.pixels[static_cast<std::size_t>(y) * img.width + x] = row[x] >= options.inkCoverage;
    }
    return img;
}

struct FaceLibrary::Impl {
    FT_Library ft = nullptr;
    FcConfig* fc = nullptr;
    std::map<std::string, std::unique_ptr<FontFace>> faces;  // by file path
    ~Impl() {
        faces.clear();
        if (ft != nullptr) FT_Done_FreeType(ft);
        if (fc != nullptr) FcConfigDestroy(fc);
    }
};

FaceLibrary::FaceLibrary() : impl_(std::make_unique<Impl>()) {
    if (FT_Init_FreeType(&impl_->ft) != 0) impl_->ft = nullptr;
}
FaceLibrary::~FaceLibrary() = default;

bool FaceLibrary::ok() const {
    return impl_->ft != nullptr;
}

const FontFace* FaceLibrary::openFile(const std::string& path, std::string& error) {
    if (auto it = impl_->faces.find(path); it != impl_->faces.end()) return it->second.get();
    if (!ok()) {
        error = "FreeType could not be started";
        return nullptr;
    }
    auto impl = std::make_unique<FontFace::Impl>();
    if (FT_New_Face(impl_->ft, path.c_str(), 0, &impl->face) != 0) {
        impl->face = nullptr;
        error = "cannot open font file " + path;
        return nullptr;
    }
    std::unique_ptr<FontFace> face(new FontFace(std::move(impl), path));
    const FontFace* raw = face.get();
    impl_->faces.emplace(path, std::move(face));
    return raw;
}

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return s;
}

struct PatternDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;

// fontconfig always answers with some face; only a face of the asked family
// and style is taken, never a substitute.
std::optional<std::string> fontconfigFile(FcConfig* fc, const FaceSource& source) {
    Pattern pattern(FcPatternCreate());
    if (!pattern) return std::nullopt;
    FcPatternAddString(pattern.get(), FC_FAMILY,
                       reinterpret_cast<const FcChar8*>(source.family.c_str()));
    if (!source.style.empty())
        FcPatternAddString(pattern.get(), FC_STYLE,
                           reinterpret_cast<const FcChar8*>(source.style.c_str()));
    FcConfigSubstitute(fc, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    Pattern match(FcFontMatch(fc, pattern.get(), &result));
    if (!match || result != FcResultMatch) return std::nullopt;
    FcChar8* family = nullptr;
    FcChar8* style = nullptr;
    FcChar8* file = nullptr;
    if (FcPatternGetString(match.get(), FC_FAMILY, 0, &family) != FcResultMatch ||
        FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch)
        return std::nullopt;
    if (lower(reinterpret_cast<const char*>(family)) != lower(source.family)) return std::nullopt;
    if (!source.style.empty() &&
        (FcPatternGetString(match.get(), FC_STYLE, 0, &style) != FcResultMatch ||
         lower(reinterpret_cast<const char*>(style)) != lower(source.style)))
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(file));
}

}  // namespace

const FontFace* FaceLibrary::open(const FaceSource& source, std::string& error) {
    for (const std::string& path : source.paths) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) return openFile(path, error);
    }
    if (impl_->fc == nullptr) impl_->fc = FcInitLoadConfigAndFonts();
    if (impl_->fc != nullptr) {
        if (auto file = fontconfigFile(impl_->fc, source)) return openFile(*file, error);
    }
    error = "font \"" + source.family + "\" " + source.style + " not found (tried";
    for (const std::string& path : source.paths) error += " " + path;
    error += " and fontconfig)";
    return nullptr;
}

}  // namespace kovran::mkdb
