#include "testing/synth/e13b_outlines.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "ocr/glyph_raster.h"

namespace kovran::synth {

namespace {

constexpr double kMilsPerMm = 1000.0 / 25.4;
constexpr double kPitchMils = 125.0;
constexpr double kBoxMils = 91.0;  // 7 modules
constexpr double kBoxLeftMils = (kPitchMils - kBoxMils) / 2.0;

struct Point {
    double x, y;  // mils; x to the right from the character's left edge, y up from the baseline
};
using Outline = std::vector<Point>;

Outline Rect(double x0, double y0, double x1, double y1) {
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

// A character: ink inside any of `ink` and outside every one of `counters`.
struct Drawing {
    double widthMils = 0.0;
    std::vector<Outline> ink;
    std::vector<Outline> counters;
};

// The outlines. Thin strokes are one module (13 mils) or a little more;
// the lower parts of most digits and the sides of the '0' are heavier,
// which is what gives each E13B character its magnetic waveform.
Drawing DrawingOf(char c) {
    switch (c) {
        case '0':
            return {91, {Rect(0, 0, 91, 117)}, {Rect(15, 13, 76, 104)}};
        case '1':
            return {52, {Rect(4, 100, 30, 117), Rect(16, 40, 30, 117), Rect(0, 0, 52, 52)}, {}};
        case '2':
            return {52,
                    {Rect(0, 104, 52, 117), Rect(38, 52, 52, 117), Rect(0, 52, 52, 66),
                     Rect(0, 0, 20, 66), Rect(0, 0, 52, 16)},
                    {}};
        case '3':
            return {65,
                    {Rect(0, 104, 52, 117), Rect(38, 58, 52, 117), Rect(0, 52, 65, 66),
                     Rect(39, 0, 65, 66), Rect(0, 0, 65, 14)},
                    {}};
        case '4':
            return {78, {Rect(0, 38, 22, 117), Rect(0, 40, 78, 56), Rect(50, 0, 78, 56)}, {}};
        case '5':
            return {65,
                    {Rect(0, 104, 65, 117), Rect(0, 52, 14, 117), Rect(0, 52, 65, 66),
                     Rect(45, 0, 65, 66), Rect(0, 0, 65, 15)},
                    {}};
        case '6':
            // A lower bowl six modules wide round an open counter (a
            // narrow, heavy bowl reads as the lower half of an '8').
            return {78,
                    {Rect(0, 0, 15, 117), Rect(0, 104, 52, 117), Rect(38, 86, 52, 117),
                     Rect(0, 0, 78, 56)},
                    {Rect(15, 15, 63, 42)}};
        case '7':
            return {65,
                    {Rect(0, 104, 65, 117), Rect(0, 80, 13, 117), Rect(51, 66, 65, 117),
                     // the slanted join from the right stem down to the heavy stem
                     Outline{{26, 46}, {48, 46}, {65, 70}, {51, 70}}, Rect(26, 0, 48, 50)},
                    {}};
        case '8':
            return {91,
                    {Rect(13, 56, 78, 117), Rect(0, 0, 91, 70)},
                    {Rect(26, 70, 65, 104), Rect(26, 15, 65, 56)}};
        case '9':
            return {78, {Rect(0, 50, 78, 117), Rect(52, 0, 78, 64)}, {Rect(14, 64, 63, 104)}};
        case ':':  // transit: a bar and two blocks
            return {91, {Rect(0, 20, 26, 97), Rect(52, 0, 91, 39), Rect(52, 78, 91, 117)}, {}};
        case '=':  // amount: three steps from the lower left to the upper right
            return {91, {Rect(0, 0, 26, 52), Rect(39, 26, 52, 91), Rect(65, 65, 91, 117)}, {}};
        case '<':  // on-us: two bars and a block at the upper right
            return {91, {Rect(0, 13, 14, 91), Rect(26, 13, 40, 91), Rect(52, 52, 91, 104)}, {}};
        case ';':  // dash: three blocks across the middle
            return {91, {Rect(0, 33, 26, 84), Rect(39, 33, 65, 84), Rect(78, 33, 91, 84)}, {}};
        default:
            return {};
    }
}

bool Inside(const Outline& o, double x, double y) {
    bool in = false;
    for (std::size_t i = 0, j = o.size() - 1; i < o.size(); j = i++) {
        const Point& a = o[i];
        const Point& b = o[j];
        if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) in = !in;
    }
    return in;
}

bool Inked(const Drawing& d, double x, double y) {
    for (const Outline& o : d.counters)
        if (Inside(o, x, y)) return false;
    for (const Outline& o : d.ink)
        if (Inside(o, x, y)) return true;
    return false;
}

struct Extent {
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
};

Extent ExtentOf(const Drawing& d) {
    Extent e;
    for (const Outline& o : d.ink)
        for (const Point& p : o) {
            e.x0 = std::min(e.x0, p.x);
            e.x1 = std::max(e.x1, p.x);
            e.y0 = std::min(e.y0, p.y);
            e.y1 = std::max(e.y1, p.y);
        }
    return e;
}

class E13bOutlineFont final : public CodelineFont {
  public:
    explicit E13bOutlineFont(double cornerMm) : cornerMm_(cornerMm) {}
    std::string Name() const override { return "E13B (synthesizer outlines)"; }
    bool HasChar(char c) const override { return c == ' ' || !DrawingOf(c).ink.empty(); }

