#include "db_builder.h"

#include <algorithm>
#include <cstdio>

namespace kovran::mkdb {

namespace {

std::string charName(char c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "'%c' (0x%02X)", c, static_cast<unsigned char>(c));
    return buf;
}

}  // namespace

bool modelFromImage(const ocr::InkImage& image, char c, int variant, ocr::FontModel& model,
                    std::string& error) {
    ocr::GlyphBox box{image.height, image.width, -1, -1};
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (!image.at(x, y)) continue;
            box.top = std::min(box.top, y);
            box.bottom = std::max(box.bottom, y);
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x);
        }
    }
    if (box.bottom < 0) {
        error = "character " + charName(c) + " renders without ink";
        return false;
    }
    const ocr::InkView view{image.width, image.height, image.width, image.pixels.data(), 0};
    const ocr::NormalisedGlyph g = ocr::normaliseGlyph(view, box);
    model = {};
    model.code = static_cast<std::uint8_t>(c);
    model.glyph = g.glyph;
    model.extra[0] = static_cast<std::uint8_t>(box.width() & 0xFF);
    model.extra[1] = static_cast<std::uint8_t>(box.width() >> 8);
    model.extra[2] = static_cast<std::uint8_t>(box.height() & 0xFF);
    model.extra[3] = static_cast<std::uint8_t>(box.height() >> 8);
    model.extra[4] = static_cast<std::uint8_t>(variant);
    return true;
}

BuiltDb buildDatabase(const DbSpec& spec, FaceLibrary& faces) {
    BuiltDb out;
    if (!ocr::isValidFontDbName(spec.name)) {
        out.error = "database name \"" + spec.name + "\" is not 4 to 31 characters long";
        return out;
    }
    const std::size_t variants = spec.family ? spec.dataVariants.size() : spec.faceVariants.size();
    const std::size_t total = spec.chars.size() * variants;
    if (total == 0) {
        out.error = "no characters or no variants";
        return out;
    }
    if (total > ocr::kMaxFontModels) {
        out.error = std::to_string(total) + " models, more than the 2000 of one font";
        return out;
    }
    out.models.reserve(total);

    if (spec.family) {
        const ocr::GlyphSet set = ocr::GlyphSet::builtin(*spec.family);
        for (char c : spec.chars) {
            if (!set.contains(c)) {
                out.error = "the glyph data has no character " + charName(c);
                out.models.clear();
                return out;
            }
            for (std::size_t v = 0; v < spec.dataVariants.size(); ++v) {
                const DataVariant& dv = spec.dataVariants[v];
                const auto r = set.render(c, {dv.dpi, 0.0, dv.growMm});
                ocr::FontModel m;
                if (!r || !modelFromImage(r->image, c, static_cast<int>(v), m, out.error)) {
                    if (out.error.empty()) out.error = "cannot render " + charName(c);
                    out.models.clear();
                    return out;
                }
                out.models.push_back(m);
            }
        }
        return out;
    }

    // Every face must hold every character before anything is rendered: a
    // database silently missing a character would only show as misreads.
    std::vector<const FontFace*> opened;
    for (const FaceVariant& fv : spec.faceVariants) {
        const FontFace* f = faces.open(fv.face, out.error);
        if (f == nullptr) return out;
        for (char c : spec.chars) {
            if (!f->hasGlyph(static_cast<unsigned char>(c))) {
                out.error = "font " + f->path() + " has no glyph for " + charName(c);
                return out;
            }
        }
        opened.push_back(f);
    }
    for (char c : spec.chars) {
        for (std::size_t v = 0; v < spec.faceVariants.size(); ++v) {
            const auto img =
                opened[v]->render(static_cast<unsigned char>(c), spec.faceVariants[v].render);
            ocr::FontModel m;
            if (!img || !modelFromImage(*img, c, static_cast<int>(v), m, out.error)) {
                if (out.error.empty()) out.error = "FreeType cannot render " + charName(c);
                out.error += " (" + opened[v]->path() + ")";
                out.models.clear();
                return out;
            }
            out.models.push_back(m);
        }
    }
    return out;
}

std::string checkGroups(const std::vector<DbGroup>& groups,
                        const std::map<std::string, std::size_t>& counts) {
    for (const DbGroup& g : groups) {
        std::size_t sum = 0;
        for (const std::string& file : g.files) {
            const auto it = counts.find(file);
            if (it != counts.end()) sum += it->second;
        }
        if (sum > kMaxModelsPerGroup)
            return "the files of font " + g.fonts + " hold " + std::to_string(sum) +
                   " models together, more than " + std::to_string(kMaxModelsPerGroup);
    }
    return {};
}

}  // namespace kovran::mkdb
