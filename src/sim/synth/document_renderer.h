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

#include <nlohmann/json.hpp>

#include "sim/synth/codeline_font.h"
#include "sim/synth/description.h"
#include "sim/synth/font_render.h"
#include "sim/synth/image.h"

namespace kovran::sim::synth {

struct RenderedDocument {
    std::string name;
    std::optional<Image> front, rear, backlight;
    std::vector<std::uint8_t> magnetic;  // raw head samples, 8 bits each
    nlohmann::json truth;
};

// The E13B font used when a codeline names none: the environment variable
// KOVRAN_SYNTH_E13B_FONT, else the GnuMICR font of the shared test data.
std::string defaultE13bFontPath();

class DocumentRenderer {
  public:
    explicit DocumentRenderer(FontLibrary& fonts) : fonts_(fonts) {}

    // Throws DescriptionError when an element cannot be laid out (outside the
    // page, characters missing from its font, a symbol its generator refuses).
    RenderedDocument render(const Description& d);

  private:
    const CodelineFont& codelineFont(const Element& e);

    FontLibrary& fonts_;
    std::map<std::string, std::unique_ptr<CodelineFont>> codelineFonts_;
};

// Writes <name>.front.png (or .pgm/.ppm), .rear, .backlight, <name>.mag and
// <name>.json into dir. Returns false with a reason.
bool writeDocument(const RenderedDocument& doc, const std::string& dir, const std::string& format,
                   std::string* error);

}  // namespace kovran::sim::synth
