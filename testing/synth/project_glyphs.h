// The project's own glyph data (the sources the font databases are built
// from) as codeline and microperforation fonts of the synthesizer. Test
// documents normally use independent drawings (the synthesizer's E13B
// outlines or a MICR font file, the stroke drawing of CMC7, the
// synthesizer's own perforation table); these adapters
// let a description choose "glyphs": "project" to render the very shapes the
// databases hold, e.g. to separate a recogniser fault from a shape mismatch.
#pragma once

#include <memory>
#include <string>

#include "testing/synth/codeline_font.h"
#include "testing/synth/image.h"

namespace kovran::synth {

// family: "e13b" or "cmc7". cornerMm rounds the corners of every character
// (printed ink has no sharp corners).
std::unique_ptr<CodelineFont> MakeProjectCodelineFont(const std::string& family,
                                                      double cornerMm = 0.0);

// Microperforation from the project's glyph data: holes as coverage of a
// character cell (pitch wide, full height) at the given resolution; an empty
// plane for a character the set does not hold.
bool ProjectPerforationHasChar(char c);
ImageBuffer ProjectPerforationHoles(char c, double dpiX, double dpiY, double* pitchMm);

}  // namespace kovran::synth
