#include "testing/synth/print_defects.h"

#include <algorithm>
#include <cmath>

namespace kovran::synth {

namespace {
constexpr double kMmPerInch = 25.4;
}  // namespace

// Adds the exact area coverage of a rectangle (pixel units) to the plane.
void FillRect(ImageBuffer& p, double x0, double y0, double x1, double y1, float value) {
    const int ix0 = std::max(0, static_cast<int>(std::floor(x0)));
    const int iy0 = std::max(0, static_cast<int>(std::floor(y0)));
    const int ix1 = std::min(p.Width(), static_cast<int>(std::ceil(x1)));
    const int iy1 = std::min(p.Height(), static_cast<int>(std::ceil(y1)));
    for (int y = iy0; y < iy1; ++y) {
        const double fy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
        for (int x = ix0; x < ix1; ++x) {
            const double fx = std::min<double>(x + 1, x1) - std::max<double>(x, x0);
            std::uint8_t& v = p.At(x, y);
            v = static_cast<std::uint8_t>(
                std::min<long>(kFullInk, v + std::lround(fx * fy * value * kFullInk)));
        }
    }
}

void FillDisc(ImageBuffer& p, double cx, double cy, double r) {
    const int x0 = std::max(0, static_cast<int>(cx - r - 1)),
              x1 = std::min(p.Width() - 1, static_cast<int>(cx + r + 1));
    const int y0 = std::max(0, static_cast<int>(cy - r - 1)),
              y1 = std::min(p.Height() - 1, static_cast<int>(cy + r + 1));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            p.At(x, y) = std::max(p.At(x, y), CoverageByte(r + 0.5 - d));
        }
}

InkBox InkBoxOf(const ImageBuffer& cov) {
    InkBox b;
    for (int y = 0; y < cov.Height(); ++y)
        for (int x = 0; x < cov.Width(); ++x) {
            if (cov.At(x, y) < 128) continue;
            if (b.empty) {
                b = InkBox{false, x, y, x, y};
                continue;
            }
            b.left = std::min(b.left, x);
            b.right = std::max(b.right, x);
            b.top = std::min(b.top, y);
            b.bottom = std::max(b.bottom, y);
        }
    return b;
}

std::vector<std::vector<std::string>> PlanDefects(const std::string& text, int count, Rng& rng) {
    static const char* kinds[] = {"void", "spatter", "break", "smudge", "touching"};
    std::vector<std::vector<std::string>> out(text.size());
    std::vector<std::size_t> printed;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] != ' ') printed.push_back(i);
    for (int k = 0; k < count && !printed.empty(); ++k) {
        const std::size_t i = printed[static_cast<std::size_t>(
            rng.Integer(0, static_cast<long>(printed.size()) - 1))];
        out[i].push_back(kinds[rng.Integer(0, 4)]);
    }
    return out;
}

void ApplyDefect(const std::string& kind, ImageBuffer& cov, int gx, int gy, ImageBuffer& extras,
                 double dpiX, double dpiY, Rng& rng, double& magFactor, bool& smudged) {
    const InkBox b = InkBoxOf(cov);
    if (b.empty) return;
    const double pxX = dpiX / kMmPerInch, pxY = dpiY / kMmPerInch;
    if (kind == "void") {
        // Toner missing over a patch: the ink and its magnetic load are gone.
        const double cx = rng.Uniform(b.left, b.right + 1.0),
                     cy = rng.Uniform(b.top, b.bottom + 1.0);
        const double rx = rng.Uniform(0.12, 0.3) * pxX, ry = rng.Uniform(0.12, 0.3) * pxY;
        for (int y = 0; y < cov.Height(); ++y)
            for (int x = 0; x < cov.Width(); ++x) {
                const double u = (x + 0.5 - cx) / rx, v = (y + 0.5 - cy) / ry;
                if (u * u + v * v <= 1.0) cov.At(x, y) = 0;
            }
        magFactor *= rng.Uniform(0.6, 0.9);
    } else if (kind == "break") {
        // A horizontal break across the stroke (a dry line of the ribbon or drum).
        const double hh = rng.Uniform(0.06, 0.12) * pxY;
        const double y0 =
            rng.Uniform(b.top + 0.2 * (b.bottom - b.top), b.top + 0.8 * (b.bottom - b.top));
        for (int y = static_cast<int>(y0);
             y < std::min(cov.Height(), static_cast<int>(y0 + hh + 1)); ++y)
            for (int x = 0; x < cov.Width(); ++x) cov.At(x, y) = 0;
        magFactor *= 0.9;
    } else if (kind == "spatter") {
        const int dots = static_cast<int>(rng.Integer(4, 14));
        for (int k = 0; k < dots; ++k)
            FillDisc(extras, gx + rng.Uniform(b.left - 0.5 * pxX, b.right + 0.5 * pxX),
                     gy + rng.Uniform(b.top - 0.4 * pxY, b.bottom + 0.4 * pxY),
                     rng.Uniform(0.03, 0.08) * pxX);
    } else if (kind == "smudge") {
        // Wet toner dragged along the document: a faint, shifted copy.
        const int shift = static_cast<int>(std::lround(rng.Uniform(0.1, 0.25) * pxX));
        for (int y = 0; y < cov.Height(); ++y)
            for (int x = 0; x < cov.Width(); ++x) {
                const int tx = gx + x + shift, ty = gy + y;
                if (tx < 0 || ty < 0 || tx >= extras.Width() || ty >= extras.Height()) continue;
                std::uint8_t& v = extras.At(tx, ty);
                v = std::max<std::uint8_t>(v, static_cast<std::uint8_t>(cov.At(x, y) * 0.4));
            }
        smudged = true;
    } else if (kind == "touching") {
        // A bridge of ink to the next character.
        const double y =
            rng.Uniform(b.top + 0.2 * (b.bottom - b.top), b.top + 0.8 * (b.bottom - b.top));
        FillRect(extras, gx + b.right - 0.1 * pxX, gy + y, gx + b.right + 1.0 * pxX,
                 gy + y + rng.Uniform(0.08, 0.15) * pxY);
    }
}

