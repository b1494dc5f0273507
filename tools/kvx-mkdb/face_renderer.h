// System fonts for the database builder: finding a face file (fixed Debian
// paths first, then fontconfig) and turning its rendered characters into
// binary images.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/image_view.h"
#include "imaging/text_face.h"

namespace kovran::mkdb {

// Every failure of kvx-mkdb: what failed and why.
struct MkdbError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct FaceSource {
    std::string family;              // fontconfig family, e.g. "Liberation Sans"
    std::string style;               // e.g. "Regular", "Bold"
    std::vector<std::string> paths;  // files tried before fontconfig is asked
};

struct FaceRenderOptions {
    int emPixels = 48;         // em size in pixels (48 px is 11.5 pt at 300 dpi)
    int inkCoverage = 128;     // a pixel is ink from this anti-aliased coverage (1..255) up
    int emboldenPixels64 = 0;  // outline emboldening in 1/64 pixel (0: none)
};

// A text face seen by the builder: characters as binary images.
class GlyphFaceRenderer {
  public:
    explicit GlyphFaceRenderer(const imaging::TextFace& face) : face_(face) {}

    const std::string& Path() const { return face_.Path(); }
    bool HasGlyph(char32_t c) const { return face_.HasChar(c); }
    // The glyph's bitmap (1 ink, 0 paper); nullopt when the face has no glyph
    // for c or FreeType fails.
    std::optional<imaging::ImageBuffer> Render(char32_t c, const FaceRenderOptions& options) const;

  private:
    const imaging::TextFace& face_;
};

class FaceLibrary {
  public:
    // Opens (once) the face of a source; throws MkdbError when no file of
    // the source exists and fontconfig knows no such family.
    const GlyphFaceRenderer& Open(const FaceSource& source);
    // Opens a face from a file; throws MkdbError.
    const GlyphFaceRenderer& OpenFile(const std::string& path);

  private:
    const GlyphFaceRenderer* Wrap(const imaging::TextFace* face);

    imaging::TextFaceLibrary library_;
    std::map<const imaging::TextFace*, std::unique_ptr<GlyphFaceRenderer>> faces_;
};

}  // namespace kovran::mkdb
