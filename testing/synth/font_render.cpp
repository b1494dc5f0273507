#include "testing/synth/font_render.h"

#include <algorithm>
#include <cmath>

#include "testing/synth/synth_error.h"

namespace kovran::synth {

imaging::TextGlyph SynthFont::Render(char32_t c, double emPixelsX, double emPixelsY) const {
    // Hinting off so that small sizes keep the outline's proportions (the
    // scanner sees ink, not hinted pixels).
    auto glyph = face_.Render(c, emPixelsX, emPixelsY);
    return glyph ? std::move(*glyph) : imaging::TextGlyph{};
}

const SynthFont& SynthFontLibrary::Open(const std::string& name) {
    if (auto it = faces_.find(name); it != faces_.end()) return *it->second;
    std::string reason;
    const imaging::TextFace* face = name.find('/') == std::string::npos
                                        ? library_.OpenPattern(name, &reason)
                                        : library_.OpenFile(name, &reason);
    if (face == nullptr) throw SynthError(reason);
    return *faces_.emplace(name, std::make_unique<SynthFont>(*face)).first->second;
}

TextLine RenderLine(const SynthFont& face, const std::u32string& text, double sizePt, double dpiX,
                    double dpiY, double pitch) {
    const double emX = sizePt * dpiX / 72.0, emY = sizePt * dpiY / 72.0;
    std::vector<imaging::TextGlyph> glyphs;
    std::vector<double> pens;
    double pen = 0.0;
    int above = static_cast<int>(std::ceil(emY)), below = static_cast<int>(std::ceil(emY * 0.3));
    for (char32_t c : text) {
        glyphs.push_back(face.Render(c, emX, emY));
        pens.push_back(pen);
        const imaging::TextGlyph& g = glyphs.back();
        above = std::max(above, g.top);
        below = std::max(below, g.coverage.Height() - g.top);
        pen += pitch > 0.0 ? pitch : g.advance;
    }
    int width = static_cast<int>(std::ceil(pen)) + 2;
    for (std::size_t i = 0; i < glyphs.size(); ++i)
        width = std::max(
            width, static_cast<int>(pens[i]) + glyphs[i].left + glyphs[i].coverage.Width() + 1);
    TextLine line;
    line.baseline = above;
    line.coverage = ImageBuffer(std::max(width, 1), above + below + 1);
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        const imaging::TextGlyph& g = glyphs[i];
        TextLine::CharBox box;
        box.ch = text[i];
        const int ox = static_cast<int>(std::lround(pens[i])) + g.left;
        const int oy = line.baseline - g.top;
        box.left = ox;
        box.top = oy;
        box.right = ox + g.coverage.Width();
        box.bottom = oy + g.coverage.Height();
        for (int y = 0; y < g.coverage.Height(); ++y) {
            const int ty = oy + y;
            if (ty < 0 || ty >= line.coverage.Height()) continue;
            for (int x = 0; x < g.coverage.Width(); ++x) {
                const int tx = ox + x;
                if (tx < 0 || tx >= line.coverage.Width()) continue;
                std::uint8_t& dst = line.coverage.At(tx, ty);
                dst = static_cast<std::uint8_t>(std::min(255, dst + g.coverage.At(x, y)));
            }
        }
        line.boxes.push_back(box);
    }
    return line;
}

}  // namespace kovran::synth