double Jitter(Rng& rng, double sd) {
    return sd <= 0.0 ? 0.0 : std::clamp(rng.Normal(), -2.0, 2.0) * sd;
}

std::vector<CharPrint> DisturbPrintLine(TextLine& line, int& ox, int& oy,
                                        const DegradationValues& deg, double dpiX, double dpiY,
                                        Rng& rng, ImageBuffer& extras) {
    const std::size_t n = line.boxes.size();
    std::vector<CharPrint> out(n);
    std::string text(n, ' ');
    for (std::size_t i = 0; i < n; ++i)
        if (line.boxes[i].right > line.boxes[i].left && line.boxes[i].ch != U' ') text[i] = 'x';
    const std::vector<std::vector<std::string>> defects = PlanDefects(text, deg.defects, rng);
    const double pxX = dpiX / kMmPerInch, pxY = dpiY / kMmPerInch;
    const int mx = static_cast<int>(std::ceil(2.0 * deg.pitchJitterMm * pxX)) + 1;
    const int my = static_cast<int>(std::ceil(2.0 * deg.baselineJitterMm * pxY)) + 1;
    const ImageBuffer& src = line.coverage;
    ImageBuffer moved(src.Width() + 2 * mx, src.Height() + 2 * my, 1, 0, src.Res());
    // Pixels that belong to no character stay where they are.
    std::vector<std::uint8_t> owned(static_cast<std::size_t>(src.Width()) * src.Height(), 0);
    for (std::size_t i = 0; i < n; ++i) {
        TextLine::CharBox& b = line.boxes[i];
        if (b.right <= b.left) continue;
        CharPrint& p = out[i];
        p.jitterXMm = Jitter(rng, deg.pitchJitterMm);
        p.jitterYMm = Jitter(rng, deg.baselineJitterMm);
        const int dx = static_cast<int>(std::lround(p.jitterXMm * pxX));
        const int dy = static_cast<int>(std::lround(p.jitterYMm * pxY));
        const int l = std::max(0, b.left), t = std::max(0, b.top);
        const int r = std::min(src.Width(), b.right), btm = std::min(src.Height(), b.bottom);
        if (r <= l || btm <= t) continue;
        ImageBuffer glyph(r - l, btm - t, 1, 0);
        for (int y = t; y < btm; ++y)
            for (int x = l; x < r; ++x) {
                std::uint8_t& own = owned[static_cast<std::size_t>(y) * src.Width() + x];
                if (own) continue;  // a neighbour's box overlaps: its ink moves with it
                own = 1;
                glyph.At(x - l, y - t) = src.At(x, y);
            }
        // Boxes in the moved line, then on the page for the defects.
        const int gx = l + mx + dx, gy = t + my + dy;
        double magFactor = 1.0;
        bool smudged = false;
        p.defects = defects[i];
        for (const std::string& kind : p.defects)
            ApplyDefect(kind, glyph, ox - mx + gx, oy - my + gy, extras, dpiX, dpiY, rng, magFactor,
                        smudged);
        for (int y = 0; y < glyph.Height(); ++y)
            for (int x = 0; x < glyph.Width(); ++x) {
                std::uint8_t& v = moved.At(gx + x, gy + y);
                v = std::max(v, glyph.At(x, y));
            }
        b.left = gx;
        b.right = gx + (r - l);
        b.top = gy;
        b.bottom = gy + (btm - t);
    }
    for (int y = 0; y < src.Height(); ++y)
        for (int x = 0; x < src.Width(); ++x)
            if (!owned[static_cast<std::size_t>(y) * src.Width() + x]) {
                std::uint8_t& v = moved.At(x + mx, y + my);
                v = std::max(v, src.At(x, y));
            }
    for (TextLine::CharBox& b : line.boxes)
        if (b.right <= b.left) {
            b.left += mx;
            b.right += mx;
            b.top += my;
            b.bottom += my;
        }
    line.coverage = std::move(moved);
    line.baseline += my;
    ox -= mx;
    oy -= my;
    return out;
}

