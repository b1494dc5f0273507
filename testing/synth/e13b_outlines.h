// The synthesizer's own E13B drawing: every character an outline in
// thousandths of an inch on the font's grid of 0.013 inch modules (digits
// 9 modules, 0.117 inch, tall; 4 to 7 modules wide; right-aligned in a box
// of 7 modules centred in the 0.125 inch pitch), with stroke widths per
// character as printed E13B has them (heavier lower parts, thicker sides
// on the '0'). The outlines are filled on a fine grid, their corners
// rounded as toner leaves them, grown or thinned as a whole and sampled by
// area. They are drawn here, not taken from the glyph data the font
// databases are built from, so that test documents do not hand the
// recogniser its own art.
#pragma once

#include <memory>

#include "testing/synth/codeline_font.h"

namespace kovran::synth {

// Corner radius of the default drawing (printed characters have no sharp
// corners).
inline constexpr double kE13bPrintCornerMm = 0.07;

std::unique_ptr<CodelineFont> MakeE13bOutlineFont(double cornerMm = kE13bPrintCornerMm);

}  // namespace kovran::synth
