// Text rendering for the synthesizer on the shared text layer, with faces
// found by family name through fontconfig or opened from a file path (the
// E13B test font is used by path and never installed).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "imaging/text_face.h"
#include "testing/synth/image.h"

namespace kovran::synth {

// A face of the shared text layer seen by the synthesizer: its glyphs as
// coverage placed on the baseline.
class SynthFont {
  public:
    explicit SynthFont(const imaging::TextFace& face) : face_(face) {}

    const std::string& File() const { return face_.Path(); }
    const std::string& Family() const { return face_.Family(); }
    bool HasChar(char32_t c) const { return face_.HasChar(c); }
    // Renders at the size given as the em height in pixels on each axis; a
    // glyph FreeType cannot draw comes back blank.
    imaging::TextGlyph Render(char32_t c, double emPixelsX, double emPixelsY) const;
    // The outline box of a glyph in em units (1.0 = the em square).
    imaging::OutlineBox Bounds(char32_t c) const { return face_.Bounds(c); }

  private:
    const imaging::TextFace& face_;
};

// Owns the faces the synthesizer opened.
class SynthFontLibrary {
  public:
    // `name` is a file path (contains '/') or a fontconfig pattern such as
    // "Nimbus Sans:style=Bold". Throws SynthError when the face cannot be
    // opened or fontconfig only offers a substitute family.
    const SynthFont& Open(const std::string& name);

  private:
    imaging::TextFaceLibrary library_;
    std::map<std::string, std::unique_ptr<SynthFont>> faces_;
};

// A line of text: coverage of the whole line and, per character, its box in
// the line's pixels. The baseline lies at row `baseline`.
struct TextLine {
    ImageBuffer coverage;
    int baseline = 0;
    struct CharBox {
        char32_t ch = 0;
        int left = 0, top = 0, right = 0, bottom = 0;  // inclusive-exclusive
    };
    std::vector<CharBox> boxes;
};

// Lays the text out with the font's advances (or a fixed pitch in pixels
// when pitch > 0) at sizePt points on a dpiX x dpiY grid.
TextLine RenderLine(const SynthFont& face, const std::u32string& text, double sizePt, double dpiX,
                    double dpiY, double pitch = 0.0);

}  // namespace kovran::synth
