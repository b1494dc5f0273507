#include "imaging/text_face.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>

#include "platform/dynamic_library.h"

namespace kovran::imaging {

struct TextFace::Impl {
    FT_Face face = nullptr;
    ~Impl() {
        if (face != nullptr) FT_Done_Face(face);
    }
};

TextFace::TextFace(std::unique_ptr<Impl> impl, std::string path, std::string family)
    : impl_(std::move(impl)), path_(std::move(path)), family_(std::move(family)) {}
TextFace::~TextFace() = default;

bool TextFace::HasChar(char32_t c) const {
    return FT_Get_Char_Index(impl_->face, c) != 0;
}

OutlineBox TextFace::Bounds(char32_t c) const {
    OutlineBox b;
    FT_Face face = impl_->face;
    if (FT_Load_Char(face, c, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) != 0) return b;
    if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE || face->units_per_EM == 0) return b;
    FT_BBox bb;
    FT_Outline_Get_CBox(&face->glyph->outline, &bb);
    const double em = face->units_per_EM;
    b.xMin = bb.xMin / em;
    b.yMin = bb.yMin / em;
    b.xMax = bb.xMax / em;
    b.yMax = bb.yMax / em;
    return b;
}

LineExtents TextFace::Extents() const {
    FT_Face face = impl_->face;
    if (face->units_per_EM == 0) return {};
    const double em = face->units_per_EM;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 != nullptr && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0)
        return {os2->usWinAscent / em, os2->usWinDescent / em};
    return {face->ascender / em, -face->descender / em};
}

std::optional<TextGlyph> TextFace::Render(char32_t c, double emPixelsX, double emPixelsY,
                                          TextRenderOptions options) const {
    FT_Face face = impl_->face;
    // 26.6 fixed point sizes at 72 dpi, so that points are pixels.
    if (FT_Set_Char_Size(face, static_cast<FT_F26Dot6>(std::lround(emPixelsX * 64.0)),
                         static_cast<FT_F26Dot6>(std::lround(emPixelsY * 64.0)), 72, 72) != 0)
        return std::nullopt;
    // Outlines only: an embedded bitmap strike would ignore the emboldening
    // and the exact size.
    const FT_Int32 flags =
        FT_LOAD_NO_BITMAP | (options.hinting == Hinting::On ? FT_LOAD_DEFAULT : FT_LOAD_NO_HINTING);
    if (FT_Load_Char(face, c, flags) != 0) return std::nullopt;
    FT_GlyphSlot slot = face->glyph;
    if (options.emboldenPixels64 != 0 && slot->format == FT_GLYPH_FORMAT_OUTLINE)
        FT_Outline_Embolden(&slot->outline, options.emboldenPixels64);
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return std::nullopt;
    const FT_Bitmap& bm = slot->bitmap;
    TextGlyph g;
    g.advance = slot->linearHoriAdvance / 65536.0;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    if (bm.width == 0 || bm.rows == 0) return g;
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || bm.buffer == nullptr) return std::nullopt;
    const int width = static_cast<int>(bm.width);
    const int height = static_cast<int>(bm.rows);
    const int pitch = bm.pitch;
    const int stride = pitch < 0 ? -pitch : pitch;
    if (stride < width) return std::nullopt;
    g.coverage = ImageBuffer(width, height, 1, 0, {emPixelsX, emPixelsY});
    for (int y = 0; y < height; ++y) {
        // A negative pitch means the rows are stored bottom-up.
        const unsigned char* row =
            bm.buffer + static_cast<std::ptrdiff_t>(pitch < 0 ? height - 1 - y : y) * stride;
        std::copy(row, row + width, g.coverage.Row(y));
    }
    return g;
}

namespace {

constexpr const char* kFontconfigSoname = "libfontconfig.so.1";

std::string Lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

struct PatternDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;

// True when one of the names the match carries for `object` (a face has one
// per language) is `wanted`, ignoring case.
bool Carries(FcPattern* match, const char* object, const std::string& wanted) {
    FcChar8* value = nullptr;
    const std::string w = Lower(wanted);
    for (int i = 0; FcPatternGetString(match, object, i, &value) == FcResultMatch; ++i)
        if (Lower(reinterpret_cast<const char*>(value)) == w) return true;
    return false;
}

}  // namespace

struct TextFaceLibrary::Impl {
    FT_Library ft = nullptr;
    // A configuration of our own rather than the process-wide default, so
    // that fontconfig's state ends with the library.
    FcConfig* fc = nullptr;
    bool fcTried = false;
    std::map<std::string, std::unique_ptr<TextFace>> byPath;
    std::map<std::string, const TextFace*> byRequest;
    ~Impl() {
        byRequest.clear();
        byPath.clear();  // faces before FreeType
        if (ft != nullptr) FT_Done_FreeType(ft);
        if (fc != nullptr) FcConfigDestroy(fc);
    }