std::vector<double> WearPrintLine(TextLine& line, const DegradationValues& deg, double dpiX,
                                  double dpiY, Rng& rng) {
    std::vector<double> ink(line.boxes.size(), 1.0);
    if (deg.dotPitchMm <= 0.0 && deg.fadeDepth <= 0.0 && deg.charInkSd <= 0.0) return ink;
    const double pxX = dpiX / kMmPerInch, pxY = dpiY / kMmPerInch;
    ImageBuffer& cov = line.coverage;
    const int w = cov.Width(), h = cov.Height();
    if (deg.dotPitchMm > 0.0) {
        // The pins strike on a square grid; a pin fires where the solid
        // character has ink under its centre, and its dot is under the
        // pitch across (a worn ribbon prints small dots), so that the
        // strokes show as rows of dots with gaps between them.
        const double stepX = deg.dotPitchMm * pxX, stepY = deg.dotPitchMm * pxY;
        const double radius = 0.5 * deg.dotPitchMm * pxX * rng.Uniform(0.65, 0.95);
        const double phaseX = rng.Uniform(0.0, stepX), phaseY = rng.Uniform(0.0, stepY);
        ImageBuffer dots(w, h, 1, 0, cov.Res());
        for (double y = phaseY; y < h; y += stepY)
            for (double x = phaseX; x < w; x += stepX) {
                const int ix = static_cast<int>(x), iy = static_cast<int>(y);
                if (cov.At(ix, iy) < 128) continue;
                FillDisc(dots, x, y, radius * rng.Uniform(0.9, 1.1));
            }
        cov = std::move(dots);
    }
    if (deg.fadeDepth > 0.0) {
        // A smooth random field: values on a coarse grid (patches about
        // 0.5 mm across, wider than high, as a ribbon wears along the print
        // direction), interpolated, and made to rise steeply between 0.3
        // and 0.8, so that part of the line keeps its ink and patches lose
        // up to `fadeDepth` of theirs: strokes fade along part of their
        // length.
        const double cellX = 0.6 * pxX, cellY = 0.4 * pxY;
        const int gw = static_cast<int>(w / cellX) + 2, gh = static_cast<int>(h / cellY) + 2;
        std::vector<double> grid(static_cast<std::size_t>(gw) * gh);
        for (double& g : grid) g = rng.Uniform();
        auto smooth = [](double t) { return t * t * (3.0 - 2.0 * t); };
        for (int y = 0; y < h; ++y) {
            const double gy = (y + 0.5) / cellY;
            const int j = static_cast<int>(gy);
            const double ty = smooth(gy - j);
            for (int x = 0; x < w; ++x) {
                std::uint8_t& v = cov.At(x, y);
                if (v == 0) continue;
                const double gx = (x + 0.5) / cellX;
                const int i = static_cast<int>(gx);
                const double tx = smooth(gx - i);
                auto at = [&](int a, int b) {
                    return grid[static_cast<std::size_t>(b) * gw + static_cast<std::size_t>(a)];
                };
                const double u = (1 - ty) * ((1 - tx) * at(i, j) + tx * at(i + 1, j)) +
                                 ty * ((1 - tx) * at(i, j + 1) + tx * at(i + 1, j + 1));
                const double f = smooth(std::clamp((u - 0.3) / 0.5, 0.0, 1.0));
                v = static_cast<std::uint8_t>(std::lround(v * (1.0 - deg.fadeDepth * f)));
            }
        }
    }
    if (deg.charInkSd > 0.0) {
        // Each character's ink, lighter or darker than the line's; a pixel
        // two boxes share takes the first.
        std::vector<std::uint8_t> done(static_cast<std::size_t>(w) * h, 0);
        for (std::size_t k = 0; k < line.boxes.size(); ++k) {
            const TextLine::CharBox& b = line.boxes[k];
            if (b.right <= b.left) continue;
            ink[k] = std::clamp(1.0 + Jitter(rng, deg.charInkSd), 0.3, 1.0);
            for (int y = std::max(0, b.top); y < std::min(h, b.bottom); ++y)
                for (int x = std::max(0, b.left); x < std::min(w, b.right); ++x) {
                    std::uint8_t& seen = done[static_cast<std::size_t>(y) * w + x];
                    if (seen) continue;
                    seen = 1;
                    std::uint8_t& v = cov.At(x, y);
                    v = static_cast<std::uint8_t>(std::lround(v * ink[k]));
                }
        }
    }
    return ink;
}

}  // namespace kovran::synth
