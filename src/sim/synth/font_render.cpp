#include "sim/synth/font_render.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cctype>
#include <cmath>

namespace kovran::sim::synth {

std::u32string decodeUtf8(const std::string& text, bool* ok) {
    std::u32string out;
    bool good = true;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t c = 0;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            extra = 3;
        } else {
            good = false;
            ++i;
            continue;
        }
        if (i + extra >= text.size() && extra > 0) {
            good = false;
            break;
        }
        for (int k = 1; k <= extra; ++k) {
            const auto nb = static_cast<unsigned char>(text[i + k]);
            if ((nb & 0xC0) != 0x80) good = false;
            c = (c << 6) | (nb & 0x3F);
        }
        out.push_back(c);
        i += 1 + extra;
    }
    if (ok) *ok = good;
    return out;
}

struct FontFace::Impl {
    FT_Face face = nullptr;
    ~Impl() {
        if (face) FT_Done_Face(face);
    }
};

FontFace::~FontFace() = default;

bool FontFace::hasChar(char32_t c) const {
    return FT_Get_Char_Index(impl_->face, c) != 0;
}

FontFace::Box FontFace::box(char32_t c) const {
    Box b;
    FT_Face face = impl_->face;
    if (FT_Load_Char(face, c, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) != 0) return b;
    if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return b;
    FT_BBox bb;
    FT_Outline_Get_CBox(&face->glyph->outline, &bb);
    const double em = face->units_per_EM;
    b.xMin = bb.xMin / em;
    b.yMin = bb.yMin / em;
    b.xMax = bb.xMax / em;
    b.yMax = bb.yMax / em;
    return b;
}

GlyphImage FontFace::render(char32_t c, double emPixelsX, double emPixelsY) const {
    GlyphImage g;
    FT_Face face = impl_->face;
    // 26.6 fixed point sizes; hinting off so that small sizes keep the
    // outline's proportions (the scanner sees ink, not hinted pixels).
    FT_Set_Char_Size(face, static_cast<FT_F26Dot6>(std::lround(emPixelsX * 64.0)),
                     static_cast<FT_F26Dot6>(std::lround(emPixelsY * 64.0)), 72, 72);
    if (FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_NO_HINTING | FT_LOAD_TARGET_NORMAL) != 0)
        return g;
    const FT_GlyphSlot slot = face->glyph;
    g.advance = slot->linearHoriAdvance / 65536.0;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    const FT_Bitmap& bm = slot->bitmap;
    if (bm.width == 0 || bm.rows == 0) return g;
    g.coverage = Plane(static_cast<int>(bm.width), static_cast<int>(bm.rows));
    for (unsigned y = 0; y < bm.rows; ++y) {
        const unsigned char* src = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
        float* dst = g.coverage.row(static_cast<int>(y));
        if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
            for (unsigned x = 0; x < bm.width; ++x) dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
        } else {
            for (unsigned x = 0; x < bm.width; ++x) dst[x] = src[x] / 255.0f;
        }
    }
    return g;
}

// A fontconfig configuration of our own rather than the process-wide
// default, so that the library's state ends with it.
struct FontLibrary::Impl {
    FT_Library library = nullptr;
    FcConfig* config = nullptr;
    ~Impl() {
        if (library) FT_Done_FreeType(library);
        if (config) FcConfigDestroy(config);
    }
};

FontLibrary::FontLibrary() : impl_(std::make_unique<Impl>()) {
    if (FT_Init_FreeType(&impl_->library) != 0) impl_->library = nullptr;
    impl_->config = FcInitLoadConfigAndFonts();
}

