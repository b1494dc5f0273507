// Codeline fonts of the synthesizer. A codeline font turns one codeline
// character into ink at any resolution; the layout code places it on the
// 1/8 inch grid of the codeline. E13B is the synthesizer's own outline
// drawing (e13b_outlines.h) or a TrueType MICR font opened by path (test
// data only, never shipped); CMC7 is drawn geometrically from
// its bar code so that test documents do not share a rendering with the
// glyph data the font databases are built from.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include "testing/synth/font_render.h"
#include "testing/synth/image.h"

namespace kovran::synth {

struct CodelineGlyph {
    ImageBuffer coverage;     // ink of the character, cropped to its box
    double leftInch = 0.0;    // box left edge, from the start of the character cell
    double bottomInch = 0.0;  // box bottom edge, above the codeline baseline
    // The stroke growth the drawing took (mm): growMm within the drawing's
    // own limits, 0 from a font that cannot grow its outlines.
    double growMm = 0.0;
};

class CodelineFont {
  public:
    virtual ~CodelineFont() = default;
    virtual std::string Name() const = 0;
    // Characters as the library writes them (E13B '0'-'9' ':' '=' '<' ';',
    // CMC7 '0'-'9' ':' ';' '<' '=' '>'); a space is always accepted.
    virtual bool HasChar(char c) const = 0;
    // growMm grows (> 0) or thins (< 0) the stroke, as heavy or light print,
    // in steps of kGrowStepMm; a font that cannot do so ignores it. Renderings
    // are kept, as a corpus draws the same characters again and again.
    // phasePx moves the drawing right by that share of a pixel (taken in
    // quarter steps), as the pixels of a scan fall anywhere on the print; a
    // font that cannot move its drawing (MovesByPhase() false) ignores it.
    CodelineGlyph Render(char c, double dpiX, double dpiY, double growMm = 0.0,
                         double phasePx = 0.0) const;
    virtual bool MovesByPhase() const { return false; }
    virtual double PitchInch() const { return 0.125; }
    virtual double HeightInch() const { return 0.117; }

    static constexpr double kGrowStepMm = 0.005;

  protected:
    virtual CodelineGlyph Draw(char c, double dpiX, double dpiY, double growMm,
                               double phasePx) const = 0;

  private:
    mutable std::mutex cacheMutex_;
    mutable std::map<std::tuple<char, double, double, long, int>, CodelineGlyph> cache_;
};

// E13B from a MICR TrueType font whose transit, amount, on-us and dash
// symbols sit on 'A', 'B', 'C', 'D' (the GnuMICR layout).
// Throws SynthError when the file cannot be opened or lacks the characters.
std::unique_ptr<CodelineFont> MakeE13bFont(SynthFontLibrary& fonts, const std::string& path);

// Geometry of the CMC7 bars, in millimetres; intervals are measured from
// the start of one bar to the start of the next.
struct Cmc7Geometry {
    double barWidthMm = 0.15;
    double shortIntervalMm = 0.30;
    double longIntervalMm = 0.50;
    double heightMm = 2.98;
};

// CMC7 as printed: seven strokes at the long and short intervals of the
// code table, with the character's outline cut out of them. A digit is a pen
// path (a broad nib about two strokes wide, drawn along the digit's centre
// line across the seven stroke positions: the '0' keeps its hole); the five
// symbols are cut by rules of their own. This construction shares nothing
// with the glyph data the databases are built from, only the characters it
// shows. The strokes are drawn on a fine grid, rounded, grown or thinned as
// a whole and sampled by area; no stroke is left shorter than a tenth of the
// character height, so the gap pattern always stands.
std::unique_ptr<CodelineFont> MakeCmc7Font(Cmc7Geometry geometry);

// Reads the gap code of one rendered CMC7 character from its column
// profile: the seven strokes, the six intervals between their centres, each
// long when above the middle of the short and long intervals (dpiX pixels).
// Gives the character, or '?' when not exactly seven strokes show.
char DecodeCmc7Strokes(const ImageBuffer& coverage, double dpiX, const Cmc7Geometry& geometry);

// The six long-gap flags of a CMC7 character (bit k-1 for gap k), or -1.
int Cmc7Code(char c);

}  // namespace kovran::synth
