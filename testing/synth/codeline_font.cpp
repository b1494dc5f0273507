#include "testing/synth/codeline_font.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ocr/glyph_raster.h"
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

  protected:
    CodelineGlyph Draw(char c, double dpiX, double dpiY, double /*growMm*/) const override {
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
    std::string Name() const override { return "CMC7 (printed strokes)"; }
    bool HasChar(char c) const override { return c == ' ' || Cmc7Code(c) >= 0; }
    double HeightInch() const override { return g_.heightMm / 25.4; }

  protected:
    CodelineGlyph Draw(char c, double dpiX, double dpiY, double growMm) const override {
        CodelineGlyph out;
        const int code = Cmc7Code(c);
        if (code < 0) return out;
        double starts[7];
        starts[0] = 0.0;
        for (int k = 1; k < 7; ++k)
            starts[k] =
                starts[k - 1] + ((code >> (k - 1)) & 1 ? g_.longIntervalMm : g_.shortIntervalMm);
        const double spanMm = starts[6] + g_.barWidthMm;
        const double grow = std::clamp(growMm, -0.05, 0.1);
        const double marginMm = std::max(0.0, grow) + 0.05;
        const double pxX = dpiX / 25.4, pxY = dpiY / 25.4;
        const int w = static_cast<int>(std::ceil((spanMm + 2 * marginMm) * pxX));
        const int h = static_cast<int>(std::ceil((g_.heightMm + 2 * marginMm) * pxY));
        const int fx = std::max(2, static_cast<int>(std::ceil(2400.0 / dpiX)));
        const int fy = std::max(2, static_cast<int>(std::ceil(2400.0 / dpiY)));
        ocr::FineMask mask(w * fx, h * fy, 1.0 / pxX / fx, 1.0 / pxY / fy);
        const auto rows = StrokeRows(c, starts);
        for (int y = 0; y < mask.height; ++y) {
            const double my = (y + 0.5) * mask.pitchYMm - marginMm;  // from the top of the strokes
            if (my < 0.0 || my >= g_.heightMm) continue;
            const double v = my / g_.heightMm;
            for (int x = 0; x < mask.width; ++x) {
                const double mx = (x + 0.5) * mask.pitchXMm - marginMm;
                for (int k = 0; k < 7; ++k) {
                    if (mx < starts[k] || mx >= starts[k] + g_.barWidthMm) continue;
                    if (rows[k].Inked(v)) mask.At(x, y) = 1;
                    break;
                }
            }
        }
        // Printed strokes have soft ends, and print weight varies.
        ocr::RoundCorners(mask, 0.03);
        ocr::OffsetOutline(mask, grow);
        const auto cov = ocr::AreaCoverage(mask, fx, fy);
        out.coverage = ImageBuffer(w, h, 1, 0, {dpiX, dpiY});
        std::copy(cov.begin(), cov.end(), out.coverage.Data());
        // Centre the character in its 1/8 inch cell.
        out.leftInch = (PitchInch() * 25.4 - spanMm) / 2.0 / 25.4 - marginMm / 25.4;
        out.bottomInch = -marginMm / 25.4;
        return out;
    }

  private:
    // The inked spans of one stroke, as shares of the character height
    // from the top.
    struct StrokeSpans {
        std::vector<std::pair<double, double>> spans;
        bool Inked(double v) const {
            for (auto [a, b] : spans)
                if (v >= a && v < b) return true;
            return false;
        }
        double Length() const {
            double n = 0;
            for (auto [a, b] : spans) n += b - a;
            return n;
        }
    };

    std::vector<StrokeSpans> StrokeRows(char c, const double* starts) const {
        std::vector<StrokeSpans> rows(7);
        if (c >= '0' && c <= '9') {
            DigitSpans(c, starts, rows);
        } else {
            SymbolSpans(c, rows);
        }
        // Every stroke keeps at least a third of the height: the code must
        // stay readable. Short pieces grow where they are, so that a counter
        // (the hole of the '0') stays open.
        for (auto& r : rows) {
            const double missing = 1.0 / 3.0 - r.Length();
            if (missing <= 0) continue;
            if (r.spans.empty()) {
                r.spans.push_back({1.0 / 3.0, 2.0 / 3.0});
                continue;
            }
            const double each = missing / (2.0 * static_cast<double>(r.spans.size()));
            for (auto& [a, b] : r.spans) {
                a = std::max(0.0, a - each);
                b = std::min(1.0, b + each);
            }
        }
        return rows;
    }

    // The digit outline of the shape face, stretched over the seven strokes
    // and the full height; each stroke is inked where its centre line lies
    // inside the outline.
    void DigitSpans(char c, const double* starts, std::vector<StrokeSpans>& rows) const {
        constexpr double kEm = 600.0;
        const imaging::TextGlyph g = shapes_.Render(static_cast<char32_t>(c), kEm, kEm);
        const ImageBuffer& p = g.coverage;
        if (p.Empty()) return;
        int x0 = p.Width(), x1 = -1, y0 = p.Height(), y1 = -1;
        for (int y = 0; y < p.Height(); ++y)
            for (int x = 0; x < p.Width(); ++x)
                if (p.At(x, y) >= 128) {
                    x0 = std::min(x0, x);
                    x1 = std::max(x1, x);
                    y0 = std::min(y0, y);
                    y1 = std::max(y1, y);
                }
        if (x1 < x0) return;
        const double span = starts[6] + g_.barWidthMm;
        const int samples = 400;
        for (int k = 0; k < 7; ++k) {
            const double u = (starts[k] + g_.barWidthMm / 2) / span;
            const int sx = std::clamp(x0 + static_cast<int>(std::lround(u * (x1 - x0))), x0, x1);
            double start = -1;
            for (int i = 0; i <= samples; ++i) {
                const double v = static_cast<double>(i) / samples;
                const int sy =
                    std::clamp(y0 + static_cast<int>(std::lround(v * (y1 - y0))), y0, y1);
                const bool in = i < samples && p.At(sx, sy) >= 128;
                if (in && start < 0) start = v;
                if (!in && start >= 0) {
                    rows[k].spans.push_back({start, v});
                    start = -1;
                }
            }
        }
    }

    // The symbols have no digit outline: each has a cut of its own. The code
    // table fixes only their long gaps; which way '<' and '>' taper is our
    // choice (the databases' art tapers each the other way), an open
    // question the corpus README records.
    static void SymbolSpans(char c, std::vector<StrokeSpans>& rows) {
        for (int k = 0; k < 7; ++k) {
            auto& s = rows[k].spans;
            const double t = k / 6.0;
            switch (c) {
                case ':':  // S1: full strokes with a window in the middle
                    if (k >= 2 && k <= 4)
                        s = {{0.0, 0.38}, {0.62, 1.0}};
                    else
                        s = {{0.0, 1.0}};
                    break;
                case ';':  // S2: strokes alternately short at the top and bottom
                    s = k % 2 ? std::vector<std::pair<double, double>>{{0.22, 1.0}}
                              : std::vector<std::pair<double, double>>{{0.0, 0.78}};
                    break;
                case '<':  // S3: tapering from left to right
                    s = {{0.3 * t, 1.0 - 0.3 * t}};
                    break;
                case '=':  // S4: two cuts across
                    s = {{0.0, 0.28}, {0.4, 0.6}, {0.72, 1.0}};
                    break;
                default:  // '>' S5: tapering from right to left
                    s = {{0.3 * (1 - t), 1.0 - 0.3 * (1 - t)}};
                    break;
            }
        }
    }

    const SynthFont& shapes_;
    Cmc7Geometry g_;
};

}  // namespace

