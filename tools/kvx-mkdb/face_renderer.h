// System fonts for the database builder: finding a face file (fixed Debian
// paths first, then fontconfig) and turning its rendered characters into
// ink images.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ocr/glyph_sources.h"
#include "platform/font_face.h"

namespace kovran::mkdb {

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

class FontFace {
  public:
    explicit FontFace(const platform::FontFace& face) : face_(face) {}

    const std::string& path() const { return face_.path(); }
    bool hasGlyph(char32_t c) const { return face_.hasChar(c); }
    // The glyph's bitmap (1 ink, 0 paper); nullopt when the face has no glyph
    // for c or FreeType fails.
    std::optional<ocr::InkImage> render(char32_t c, const FaceRenderOptions& options) const;

  private:
    const platform::FontFace& face_;
};

class FaceLibrary {
  public:
    bool ok() const { return library_.ok(); }  // FreeType started
    // Opens (once) the face of a source; nullptr with a reason in `error`
    // when no file of the source exists and fontconfig knows no such family.
    const FontFace* open(const FaceSource& source, std::string& error);
    // Opens a face from a file; nullptr with a reason in `error`.
    const FontFace* openFile(const std::string& path, std::string& error);

  private:
    const FontFace* wrap(const platform::FontFace* face);

    platform::FontLibrary library_;
    std::map<const platform::FontFace*, std::unique_ptr<FontFace>> faces_;
};

}  // namespace kovran::mkdb
