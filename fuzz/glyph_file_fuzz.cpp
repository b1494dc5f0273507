// Fuzz target for the glyph data files: every text is refused with a reason
// or gives a set whose characters all render.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ocr/glyph_sources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    using kovran::ocr::GlyphFamily;
    for (GlyphFamily f : {GlyphFamily::E13B, GlyphFamily::CMC7, GlyphFamily::Microperforation}) {
        const auto parsed = kovran::ocr::GlyphSet::Parse(f, text);
        if (!parsed.set) {
            if (parsed.error.empty()) std::abort();
            continue;
        }
        for (char c : parsed.set->Characters())
            if (!parsed.set->Render(c, {100, 0, 0})) std::abort();
    }
    return 0;
}