  protected:
    CodelineGlyph Draw(char c, double dpiX, double dpiY, double growMm,
                       double /*phasePx*/) const override {
        CodelineGlyph out;
        const Drawing d = DrawingOf(c);
        if (d.ink.empty()) return out;
        const Extent e = ExtentOf(d);
        const double grow = std::clamp(growMm, -0.05, 0.15);
        out.growMm = grow;
        const double marginMils = (std::max(0.0, grow) + 0.05) * kMilsPerMm;
        const double wMils = e.x1 - e.x0 + 2 * marginMils, hMils = e.y1 - e.y0 + 2 * marginMils;
        const int w = static_cast<int>(std::ceil(wMils * dpiX / 1000.0));
        const int h = static_cast<int>(std::ceil(hMils * dpiY / 1000.0));
        const int fx = std::max(2, static_cast<int>(std::ceil(2400.0 / dpiX)));
        const int fy = std::max(2, static_cast<int>(std::ceil(2400.0 / dpiY)));
        ocr::FineMask mask(w * fx, h * fy, 25.4 / dpiX / fx, 25.4 / dpiY / fy);
        const double pitchX = 1000.0 / dpiX / fx, pitchY = 1000.0 / dpiY / fy;  // mils
        // Fine row 0 is the top; the outline's y runs up from its lowest point.
        const double topMils = e.y1 + marginMils, leftMils = e.x0 - marginMils;
        for (int y = 0; y < mask.height; ++y) {
            const double my = topMils - (y + 0.5) * pitchY;
            for (int x = 0; x < mask.width; ++x)
                if (Inked(d, leftMils + (x + 0.5) * pitchX, my)) mask.At(x, y) = 1;
        }
        if (cornerMm_ > 0.0) ocr::RoundCorners(mask, cornerMm_);
        ocr::OffsetOutline(mask, grow);
        const auto cov = ocr::AreaCoverage(mask, fx, fy);
        out.coverage = ImageBuffer(w, h, 1, 0, {dpiX, dpiY});
        std::copy(cov.begin(), cov.end(), out.coverage.Data());
        // Right-aligned in the box of 7 modules, which is centred in the cell.
        out.leftInch = (kBoxLeftMils + kBoxMils - d.widthMils + leftMils) / 1000.0;
        out.bottomInch = (e.y0 - marginMils) / 1000.0;
        return out;
    }

  private:
    double cornerMm_;
};

}  // namespace

std::unique_ptr<CodelineFont> MakeE13bOutlineFont(double cornerMm) {
    return std::make_unique<E13bOutlineFont>(cornerMm);
}

}  // namespace kovran::synth