CodelineGlyph CodelineFont::Render(char c, double dpiX, double dpiY, double growMm) const {
    const long step = std::lround(growMm / kGrowStepMm);
    const auto key = std::make_tuple(c, dpiX, dpiY, step);
    {
        std::lock_guard lock(cacheMutex_);
        if (auto it = cache_.find(key); it != cache_.end()) return it->second;
    }
    CodelineGlyph g = Draw(c, dpiX, dpiY, step * kGrowStepMm);
    std::lock_guard lock(cacheMutex_);
    cache_.emplace(key, g);
    return g;
}

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
    return std::make_unique<Cmc7Font>(fonts.Open("Nimbus Sans:style=Bold"), geometry);
}

char DecodeCmc7Strokes(const ImageBuffer& coverage, double dpiX, const Cmc7Geometry& g) {
    const int w = coverage.Width();
    std::vector<double> profile(w, 0.0);
    double top = 0.0;
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < coverage.Height(); ++y)
            profile[x] = std::max<double>(profile[x], CoverageShare(coverage.At(x, y)));
        top = std::max(top, profile[x]);
    }
    if (top <= 0.0) return '?';
    // Strokes are the peaks of the column profile (the heaviest coverage in
    // each column, so that a short stroke counts as much as a long one): at
    // low resolution a gap of 0.15 mm is about one pixel and never quite
    // empty, so a stroke is a maximum that stands out from the dips beside it.
    struct Peak {
        int x;
        double v;
    };
    std::vector<Peak> peaks;
    for (int x = 0; x < w; ++x) {
        const double l = x > 0 ? profile[x - 1] : 0.0, r = x + 1 < w ? profile[x + 1] : 0.0;
        if (profile[x] >= 0.1 * top && profile[x] >= l && profile[x] > r)
            peaks.push_back({x, profile[x]});
    }
    // Two neighbouring peaks without a clear dip between them are one stroke.
    for (bool merged = true; merged;) {
        merged = false;
        for (std::size_t k = 0; k + 1 < peaks.size(); ++k) {
            double dip = peaks[k].v;
            for (int x = peaks[k].x; x <= peaks[k + 1].x; ++x) dip = std::min(dip, profile[x]);
            if (dip < 0.85 * std::min(peaks[k].v, peaks[k + 1].v)) continue;
            peaks.erase(peaks.begin() +
                        static_cast<long>(peaks[k].v >= peaks[k + 1].v ? k + 1 : k));
            merged = true;
            break;
        }
    }
    if (peaks.size() != 7) return '?';
    // Sub-pixel centres from the parabola through each peak and its neighbours.
    std::vector<double> centres;
    for (const Peak& p : peaks) {
        const double l = p.x > 0 ? profile[p.x - 1] : 0.0, r = p.x + 1 < w ? profile[p.x + 1] : 0.0;
        const double d = l - 2 * p.v + r;
        centres.push_back(p.x + 0.5 + (d < 0 ? 0.5 * (l - r) / d : 0.0));
    }
    const double split = (g.shortIntervalMm + g.longIntervalMm) / 2 * dpiX / 25.4;
    int code = 0;
    for (int k = 0; k < 6; ++k)
        if (centres[k + 1] - centres[k] > split) code |= 1 << k;
    return kCmc7Table[code];
}

}  // namespace kovran::synth
