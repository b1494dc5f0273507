// The font databases the library reads: for each file its characters, its
// glyph source and the variants that give several models per character; and
// the groups of files that one font loads together.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "face_renderer.h"
#include "ocr/glyph_sources.h"

namespace kovran::mkdb {

// A model rendered from the project's glyph data.
struct DataVariant {
    double dpi = 300;
    double growMm = 0;    // whole-outline growth (> 0) or thinning (< 0)
    double cornerMm = 0;  // corner rounding radius
    double shiftPx = 0;   // sampling phase: the shape moved right by this share of a pixel
};

// A model rendered from a system font.
struct FaceVariant {
    FaceSource face;
    FaceRenderOptions render;
};

struct DbSpec {
    std::string name;                        // file name, 4 to 31 characters
    std::string chars;                       // one model per character and variant
    std::optional<ocr::GlyphFamily> family;  // glyph data source, or
    std::vector<DataVariant> dataVariants;
    std::vector<FaceVariant> faceVariants;  // system font source
    std::string fonts;                      // the font numbers that read the file
    std::string source;                     // the glyph source, for the listing
};

// Files that one font set-up loads together; their models share one table.
struct DbGroup {
    std::string fonts;
    std::vector<std::string> files;
};

const std::vector<DbSpec>& DatabaseCatalogue();
const std::vector<DbGroup>& DatabaseGroups();

}  // namespace kovran::mkdb