    const TextFace* Open(const std::string& path, const std::string& family, std::string* error);
    const TextFace* Resolve(Pattern pattern, const std::string& request, const std::string& style,
                            std::string* error);
};

TextFaceLibrary::TextFaceLibrary() : impl_(std::make_unique<Impl>()) {
    if (FT_Init_FreeType(&impl_->ft) != 0) impl_->ft = nullptr;
}
TextFaceLibrary::~TextFaceLibrary() = default;

bool TextFaceLibrary::Ok() const {
    return impl_->ft != nullptr;
}

const TextFace* TextFaceLibrary::Impl::Open(const std::string& path, const std::string& family,
                                            std::string* error) {
    if (auto it = byPath.find(path); it != byPath.end()) return it->second.get();
    if (ft == nullptr) {
        if (error != nullptr) *error = "FreeType could not be initialised";
        return nullptr;
    }
    auto impl = std::make_unique<TextFace::Impl>();
    if (FT_New_Face(ft, path.c_str(), 0, &impl->face) != 0) {
        impl->face = nullptr;
        if (error != nullptr) *error = "cannot open font file " + path;
        return nullptr;
    }
    FT_Face face = impl->face;
    // Symbol fonts carry no Unicode map; their first map still reaches the
    // glyphs by code.
    if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) != 0 && face->num_charmaps > 0)
        FT_Set_Charmap(face, face->charmaps[0]);
    std::string name = face->family_name != nullptr ? face->family_name : family;
    std::unique_ptr<TextFace> result(new TextFace(std::move(impl), path, std::move(name)));
    const TextFace* raw = result.get();
    byPath.emplace(path, std::move(result));
    return raw;
}

const TextFace* TextFaceLibrary::OpenFile(const std::string& path, std::string* error) {
    return impl_->Open(path, path, error);
}

const TextFace* TextFaceLibrary::Impl::Resolve(Pattern pattern, const std::string& request,
                                               const std::string& style, std::string* error) {
    if (auto it = byRequest.find(request); it != byRequest.end()) return it->second;
    if (!pattern) {
        if (error != nullptr) *error = "bad font name";
        return nullptr;
    }
    if (!fcTried) {
        fcTried = true;
        // fontconfig keeps process-wide caches (the program name, the
        // default languages) that only FcFini frees, and FcFini would pull
        // fontconfig from under a host that uses it too. Kept loaded, the
        // caches stay fontconfig's and reachable when this library is
        // unloaded, instead of becoming leaks.
        platform::DynamicLibrary::KeepLoaded(kFontconfigSoname);
        fc = FcInitLoadConfigAndFonts();
    }
    if (fc == nullptr) {
        if (error != nullptr) *error = "fontconfig could not be initialised";
        return nullptr;
    }
    FcChar8* asked = nullptr;
    std::string family;
    if (FcPatternGetString(pattern.get(), FC_FAMILY, 0, &asked) == FcResultMatch)
        family = reinterpret_cast<const char*>(asked);
    FcConfigSubstitute(fc, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    Pattern match(FcFontMatch(fc, pattern.get(), &result));
    FcChar8* file = nullptr;
    if (!match || FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch) {
        if (error != nullptr) *error = "font not found";
        return nullptr;
    }
    if (!Carries(match.get(), FC_FAMILY, family)) {
        if (error != nullptr) *error = "font family '" + family + "' is not installed";
        return nullptr;
    }
    if (!style.empty() && !Carries(match.get(), FC_STYLE, style)) {
        if (error != nullptr) *error = "font family '" + family + "' has no style '" + style + "'";
        return nullptr;
    }
    const TextFace* face = Open(reinterpret_cast<const char*>(file), family, error);
    if (face != nullptr) byRequest.emplace(request, face);
    return face;
}

const TextFace* TextFaceLibrary::OpenPattern(const std::string& pattern, std::string* error) {
    Pattern parsed(FcNameParse(reinterpret_cast<const FcChar8*>(pattern.c_str())));
    return impl_->Resolve(std::move(parsed), pattern, {}, error);
}

const TextFace* TextFaceLibrary::OpenFamily(const std::string& family, const std::string& style,
                                            std::string* error) {
    Pattern pattern(FcPatternCreate());
    if (pattern) {
        FcPatternAddString(pattern.get(), FC_FAMILY,
                           reinterpret_cast<const FcChar8*>(family.c_str()));
        if (!style.empty())
            FcPatternAddString(pattern.get(), FC_STYLE,
                               reinterpret_cast<const FcChar8*>(style.c_str()));
    }
    // A NUL cannot occur in either name, so it keeps the two apart.
    return impl_->Resolve(std::move(pattern), family + '\0' + style, style, error);
}

}  // namespace kovran::imaging
