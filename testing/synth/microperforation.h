// Microperforation characters: digits and capitals punched as holes on a
// 5 x 7 grid. The table is the synthesizer's own, kept apart from the glyph
// data of the font databases so that the tests read an independent drawing.
#pragma once

#include <utility>
#include <vector>

namespace kovran::synth {

constexpr int kPerforationCols = 5;
constexpr int kPerforationRows = 7;

bool PerforationHasChar(char c);
// Hole positions (column, row) of the character, row 0 at the top.
std::vector<std::pair<int, int>> PerforationHoles(char c);

}  // namespace kovran::synth
