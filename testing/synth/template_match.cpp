#include "testing/synth/template_match.h"

#include <algorithm>

namespace kovran::synth {

namespace {

// Otsu's threshold over the grey values of a box (ink is dark).
int OtsuThreshold(imaging::ConstImageView img, int l, int t, int r, int b) {
    long hist[256] = {};
    long n = 0;
    for (int y = t; y < b; ++y)
        for (int x = l; x < r; ++x) {
            ++hist[img.At(x, y)];
            ++n;
        }
    if (n == 0) return 128;
    double sum = 0;
    for (int i = 0; i < 256; ++i) sum += static_cast<double>(i) * hist[i];
    double sumB = 0, best = -1;
    long wB = 0;
    int thr = 128;
    for (int i = 0; i < 256; ++i) {
        wB += hist[i];
        if (wB == 0) continue;
        const long wF = n - wB;
        if (wF == 0) break;
        sumB += static_cast<double>(i) * hist[i];
        const double mB = sumB / wB, mF = (sum - sumB) / wF;
        const double between = static_cast<double>(wB) * wF * (mB - mF) * (mB - mF);
        if (between > best) {
            best = between;
            thr = i + 1;
        }
    }
    return thr;
}

}  // namespace

std::optional<ocr::NormalisedGlyph> GlyphOfBox(imaging::ConstImageView img, TrueBox box) {
    const int l = std::max(0, box.left - 1), t = std::max(0, box.top - 1);
    const int r = std::min(img.Width(), box.right + 1);
    const int b = std::min(img.Height(), box.bottom + 1);
    if (r - l < 2 || b - t < 2) return std::nullopt;
    const int thr = OtsuThreshold(img, l, t, r, b);
    ocr::GlyphBox ink{b, r, -1, -1};
    for (int y = t; y < b; ++y)
        for (int x = l; x < r; ++x)
            if (img.At(x, y) < thr) {
                ink.top = std::min(ink.top, y);
                ink.left = std::min(ink.left, x);
                ink.bottom = std::max(ink.bottom, y);
                ink.right = std::max(ink.right, x);
            }
    if (ink.bottom < 0) return std::nullopt;
    return ocr::NormaliseGlyph(img, ink, ocr::InkRule{thr});
}

char MatchGlyph(const ocr::NormalisedGlyph& g, const std::vector<ocr::FontModel>& models,
                const MatcherRules& rules) {
    const bool thin = g.box.Width() <= 3;
    ocr::DistanceLimits ref = rules.limits;
    ref.band *= thin ? 3 : 2;
    ref.cell *= thin ? 3 : 2;
    ocr::DistanceLimits lim = rules.limits;
    if (thin) {
        lim.band *= 2;
        lim.cell *= 2;
    }
    int R = ocr::GlyphDistance(g.glyph, ocr::Glyph32{}, ref);
    if (rules.referenceCap > 0) R = std::min(R, rules.referenceCap);
    int best = 1 << 30, second = 1 << 30;
    char bestC = 0, secondC = 0;
    for (const ocr::FontModel& m : models) {
        int D = ocr::GlyphDistance(g.glyph, m.glyph, lim);
        if (D > rules.maxDistance) continue;
        if (D > R) D = 5 * D - 4 * R;
        const char c = static_cast<char>(m.code);
        if (D < best) {
            if (bestC != c) {
                second = best;
                secondC = bestC;
            }
            best = D;
            bestC = c;
        } else if (c != bestC && D < second) {
            second = D;
            secondC = c;
        }
    }
    if (bestC == 0) return '?';
    auto conf = [](int D) { return 100 - std::min(D / 5, 99); };
    const int c1 = conf(best), c2 = secondC ? conf(second) : 0;
    if (c1 < rules.acceptance) return '?';
    if (c1 >= 30 && (c2 == 0 || c1 - c2 >= 3)) return bestC;
    return '?';
}

char NearestModel(const ocr::Glyph32& g, const std::vector<ocr::FontModel>& models) {
    int best = 1 << 30;
    char c = '?';
    for (const ocr::FontModel& m : models) {
        const int d = ocr::GlyphDistance(g, m.glyph);
        if (d < best) {
            best = d;
            c = static_cast<char>(m.code);
        }
    }
    return c;
}

}  // namespace kovran::synth
