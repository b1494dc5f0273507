// Local print defects and per-character placement of printed lines: the
// voids, spatter, breaks, smudges and bridges a printer leaves on single
// characters, and the pitch and baseline jitter of characters set one by
// one. The codeline and the machine-read OCR lines share them, so that
// every read line of a test document degrades the same way.
#pragma once

#include <string>
#include <vector>

#include "testing/synth/degradation.h"
#include "testing/synth/font_render.h"
#include "testing/synth/image.h"
#include "testing/synth/rng.h"

namespace kovran::synth {

// Adds the exact area coverage of a rectangle (pixel units) to the plane.
void FillRect(ImageBuffer& p, double x0, double y0, double x1, double y1, float value = 1.0f);
void FillDisc(ImageBuffer& p, double cx, double cy, double r);

struct InkBox {
    bool empty = true;
    int left = 0, top = 0, right = 0, bottom = 0;  // inclusive
};

// The box of the pixels at least half covered.
InkBox InkBoxOf(const ImageBuffer& cov);

// Which characters (not blanks) get which local defects, `count` in all.
std::vector<std::vector<std::string>> PlanDefects(const std::string& text, int count, Rng& rng);

// One local defect of a printed character: `cov` is the glyph placed at
// (gx, gy) on the page; marks beside the glyph go to `extras` (page-sized).
// magFactor takes the loss of magnetic ink; smudged tells that ink was
// dragged after the character.
void ApplyDefect(const std::string& kind, ImageBuffer& cov, int gx, int gy, ImageBuffer& extras,
                 double dpiX, double dpiY, Rng& rng, double& magFactor, bool& smudged);

// What one character of a printed line received.
struct CharPrint {
    double jitterXMm = 0.0, jitterYMm = 0.0;
    std::vector<std::string> defects;
};

// Moves every character of a rendered line (its pixels inside its box) by
// its own pitch and baseline jitter and gives it the level's local defects,
// `deg.defects` in the line, drawn from `rng`. The line grows a margin for
// the moves, so (ox, oy), its place on the page, moves back by it; the
// boxes follow their characters. Marks beside the glyphs go to `extras`.
// Gives one entry per box of the line.
std::vector<CharPrint> DisturbPrintLine(TextLine& line, int& ox, int& oy,
                                        const DegradationValues& deg, double dpiX, double dpiY,
                                        Rng& rng, ImageBuffer& extras);

// Wears a printed OCR line as `deg` says: with a dot pitch the line is
// printed again as dots on that grid (an impact printer's pins fire where
// the character has ink), patches of it fade by up to `deg.fadeDepth` (low
// toner, a worn ribbon: strokes fade along part of their length), and each
// character's ink is scaled by its own factor around 1 (spread
// `deg.charInkSd`). Gives the factor of every box of the line; nothing is
// drawn from `rng` and nothing changes when all the values are zero.
std::vector<double> WearPrintLine(TextLine& line, const DegradationValues& deg, double dpiX,
                                  double dpiY, Rng& rng);

// A jitter drawn from the standard deviation, at most two of them either way.
double Jitter(Rng& rng, double sd);

}  // namespace kovran::synth
