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
    CodelineGlyph Draw(char c, double dpiX, double dpiY, double /*growMm*/,
                       double /*phasePx*/) const override {
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
    explicit Cmc7Font(Cmc7Geometry g) : g_(g) {}
    std::string Name() const override { return "CMC7 (printed strokes)"; }
    bool HasChar(char c) const override { return c == ' ' || Cmc7Code(c) >= 0; }
    double HeightInch() const override { return g_.heightMm / 25.4; }
    bool MovesByPhase() const override { return true; }

  protected:
    CodelineGlyph Draw(char c, double dpiX, double dpiY, double growMm,
                       double phasePx) const override {
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
        out.growMm = grow;
        const double marginMm = std::max(0.0, grow) + 0.05;
        const double pxX = dpiX / 25.4, pxY = dpiY / 25.4;
        const int w = static_cast<int>(std::ceil((spanMm + 2 * marginMm) * pxX)) + 1;
        const double phaseMm = phasePx / pxX;
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
                const double mx = (x + 0.5) * mask.pitchXMm - marginMm - phaseMm;
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

    std::vector<StrokeSpans> StrokeRows(char c, const double* /*starts*/) const {
        std::vector<StrokeSpans> rows(7);
        if (c >= '0' && c <= '9') {
            DigitSpans(c, rows);
        } else {
            SymbolSpans(c, rows);
        }
        // A stroke that the outline leaves almost bare keeps a short piece
        // where it has ink, so that all seven strokes and the gap pattern
        // stand at every print weight.
        for (auto& r : rows) {
            const double missing = kMinStroke - r.Length();
            if (missing <= 0) continue;
            if (r.spans.empty()) {
                r.spans.push_back({0.5 - kMinStroke / 2, 0.5 + kMinStroke / 2});
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

    static constexpr double kMinStroke = 0.1;

    // The digit as a pen path: a broad nib, about two strokes wide and a
    // tenth of the height deep, drawn along the digit's centre line. The
    // path is given across the stroke positions (x from 0, the first stroke,
    // to 6, the seventh) and down the height (y from 0 to 1), because
    // printed CMC7 fits its digits to the strokes, whatever the gaps. A
    // stroke is inked wherever its position lies under the nib.
    struct PathPoint {
        double x, y;
    };
    static std::vector<std::vector<PathPoint>> DigitPath(char c) {
        // Box corners are cut (rounded print), the middle bar sits at 0.47.
        constexpr double T = 0.053, B = 0.947, M = 0.474;
        switch (c) {
            case '0':
                return {{{0.5, 0.15},
                         {1.5, T},
                         {4.5, T},
                         {5.5, 0.15},
                         {5.5, 0.85},
                         {4.5, B},
                         {1.5, B},
                         {0.5, 0.85},
                         {0.5, 0.15}}};
            case '1':
                return {{{3.5, 0.0}, {3.5, 1.0}}, {{3.0, 0.02}, {0.2, 0.22}}, {{0, B}, {6, B}}};
            case '2':
                return {{{0.5, 0.16},
                         {1.5, T},
                         {4.5, T},
                         {5.5, 0.13},
                         {5.5, 0.38},
                         {0.5, 0.63},
                         {0.5, B},
                         {6, B}}};
            case '3':
                return {{{0, T}, {4.8, T}, {5.5, 0.12}, {5.5, 0.88}, {4.8, B}, {0, B}},
                        {{1.2, M}, {5.5, M}}};
            case '4':
                return {{{4.5, 0.0}, {4.5, 1.0}},
                        {{4.2, 0.02}, {0.5, 0.36}, {0.5, 0.63}, {6, 0.63}},
                        {{4.5, B}, {6, B}}};
            case '5':
                return {{{6, T},
                         {0.5, T},
                         {0.5, 0.42},
                         {4.8, 0.42},
                         {5.5, 0.5},
                         {5.5, 0.88},
                         {4.5, B},
                         {1.5, B},
                         {0.5, 0.88},
                         {0.5, 0.84}}};
            case '6':
                return {{{5.5, 0.15},
                         {4.5, T},
                         {1.5, T},
                         {0.5, 0.13},
                         {0.5, 0.87},
                         {1.5, B},
                         {4.5, B},
                         {5.5, 0.87},
                         {5.5, 0.56},
                         {4.8, M},
                         {0.5, M}}};
            case '7':
                return {{{0.5, 0.15}, {0.5, T}, {6, T}, {5.5, 0.17}, {4.5, 0.3}, {0.5, 1.0}}};
            case '8':
                return {{{1.2, M},
                         {0.5, 0.4},
                         {0.5, 0.15},
                         {1.5, T},
                         {4.5, T},
                         {5.5, 0.15},
                         {5.5, 0.4},
                         {4.8, M},
                         {1.2, M},
                         {0.5, 0.55},
                         {0.5, 0.85},
                         {1.5, B},
                         {4.5, B},
                         {5.5, 0.85},
                         {5.5, 0.55},
                         {4.8, M}}};
            default:  // '9'
                return {{{0.5, 0.47},
                         {0.5, 0.15},
                         {1.5, T},
                         {4.5, T},
                         {5.5, 0.15},
                         {5.5, 0.87},
                         {4.5, B},
                         {1.5, B},
                         {0.5, 0.87},
                         {0.5, 0.83}},
                        {{0.5, 0.45}, {5.5, 0.45}}};
        }
    }

    static void DigitSpans(char c, std::vector<StrokeSpans>& rows) {
        constexpr double kNibX = 0.75, kNibY = 0.06;  // half width (strokes), half depth
        const auto paths = DigitPath(c);
        auto underNib = [&](double x, double y) {
            for (const auto& path : paths)
                for (std::size_t i = 0; i + 1 < path.size(); ++i) {
                    const double ax = path[i].x / kNibX, ay = path[i].y / kNibY;
                    const double bx = path[i + 1].x / kNibX, by = path[i + 1].y / kNibY;
                    const double px = x / kNibX, py = y / kNibY;
                    const double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
                    const double t =
                        len2 > 0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / len2, 0.0, 1.0)
                                 : 0.0;
                    const double ex = px - ax - t * dx, ey = py - ay - t * dy;
                    if (ex * ex + ey * ey <= 1.0) return true;
                }
            return false;
        };
        const int samples = 400;
        for (int k = 0; k < 7; ++k) {
            double start = -1;
            for (int i = 0; i <= samples; ++i) {
                const double v = (i + 0.5) / samples;
                const bool in = i < samples && underNib(k, v);
                if (in && start < 0) start = static_cast<double>(i) / samples;
                if (!in && start >= 0) {
                    rows[k].spans.push_back({start, static_cast<double>(i) / samples});
                    start = -1;
                }
            }
        }
    }

    // The symbols have no digit outline: each is cut by a rule of its own
    // from the seven strokes. The code table fixes only their long gaps; the
    // cuts are our reading of printed CMC7 ('<' tapers to a point on the
    // left, '>' on the right, as the signs they stand for), an open question
    // the corpus README records.
    static void SymbolSpans(char c, std::vector<StrokeSpans>& rows) {
        for (int k = 0; k < 7; ++k) {
            auto& s = rows[k].spans;
            const double t = k / 6.0;
            switch (c) {
                case ':':  // S1: a window across the middle third
                    s = {{0.0, 1.0 / 3.0}, {2.0 / 3.0, 1.0}};
                    break;
                case ';':  // S2: the lower half of every second stroke cut away
                    if (k % 2)
                        s = {{0.0, 0.5}};
                    else
                        s = {{0.0, 1.0}};
                    break;
                case '<':  // S3: tapering to the left
                    s = {{0.33 * (1 - t), 1.0 - 0.33 * (1 - t)}};
                    break;
                case '=':  // S4: a band cut down from the top left corner
                {
                    const double a = 0.056 * (k - 1.5), b = 0.056 * (k + 3.0);
                    s.clear();
                    if (a > 0) s.push_back({0.0, a});
                    s.push_back({std::clamp(b, 0.0, 1.0), 1.0});
                    break;
                }
                default:  // '>' S5: tapering to the right
                    s = {{0.33 * t, 1.0 - 0.33 * t}};
                    break;
            }
        }
    }

    Cmc7Geometry g_;
};

}  // namespace

CodelineGlyph CodelineFont::Render(char c, double dpiX, double dpiY, double growMm,
                                   double phasePx) const {
    const long step = std::lround(growMm / kGrowStepMm);
    const int quarter = MovesByPhase() ? static_cast<int>(std::lround(phasePx * 4)) & 3 : 0;
    const auto key = std::make_tuple(c, dpiX, dpiY, step, quarter);
    {
        std::lock_guard lock(cacheMutex_);
        if (auto it = cache_.find(key); it != cache_.end()) return it->second;
    }
    CodelineGlyph g = Draw(c, dpiX, dpiY, step * kGrowStepMm, quarter / 4.0);
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

std::unique_ptr<CodelineFont> MakeCmc7Font(Cmc7Geometry geometry) {
    return std::make_unique<Cmc7Font>(geometry);
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
