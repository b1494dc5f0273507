#include "db_builder.h"

#include <algorithm>
#include <cstdio>

namespace kovran::mkdb {

namespace {

std::string CharName(char c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "'%c' (0x%02X)", c, static_cast<unsigned char>(c));
    return buf;
}

}  // namespace

ocr::FontModel ModelFromImage(imaging::ConstImageView image, char c, int variant) {
    ocr::GlyphBox box{image.Height(), image.Width(), -1, -1};
    for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
            if (!image.At(x, y)) continue;
            box.top = std::min(box.top, y);
            box.bottom = std::max(box.bottom, y);
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x);
        }
    }
    if (box.bottom < 0) throw MkdbError("character " + CharName(c) + " renders without ink");
    const ocr::NormalisedGlyph g = ocr::NormaliseGlyph(image, box);
    ocr::FontModel model;
    model.code = static_cast<std::uint8_t>(c);
    model.glyph = g.glyph;
    model.extra[0] = static_cast<std::uint8_t>(box.Width() & 0xFF);
    model.extra[1] = static_cast<std::uint8_t>(box.Width() >> 8);
    model.extra[2] = static_cast<std::uint8_t>(box.Height() & 0xFF);
    model.extra[3] = static_cast<std::uint8_t>(box.Height() >> 8);
    model.extra[4] = static_cast<std::uint8_t>(variant);
    return model;
}

std::vector<ocr::FontModel> BuildDatabase(const DbSpec& spec, FaceLibrary& faces) {
    auto fail = [&](const std::string& reason) { throw MkdbError(spec.name + ": " + reason); };
    if (!ocr::IsValidFontDbName(spec.name))
        fail("database name \"" + spec.name + "\" is not 4 to 31 characters long");
    const std::size_t variants = spec.family ? spec.dataVariants.size() : spec.faceVariants.size();
    const std::size_t total = spec.chars.size() * variants;
    if (total == 0) fail("no characters or no variants");
    if (total > ocr::kMaxFontModels)
        fail(std::to_string(total) + " models, more than the 2000 of one font");
    std::vector<ocr::FontModel> models;
    models.reserve(total);

    try {
        if (spec.family) {
            const ocr::GlyphSet set = ocr::GlyphSet::Builtin(*spec.family);
            for (char c : spec.chars) {
                if (!set.Contains(c)) fail("the glyph data has no character " + CharName(c));
                for (std::size_t v = 0; v < spec.dataVariants.size(); ++v) {
                    const DataVariant& dv = spec.dataVariants[v];
                    const auto r = set.Render(
                        c, {dv.dpi, 0.0, dv.growMm, dv.cornerMm, dv.shiftPx * 25.4 / dv.dpi});
                    if (!r) fail("cannot render " + CharName(c));
                    models.push_back(ModelFromImage(r->image.View(), c, static_cast<int>(v)));
                }
            }
            return models;
        }

        // Every face must hold every character before anything is rendered: a
        // database silently missing a character would only show as misreads.
        std::vector<const GlyphFaceRenderer*> opened;
        for (const FaceVariant& fv : spec.faceVariants) {
            const GlyphFaceRenderer& f = faces.Open(fv.face);
            for (char c : spec.chars)
                if (!f.HasGlyph(static_cast<unsigned char>(c)))
                    fail("font " + f.Path() + " has no glyph for " + CharName(c));
            opened.push_back(&f);
        }
        for (char c : spec.chars) {
            for (std::size_t v = 0; v < spec.faceVariants.size(); ++v) {
                const auto img =
                    opened[v]->Render(static_cast<unsigned char>(c), spec.faceVariants[v].render);
                if (!img)
                    fail("FreeType cannot render " + CharName(c) + " (" + opened[v]->Path() + ")");
                models.push_back(ModelFromImage(img->View(), c, static_cast<int>(v)));
            }
        }
    } catch (const MkdbError& e) {
        // Reasons from below do not know the database yet.
        if (std::string(e.what()).starts_with(spec.name + ": ")) throw;
        fail(e.what());
    }
    return models;
}

void CheckGroups(const std::vector<DbGroup>& groups,
                 const std::map<std::string, std::size_t>& counts) {
    for (const DbGroup& g : groups) {
        std::size_t sum = 0;
        for (const std::string& file : g.files) {
            const auto it = counts.find(file);
            if (it != counts.end()) sum += it->second;
        }
        if (sum > kMaxModelsPerGroup)
            throw MkdbError("the files of font " + g.fonts + " hold " + std::to_string(sum) +
                            " models together, more than " + std::to_string(kMaxModelsPerGroup));
    }
}

}  // namespace kovran::mkdb
