// Text faces through FreeType, found by file path or through fontconfig.
// fontconfig answers every request with some face; a face of another family
// than the one asked is refused, so that text is never drawn with a
// look-alike the caller did not choose.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "imaging/image_view.h"

namespace kovran::imaging {

// One rendered glyph: anti-aliased coverage (0 paper .. 255 full ink) placed
// relative to the pen position on the baseline (left bearing, top above the
// baseline), and the unhinted advance, all in pixels.
struct TextGlyph {
    ImageBuffer coverage;  // 0 x 0 for blank glyphs
    int left = 0;
    int top = 0;
    double advance = 0.0;
};

// Hinted outlines snap stems to the pixel grid (stable recognition
// templates); unhinted ones keep the outline's proportions at any size.
enum class Hinting { Off, On };

struct TextRenderOptions {
    int emboldenPixels64 = 0;  // outline emboldening in 1/64 pixel
    Hinting hinting = Hinting::Off;
};

// The outline box of a glyph in em units (1.0 = the em square).
struct OutlineBox {
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

// The face's line height above and below the baseline in em units (1.0 =
// the em square): the extents Windows gives a screen font, taken from the
// OS/2 table when the face has one, else from the face's own ascender and
// descender.
struct LineExtents {
    double ascent = 0;
    double descent = 0;
};

// A FreeType face opened through a TextFaceLibrary.
class TextFace {
  public:
    ~TextFace();
    TextFace(const TextFace&) = delete;
    TextFace& operator=(const TextFace&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& Family() const { return family_; }
    bool HasChar(char32_t c) const;
    // Renders at the em size in pixels on each axis; a face without c draws
    // its missing-glyph shape. nullopt when FreeType fails.
    std::optional<TextGlyph> Render(char32_t c, double emPixelsX, double emPixelsY,
                                    TextRenderOptions options = {}) const;
    // All zero when the glyph has no outline.
    OutlineBox Bounds(char32_t c) const;
    LineExtents Extents() const;

  private:
    friend class TextFaceLibrary;
    struct Impl;
    TextFace(std::unique_ptr<Impl> impl, std::string path, std::string family);
    std::unique_ptr<Impl> impl_;
    std::string path_;
    std::string family_;
};

// Owns FreeType, its own fontconfig configuration (started on the first
// look-up) and every face opened through it; faces live as long as it.
// Rendering sets the face's size, so a library and its faces serve one
// thread at a time.
class TextFaceLibrary {
  public:
    TextFaceLibrary();
    ~TextFaceLibrary();
    TextFaceLibrary(const TextFaceLibrary&) = delete;
    TextFaceLibrary& operator=(const TextFaceLibrary&) = delete;

    bool Ok() const;  // FreeType started
    // Each returns nullptr with a reason in `*error` when the face cannot be
    // opened; a file is opened once however it was reached.
    const TextFace* OpenFile(const std::string& path, std::string* error);
    // A fontconfig pattern such as "Nimbus Sans:style=Bold"; only its family
    // has to match.
    const TextFace* OpenPattern(const std::string& pattern, std::string* error);
    // A family and, unless empty, a style that both have to match.
    const TextFace* OpenFamily(const std::string& family, const std::string& style,
                               std::string* error);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kovran::imaging
