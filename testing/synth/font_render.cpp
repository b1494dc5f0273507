#include "testing/synth/font_render.h"

#include <algorithm>
#include <cmath>

#include "platform/utf8.h"

namespace kovran::synth {

std::u32string decodeUtf8(const std::string& text, bool* ok) {
    return platform::DecodeUtf8(text, ok);
}

GlyphImage FontFace::render(char32_t c, double emPixelsX, double emPixelsY) const {
    GlyphImage g;
    // Hinting off so that small sizes keep the outline's proportions (the
    // scanner sees ink, not hinted pixels).
    const auto glyph = face_.render(c, emPixelsX, emPixelsY);
    if (!glyph) return g;
    g.advance = glyph->advance;
    g.left = glyph->left;
    g.top = glyph->top;
    if (glyph->width == 0 || glyph->height == 0) return g;
    g.coverage = Plane(glyph->width, glyph->height);
    for (int y = 0; y < glyph->height; ++y) {
        float* dst = g.coverage.row(y);
        for (int x = 0; x < glyph->width; ++x) dst[x] = glyph->at(x, y) / 255.0f;
    }
    return g;
}

const FontFace* FontLibrary::open(const std::string& name, std::string* error) {
    if (auto it = faces_.find(name); it != faces_.end()) return it->second.get();
    std::string reason;
    const platform::FontFace* face = name.find('/') == std::string::npos
                                         ? library_.openPattern(name, reason)
                                         : library_.openFile(name, reason);
    if (face == nullptr) {
        if (error) *error = reason;
        return nullptr;
    }
    const FontFace* result =
        faces_.emplace(name, std::make_unique<FontFace>(*face)).first->second.get();
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

}  // namespace kovran::synth
