#include "testing/synth/project_glyphs.h"

#include <algorithm>

#include "ocr/glyph_sources.h"

namespace kovran::synth {

namespace {

using ocr::GlyphFamily;
using ocr::GlyphSet;

class ProjectCodelineFont final : public CodelineFont {
  public:
    ProjectCodelineFont(GlyphSet set, std::string name, double cornerMm)
        : set_(std::move(set)), name_(std::move(name)), cornerMm_(cornerMm) {}
    std::string Name() const override { return name_ + " (project glyphs)"; }
    bool HasChar(char c) const override { return c == ' ' || set_.Contains(c); }
    double PitchInch() const override { return set_.PitchMm() / 25.4; }
    double HeightInch() const override { return set_.HeightMm() / 25.4; }

  protected:
    CodelineGlyph Draw(char c, double dpiX, double dpiY, double growMm,
                       double /*phasePx*/) const override {
        CodelineGlyph out;
        ocr::GlyphRenderOptions options;
        options.dpi = std::clamp(dpiX, 50.0, 2400.0);
        options.dpiV = std::clamp(dpiY, 50.0, 2400.0);
        options.growMm = growMm;
        options.cornerMm = cornerMm_;
        const auto g = set_.Render(c, options);
        if (!g || g->inkLeft < 0) return out;
        const int w = g->inkRight - g->inkLeft + 1, h = g->inkBottom - g->inkTop + 1;
        out.coverage = ImageBuffer(w, h, 1, 0, {options.dpi, options.dpiV});
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                out.coverage.At(x, y) = g->coverage.At(g->inkLeft + x, g->inkTop + y);
        out.leftInch = g->inkLeft / options.dpi;
        out.bottomInch = (g->image.Height() - 1 - g->padRows - g->inkBottom) / options.dpiV;
        // The glyph data grows over the whole range a description can ask.
        out.growMm = growMm;
        return out;
    }

  private:
    GlyphSet set_;
    std::string name_;
    double cornerMm_ = 0.0;
};

}  // namespace

std::unique_ptr<CodelineFont> MakeProjectCodelineFont(const std::string& family, double cornerMm) {
    if (family == "cmc7")
        return std::make_unique<ProjectCodelineFont>(GlyphSet::Builtin(GlyphFamily::CMC7), "CMC7",
                                                     cornerMm);
    return std::make_unique<ProjectCodelineFont>(GlyphSet::Builtin(GlyphFamily::E13B), "E13B",
                                                 cornerMm);
}

bool ProjectPerforationHasChar(char c) {
    return c == ' ' || GlyphSet::Builtin(GlyphFamily::Microperforation).Contains(c);
}

ImageBuffer ProjectPerforationHoles(char c, double dpiX, double dpiY, double* pitchMm) {
    const GlyphSet set = GlyphSet::Builtin(GlyphFamily::Microperforation);
    if (pitchMm) *pitchMm = set.PitchMm();
    ocr::GlyphRenderOptions options;
    options.dpi = dpiX;
    options.dpiV = dpiY;
    const auto g = set.Render(c, options);
    if (!g) return ImageBuffer();
    ImageBuffer out(g->image.Width(), g->image.Height(), 1, 0, g->image.Res());
    for (int y = 0; y < out.Height(); ++y)
        for (int x = 0; x < out.Width(); ++x) out.At(x, y) = g->image.At(x, y) ? kFullInk : 0;
    return out;
}

}  // namespace kovran::synth
