// Renders a document description into the images of a scan (front, rear,
// backlight), the magnetic head samples and the ground truth, and writes
// them in the corpus layout (see data/synth/README.md).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "testing/synth/codeline_font.h"
#include "testing/synth/description.h"
#include "testing/synth/font_render.h"
#include "testing/synth/image.h"

namespace kovran::synth {

struct RenderedDocument {
    std::string name;
    std::optional<ImageBuffer> front, rear, backlight;
    std::vector<std::uint8_t> magnetic;  // raw head samples, 8 bits each
    // Behind a pointer so that this header needs only json_fwd.hpp; never
    // changed once made, so copies may share it.
    std::shared_ptr<const nlohmann::json> truth;
};

// The E13B font file used when a codeline names none: the environment
// variable KOVRAN_SYNTH_E13B_FONT, else empty, and the codeline is drawn from
// the project's own E13B glyph data (data/glyphs/e13b.txt).
std::string DefaultE13bFontPath();

class DocumentRenderer {
  public:
    explicit DocumentRenderer(SynthFontLibrary& fonts) : fonts_(fonts) {}

    // Throws DescriptionError when an element cannot be laid out (outside the
    // page, characters missing from its font, a symbol its generator refuses).
    RenderedDocument Render(const Description& d);

  private:
    const CodelineFont& CodelineFontFor(const Element& e);

    SynthFontLibrary& fonts_;
    std::map<std::string, std::unique_ptr<CodelineFont>> codelineFonts_;
};

// Writes <name>.front.png (or .pgm/.ppm), .rear, .backlight, <name>.mag and
// <name>.json into dir. Throws SynthError naming the file.
void WriteDocument(const RenderedDocument& doc, const std::string& dir, const std::string& format);

}  // namespace kovran::synth
