// Text rendering for the synthesizer on the shared text layer, with faces
// found by family name through fontconfig or opened from a file path (the
// E13B test font is used by path and never installed).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/font_face.h"
#include "testing/synth/image.h"

namespace kovran::synth {

std::u32string decodeUtf8(const std::string& text, bool* ok = nullptr);

// One rendered glyph: coverage plus its placement relative to the pen
// position on the baseline (left bearing, top above the baseline) and the
// advance, all in pixels.
struct GlyphImage {
    Plane coverage;  // empty (0 x 0) for blank glyphs
    int left = 0;
    int top = 0;
    double advance = 0.0;
};

// A face of the shared text layer seen by the synthesizer: its glyphs as
// coverage planes.
class FontFace {
  public:
    explicit FontFace(const platform::FontFace& face) : face_(face) {}

    const std::string& file() const { return face_.path(); }
    const std::string& family() const { return face_.family(); }
    bool hasChar(char32_t c) const { return face_.hasChar(c); }
    // Renders at the size given as the em height in pixels on each axis.
    GlyphImage render(char32_t c, double emPixelsX, double emPixelsY) const;
    // The outline box of a glyph in em units (1.0 = the em square).
    using Box = platform::FontFace::Box;
    Box box(char32_t c) const { return face_.box(c); }

  private:
    const platform::FontFace& face_;
};

// Owns the faces the synthesizer opened.
class FontLibrary {
  public:
    // `name` is a file path (contains '/') or a fontconfig pattern such as
    // "Nimbus Sans:style=Bold". Returns nullptr with a reason when the face
    // cannot be opened or fontconfig only offers a substitute family.
    const FontFace* open(const std::string& name, std::string* error);

  private:
    platform::FontLibrary library_;
    std::map<std::string, std::unique_ptr<FontFace>> faces_;
};

// A line of text: coverage of the whole line and, per character, its box in
// the line's pixels. The baseline lies at row `baseline`.
struct TextLine {
    Plane coverage;
    int baseline = 0;
    struct CharBox {
        char32_t ch = 0;
        int left = 0, top = 0, right = 0, bottom = 0;  // inclusive-exclusive
    };
    std::vector<CharBox> boxes;
};

// Lays the text out with the font's advances (or a fixed pitch in pixels
// when pitch > 0) at sizePt points on a dpiX x dpiY grid.
TextLine renderLine(const FontFace& face, const std::u32string& text, double sizePt, double dpiX,
                    double dpiY, double pitch = 0.0);

}  // namespace kovran::synth
