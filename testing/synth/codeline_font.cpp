#include "testing/synth/codeline_font.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "testing/synth/synth_error.h"

namespace kovran::synth {

namespace {

// Split so that no "??x" trigraph sequence appears in the literal.
constexpr const char* kCmc7Table =
    "???7?32?"
    "?49?0???"
    "?18?6???"
    "5???????"
    "?:;?<???"
    "=???????"
    ">???????"
    "????????";

class E13bFont final : public CodelineFont {
  public:
    explicit E13bFont(const SynthFont& face) : face_(face) {
        // Scale so that the digit zero is exactly the nominal character height.
        const auto zero = face_.Bounds(U'0');
        const double h = zero.yMax - zero.yMin;
        emInch_ = h > 0.0 ? HeightInch() / h : 0.2;
    }
    std::string Name() const override { return "E13B (" + face_.Family() + ")"; }
    bool HasChar(char c) const override {
        if (c == ' ') return true;
        const char32_t g = GlyphFor(c);
        return g != 0 && face_.HasChar(g);
    }
    CodelineGlyph Render(char c, double dpiX, double dpiY) const override {
        CodelineGlyph out;
        if (c == ' ') return out;
        imaging::TextGlyph g = face_.Render(GlyphFor(c), emInch_ * dpiX, emInch_ * dpiY);
        out.coverage = std::move(g.coverage);
        out.leftInch = g.left / dpiX;
        out.bottomInch = (g.top - out.coverage.Height()) / dpiY;
        return out;
    }

  private:
    static char32_t GlyphFor(char c) {
        if (c >= '0' && c <= '9') return static_cast<char32_t>(c);
        switch (c) {
            case ':':
                return U'A';  // transit
            case '=':
                return U'B';  // amount
            case '<':
                return U'C';  // on-us
            case ';':
                return U'D';  // dash
            default:
                return 0;
        }
    }
    const SynthFont& face_;
    double emInch_ = 0.2;
};

class Cmc7Font final : public CodelineFont {
  public:
    Cmc7Font(const SynthFont& shapes, Cmc7Geometry g) : shapes_(shapes), g_(g) {}
    std::string Name() const override { return "CMC7 (bars)"; }
    bool HasChar(char c) const override { return c == ' ' || Cmc7Code(c) >= 0; }
    double HeightInch() const override { return g_.heightMm / 25.4; }

    CodelineGlyph Render(char c, double dpiX, double dpiY) const override {
        CodelineGlyph out;
        const int code = Cmc7Code(c);
        if (code < 0) return out;
        // Bar left edges in mm from the first bar.
        double starts[7];
        starts[0] = 0.0;
        for (int k = 1; k < 7; ++k)
            starts[k] =
                starts[k - 1] + ((code >> (k - 1)) & 1 ? g_.longIntervalMm : g_.shortIntervalMm);
        const double widthMm = starts[6] + g_.barWidthMm;
        const double pxX = dpiX / 25.4, pxY = dpiY / 25.4;
        const int w = std::max(1, static_cast<int>(std::ceil(widthMm * pxX)) + 1);
        const int h = std::max(1, static_cast<int>(std::lround(g_.heightMm * pxY)));
        out.coverage = ImageBuffer(w, h);
        const auto mask = ShapeMask(c, h);
        for (int k = 0; k < 7; ++k) {
            const double x0 = starts[k] * pxX, x1 = (starts[k] + g_.barWidthMm) * pxX;
            const auto& rows = mask[k];
            for (int x = static_cast<int>(std::floor(x0)); x < std::ceil(x1) && x < w; ++x) {
                // Area coverage of the pixel by the bar.
                const double a = std::min<double>(x + 1, x1) - std::max<double>(x, x0);
                if (a <= 0.0) continue;
                for (int y = 0; y < h; ++y)
                    if (rows[y])
                        out.coverage.At(x, y) = static_cast<std::uint8_t>(std::min<long>(
                            kFullInk, out.coverage.At(x, y) + std::lround(a * kFullInk)));
            }
        }
        // Centre the character in its 1/8 inch cell.
        out.leftInch = (PitchInch() - widthMm / 25.4) / 2.0;
        out.bottomInch = 0.0;
        return out;
    }

  private:
    // Per bar, which rows carry ink: the digit's outline sampled in seven
    // vertical bands. A bar that would keep less than half of its height is
    // drawn whole, so that every bar stays readable for the gap decoder.
    std::vector<std::vector<bool>> ShapeMask(char c, int h) const {
        std::vector<std::vector<bool>> mask(7, std::vector<bool>(h, true));
        if (c < '0' || c > '9') return mask;
        const auto box = shapes_.Bounds(static_cast<char32_t>(c));
        const double bh = box.yMax - box.yMin, bw = box.xMax - box.xMin;
        if (bh <= 0.0 || bw <= 0.0) return mask;
        const double em = h / bh;
        const imaging::TextGlyph g = shapes_.Render(static_cast<char32_t>(c), em * 1.0, em);
        if (g.coverage.Empty()) return mask;
        const ImageBuffer& p = g.coverage;
        for (int k = 0; k < 7; ++k) {
            const int a = static_cast<int>(std::floor(k * p.Width() / 7.0));
            const int b = std::max(a + 1, static_cast<int>(std::ceil((k + 1) * p.Width() / 7.0)));
            int inked = 0;
            std::vector<bool> rows(h, false);
            for (int y = 0; y < h; ++y) {
                const int sy = std::clamp(y * p.Height() / h, 0, p.Height() - 1);
                for (int x = a; x < b && x < p.Width(); ++x)
                    if (CoverageShare(p.At(x, sy)) > 0.4f) rows[y] = true;
                inked += rows[y];
            }
            if (inked * 2 >= h) mask[k] = rows;
        }
        return mask;
    }
    const SynthFont& shapes_;
    Cmc7Geometry g_;
};

}  // namespace

int Cmc7Code(char c) {
    if (c == '?' || c == 0) return -1;
    const char* p = std::strchr(kCmc7Table, c);
    return p ? static_cast<int>(p - kCmc7Table) : -1;
}

std::unique_ptr<CodelineFont> MakeE13bFont(SynthFontLibrary& fonts, const std::string& path) {
    const SynthFont& face = fonts.Open(path);
    if (!face.HasChar(U'0') || !face.HasChar(U'C'))
        throw SynthError("font " + path + " has no E13B digits and symbols");
    return std::make_unique<E13bFont>(face);
}

std::unique_ptr<CodelineFont> MakeCmc7Font(SynthFontLibrary& fonts, Cmc7Geometry geometry) {
    return std::make_unique<Cmc7Font>(fonts.Open("DejaVu Sans:style=Bold"), geometry);
}

}  // namespace kovran::synth
