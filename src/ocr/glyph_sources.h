// The project's own glyph sources: E13B on its 0.013-inch module grid, CMC7
// as seven cut strokes, and the digits of microperforating machines as round
// holes on a dot matrix. They come from the text files in data/glyphs/, which
// are compiled into the library, and render to binary images at any
// resolution for the database builder and for the test document renderer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "imaging/image_view.h"

namespace kovran::ocr {

enum class GlyphFamily { E13B, CMC7, Microperforation };

struct GlyphRenderOptions {
    double dpi = 300.0;     // horizontal resolution (across the character)
    double dpiV = 0.0;      // vertical resolution; 0: the same as dpi
    double growMm = 0.0;    // grows (> 0) or thins (< 0) the whole outline, as heavy or light print
    double cornerMm = 0.0;  // rounds the corners with a disc of this radius, as printed ink does
    double shiftMm = 0.0;   // moves the shape right in its cell: where the scan's pixels fall on it
};

// One character in its pitch cell: the image is the cell (the character
// pitch wide, the family's full character height high plus `padRows` rows
// above and below for a grown outline); the ink box is the bounding box of
// the ink, edges inclusive (all -1 when nothing is inked). The shape is
// drawn on a grid at least 2400 dpi fine, grown, thinned or rounded there as
// a whole, and each pixel takes its area coverage: `coverage` (0..255) and
// `image` (ink where at least half the pixel is covered).
struct RenderedGlyph {
    imaging::ImageBuffer image;     // one byte per pixel, 1 ink and 0 paper, at the rendered dpi
    imaging::ImageBuffer coverage;  // 0 paper to 255 fully inked
    int padRows = 0;
    int inkLeft = -1;
    int inkTop = -1;
    int inkRight = -1;
    int inkBottom = -1;
};

struct GlyphSetData;  // the parsed file, private to glyph_sources.cpp

class GlyphSet {
  public:
    // The copy compiled into the library (data/glyphs/e13b.txt, cmc7.txt,
    // microperf.txt). Always valid: the build's tests parse every file.
    static GlyphSet Builtin(GlyphFamily family);

    struct Parsed;
    // Parses a glyph file of the given family; on failure the error names the
    // line and the reason.
    static Parsed Parse(GlyphFamily family, std::string_view text);

    GlyphFamily Family() const;
    // The characters of the set in file order, e.g. "0123456789:=<;" for E13B
    // (transit ':', amount '=', on-us '<', dash ';').
    const std::string& Characters() const;
    bool Contains(char c) const;

    // Character pitch and full character height of the family, in millimetres.
    double PitchMm() const;
    double HeightMm() const;

    // Renders one character; nullopt when the set does not hold it or the
    // resolution is not in 50..2400 dpi.
    std::optional<RenderedGlyph> Render(char c, const GlyphRenderOptions& options) const;

    // CMC7 only: the 6-bit gap code (bit k-1 set when gap k is long) of a
    // character, nullopt for other families or characters.
    std::optional<unsigned> Cmc7Code(char c) const;

  private:
    explicit GlyphSet(std::shared_ptr<const GlyphSetData> data) : data_(std::move(data)) {}
    std::shared_ptr<const GlyphSetData> data_;  // immutable, shared by copies
};

struct GlyphSet::Parsed {
    std::optional<GlyphSet> set;
    std::string error;  // empty on success
};

// The built-in text of a family's glyph file.
std::string_view BuiltinGlyphText(GlyphFamily family);

}  // namespace kovran::ocr
