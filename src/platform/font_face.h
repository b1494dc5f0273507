// Text faces through FreeType, found by file path or through fontconfig.
// fontconfig answers every request with some face; a face of another family
// than the one asked is refused, so that text is never drawn with a
// look-alike the caller did not choose.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kovran::platform {

// One rendered glyph: anti-aliased coverage (0 paper .. 255 full ink, row
// after row from the top) placed relative to the pen position on the
// baseline (left bearing, top above the baseline), and the unhinted advance,
// all in pixels.
struct GlyphCoverage {
    int width = 0;  // 0 x 0 for blank glyphs
    int height = 0;
    std::vector<std::uint8_t> values;
    int left = 0;
    int top = 0;
    double advance = 0.0;

    std::uint8_t at(int x, int y) const {
        return values[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

// Hinted outlines snap stems to the pixel grid (stable recognition
// templates); unhinted ones keep the outline's proportions at any size.
enum class Hinting { off, on };

class FontFace {
  public:
    ~FontFace();
    FontFace(const FontFace&) = delete;
    FontFace& operator=(const FontFace&) = delete;

    const std::string& path() const { return path_; }
    const std::string& family() const { return family_; }
    bool hasChar(char32_t c) const;
    // Renders at the em size in pixels on each axis; a face without c draws
    // its missing-glyph shape. nullopt when FreeType fails.
    std::optional<GlyphCoverage> render(char32_t c, double emPixelsX, double emPixelsY,
                                        int emboldenPixels64 = 0,
                                        Hinting hinting = Hinting::off) const;
    // The outline box of a glyph in em units (1.0 = the em square); all zero
    // when the glyph has no outline.
    struct Box {
        double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    };
    Box box(char32_t c) const;

  private:
    friend class FontLibrary;
    struct Impl;
    FontFace(std::unique_ptr<Impl> impl, std::string path, std::string family);
    std::unique_ptr<Impl> impl_;
    std::string path_;
    std::string family_;
};

// Owns FreeType, its own fontconfig configuration (started on the first
// look-up) and every face opened through it; faces live as long as it.
// Rendering sets the face's size, so a library and its faces serve one
// thread at a time.
class FontLibrary {
  public:
    FontLibrary();
    ~FontLibrary();
    FontLibrary(const FontLibrary&) = delete;
    FontLibrary& operator=(const FontLibrary&) = delete;

    bool ok() const;  // FreeType started
    // Each returns nullptr with a reason in `error` when the face cannot be
    // opened; a file is opened once however it was reached.
    const FontFace* openFile(const std::string& path, std::string& error);
    // A fontconfig pattern such as "Nimbus Sans:style=Bold"; only its family
    // has to match.
    const FontFace* openPattern(const std::string& pattern, std::string& error);
    // A family and, unless empty, a style that both have to match.
    const FontFace* openFamily(const std::string& family, const std::string& style,
                               std::string& error);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kovran::platform
