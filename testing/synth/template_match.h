// An emulation of the library's template matcher for judging test
// documents and drawings: a character's glyph from its true box (binarised
// at the box's Otsu threshold, normalised as the recogniser normalises),
// the nearest database model, and the matcher's decision with the distance
// limits, reference distance, confidence and acceptance rules of a font.
#pragma once

#include <optional>
#include <vector>

#include "imaging/image_view.h"
#include "ocr/font_db_file.h"
#include "ocr/glyph_normalise.h"

namespace kovran::synth {

struct TrueBox {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
};

// The glyph of one character of a grey image (ink dark), or nothing when
// the box holds no ink.
std::optional<ocr::NormalisedGlyph> GlyphOfBox(imaging::ConstImageView grey, TrueBox box);

// The rules of one font's matcher (defaults: font 1, E13B).
struct MatcherRules {
    int maxDistance = 409;
    ocr::DistanceLimits limits{140, 50};
    int referenceCap = 0;  // 0: none
    int acceptance = 40;
};

// The character the matcher accepts for the glyph, or '?' for a reject.
char MatchGlyph(const ocr::NormalisedGlyph& g, const std::vector<ocr::FontModel>& models,
                const MatcherRules& rules);

// The character of the nearest model (plain distance), '?' without models.
char NearestModel(const ocr::Glyph32& g, const std::vector<ocr::FontModel>& models);

}  // namespace kovran::synth