FontLibrary::~FontLibrary() {
    faces_.clear();  // faces before the library
}

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Resolves a fontconfig pattern to a file, refusing substitutes: a test
// document must be rendered with the face it names, not with a look-alike.
bool resolveFamily(FcConfig* config, const std::string& pattern, std::string& file,
                   std::string& family, std::string* error) {
    struct PatternDeleter {
        void operator()(FcPattern* p) const { FcPatternDestroy(p); }
    };
    using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;
    PatternPtr pat(FcNameParse(reinterpret_cast<const FcChar8*>(pattern.c_str())));
    if (!pat) {
        if (error) *error = "bad font name";
        return false;
    }
    FcChar8* wanted = nullptr;
    std::string wantedFamily;
    if (FcPatternGetString(pat.get(), FC_FAMILY, 0, &wanted) == FcResultMatch)
        wantedFamily = reinterpret_cast<const char*>(wanted);
    if (!config) {
        if (error) *error = "fontconfig could not be initialised";
        return false;
    }
    FcConfigSubstitute(config, pat.get(), FcMatchPattern);
    FcDefaultSubstitute(pat.get());
    FcResult result;
    PatternPtr match(FcFontMatch(config, pat.get(), &result));
    FcChar8* path = nullptr;
    FcChar8* fam = nullptr;
    if (!match || FcPatternGetString(match.get(), FC_FILE, 0, &path) != FcResultMatch) {
        if (error) *error = "font not found";
        return false;
    }
    bool same = false;
    for (int i = 0; FcPatternGetString(match.get(), FC_FAMILY, i, &fam) == FcResultMatch; ++i)
        if (lower(reinterpret_cast<const char*>(fam)) == lower(wantedFamily)) same = true;
    if (!same) {
        if (error) *error = "font family '" + wantedFamily + "' is not installed";
        return false;
    }
    file = reinterpret_cast<const char*>(path);
    family = wantedFamily;
    return true;
}

}  // namespace

const FontFace* FontLibrary::open(const std::string& name, std::string* error) {
    if (auto it = faces_.find(name); it != faces_.end()) return it->second.get();
    if (!impl_->library) {
        if (error) *error = "FreeType could not be initialised";
        return nullptr;
    }
    std::string file = name, family = name;
    if (name.find('/') == std::string::npos &&
        !resolveFamily(impl_->config, name, file, family, error))
        return nullptr;
    std::unique_ptr<FontFace> face(new FontFace());
    face->impl_ = std::make_unique<FontFace::Impl>();
    if (FT_New_Face(impl_->library, file.c_str(), 0, &face->impl_->face) != 0) {
        if (error) *error = "cannot open font file " + file;
        return nullptr;
    }
    if (FT_Select_Charmap(face->impl_->face, FT_ENCODING_UNICODE) != 0 &&
        face->impl_->face->num_charmaps > 0)
        FT_Set_Charmap(face->impl_->face, face->impl_->face->charmaps[0]);
    face->file_ = file;
    face->family_ = face->impl_->face->family_name ? face->impl_->face->family_name : family;
    const FontFace* result = face.get();
    faces_.emplace(name, std::move(face));
    return result;
}

TextLine renderLine(const FontFace& face, const std::u32string& text, double sizePt, double dpiX,
                    double dpiY, double pitch) {
    const double emX = sizePt * dpiX / 72.0, emY = sizePt * dpiY / 72.0;
    std::vector<GlyphImage> glyphs;
    std::vector<double> pens;
    double pen = 0.0;
    int above = static_cast<int>(std::ceil(emY)), below = static_cast<int>(std::ceil(emY * 0.3));
    for (char32_t c : text) {
        glyphs.push_back(face.render(c, emX, emY));
        pens.push_back(pen);
        const GlyphImage& g = glyphs.back();
        above = std::max(above, g.top);
        below = std::max(below, g.coverage.height - g.top);
        pen += pitch > 0.0 ? pitch : g.advance;
    }
    int width = static_cast<int>(std::ceil(pen)) + 2;
    for (std::size_t i = 0; i < glyphs.size(); ++i)
        width = std::max(width,
                         static_cast<int>(pens[i]) + glyphs[i].left + glyphs[i].coverage.width + 1);
    TextLine line;
    line.baseline = above;
    line.coverage = Plane(std::max(width, 1), above + below + 1);
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        const GlyphImage& g = glyphs[i];
        TextLine::CharBox box;
        box.ch = text[i];
        const int ox = static_cast<int>(std::lround(pens[i])) + g.left;
        const int oy = line.baseline - g.top;
        box.left = ox;
        box.top = oy;
        box.right = ox + g.coverage.width;
        box.bottom = oy + g.coverage.height;
        for (int y = 0; y < g.coverage.height; ++y) {
            const int ty = oy + y;
            if (ty < 0 || ty >= line.coverage.height) continue;
            for (int x = 0; x < g.coverage.width; ++x) {
                const int tx = ox + x;
                if (tx < 0 || tx >= line.coverage.width) continue;
                float& dst = line.coverage.at(tx, ty);
                dst = std::min(1.0f, dst + g.coverage.at(x, y));
            }
        }
        line.boxes.push_back(box);
    }
    return line;
}

}  // namespace kovran::sim::synth
