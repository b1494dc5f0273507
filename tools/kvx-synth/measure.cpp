#include "measure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "ocr/font_db_file.h"
#include "ocr/glyph_normalise.h"
#include "testing/synth/codeline_font.h"
#include "testing/synth/corpus_reader.h"
#include "testing/synth/degradation.h"
#include "testing/synth/e13b_outlines.h"
#include "testing/synth/font_render.h"
#include "testing/synth/image_io.h"
#include "testing/synth/image_ops.h"
#include "testing/synth/magnetic_ink.h"
#include "testing/synth/project_glyphs.h"
#include "testing/synth/synth_error.h"
#include "testing/synth/template_match.h"

namespace kovran::synth {

namespace {

using nlohmann::json;

std::vector<ocr::FontModel> LoadModels(const std::string& dbDir,
                                       const std::vector<std::string>& files) {
    std::vector<ocr::FontModel> all;
    for (const std::string& f : files) {
        const ocr::FontDbRead r = ocr::ReadFontDbFile(dbDir + "/" + f);
        if (!r.Ok()) throw SynthError(dbDir + "/" + f + ": " + ocr::FontDbErrorText(r.error));
        all.insert(all.end(), r.models.begin(), r.models.end());
    }
    return all;
}

struct Tally {
    long n = 0, right = 0, read = 0, misread = 0;
};

}  // namespace

void MeasureCorpus(const std::string& dir, const std::string& dbDir) {
    struct Font {
        const char* name;
        std::vector<ocr::FontModel> models;
    };
    std::map<std::string, std::vector<ocr::FontModel>> dbs = {
        {"E13B", LoadModels(dbDir, {"e13bA04.db", "e13bB04.db"})},
        {"CMC7", LoadModels(dbDir, {"cmc7aa04.db", "cmc7ab04.db"})},
        {"OCR-A", LoadModels(dbDir, {"ocraeb204.db"})},
        {"OCR-B", LoadModels(dbDir, {"ocrbA04.db"})},
    };
    std::map<std::pair<std::string, int>, Tally> nearest;     // font, level
    std::map<std::pair<std::string, int>, Tally> byDpi;       // font, horizontal resolution
    std::map<int, Tally> matcher, matcherUnder;               // level (E13B)
    std::map<std::pair<std::string, int>, Tally> ocrMatcher;  // font, level (OCR-A, OCR-B)
    std::map<std::pair<int, char>, Tally> matcherChar;        // level, character
    std::map<std::pair<char, char>, long> confusions;         // truth, read (E13B misreads)
    // CMC7 by level and character: characters, nearest right, and the wrong
    // nearest characters (to tell a drawing fault from a database one).
    std::map<std::pair<int, char>, Tally> cmc7Char;
    std::map<std::pair<char, char>, long> cmc7Confusions;
    // Per E13B database variant (file, variant): how often it is the
    // nearest model of the right character, and how often that character's
    // model of the variant lies within the font's limits.
    std::map<std::pair<int, int>, long> variantNearest, variantWithin;
    long variantChars = 0;
    const MatcherRules e13b;
    const std::size_t e13bFirstFileModels = LoadModels(dbDir, {"e13bA04.db"}).size();
    for (const CorpusEntry& entry : ReadCorpusIndex(dir)) {
        if (entry.set != "cheques-e13b" && entry.set != "cheques-cmc7" &&
            entry.set != "payment-forms")
            continue;
        const CorpusDocument doc = LoadCorpusDocument(dir, entry.name);
        if (!doc.front) continue;
        ImageBuffer img = doc.front->Channels() == 1 ? *doc.front : ToGrey(*doc.front);
        const json& truth = *doc.truth;
        const int dpiX = static_cast<int>(std::lround(truth.value("dpi_x", 0.0)));
        auto score = [&](const std::string& font, const json& chars, bool matcherToo) {
            for (const json& c : chars) {
                const std::string s = c.value("c", std::string(" "));
                if (s == " " || !c.contains("box_scan")) continue;
                const char want = s[0];
                const json& bx = c.at("box_scan");
                const auto g =
                    GlyphOfBox(img.View(), TrueBox{bx.at(0).get<int>(), bx.at(1).get<int>(),
                                                   bx.at(2).get<int>(), bx.at(3).get<int>()});
                Tally& t = nearest[{font, entry.level}];
                ++t.n;
                const char near = g ? NearestModel(g->glyph, dbs[font]) : '?';
                if (near == want) ++t.right;
                Tally& td = byDpi[{font, dpiX}];
                ++td.n;
                if (near == want) ++td.right;
                if (font == "CMC7") {
                    Tally& cc = cmc7Char[{entry.level, want}];
                    ++cc.n;
                    if (near == want)
                        ++cc.right;
                    else
                        ++cmc7Confusions[{want, near}];
                }
                if (font == "OCR-A" || font == "OCR-B") {
                    // Fonts 2 and 4: distance limits 140 and 70, acceptance 40.
                    const MatcherRules rules{409, {140, 70}, 0, 40};
                    const char got = g ? MatchGlyph(*g, dbs[font], rules) : '?';
                    Tally& o = ocrMatcher[{font, entry.level}];
                    ++o.n;
                    if (got == want)
                        ++o.read;
                    else if (got != '?')
                        ++o.misread;
                }
                if (!matcherToo) continue;
                if (g && !c.value("under_intrusion", false)) {
                    ++variantChars;
                    int best = 1 << 30, bestKey = -1;
                    for (std::size_t k = 0; k < dbs[font].size(); ++k) {
                        const ocr::FontModel& m = dbs[font][k];
                        if (static_cast<char>(m.code) != want) continue;
                        const int file = k < e13bFirstFileModels ? 0 : 1;
                        const int key = file * 256 + m.extra[4];
                        if (ocr::GlyphDistance(g->glyph, m.glyph, e13b.limits) <= e13b.maxDistance)
                            ++variantWithin[{file, m.extra[4]}];
                        const int d = ocr::GlyphDistance(g->glyph, m.glyph);
                        if (d < best) {
                            best = d;
                            bestKey = key;
                        }
                    }
                    if (bestKey >= 0) ++variantNearest[{bestKey / 256, bestKey % 256}];
                }
                const bool under = c.value("under_intrusion", false);
                Tally& m = under ? matcherUnder[entry.level] : matcher[entry.level];
                Tally& mc = matcherChar[{entry.level, want}];
                const char got = g ? MatchGlyph(*g, dbs[font], e13b) : '?';
                ++m.n;
                if (!under) ++mc.n;
                if (got == want) {
                    ++m.read;
                    if (!under) ++mc.read;
                } else if (got != '?') {
                    ++m.misread;
                    if (!under) {
                        ++mc.misread;
                        ++confusions[{want, got}];
                    }
                }
            }
        };
        // The truth is read with at(): a file that lacks a field is refused
        // by name instead of read past its object.
        const json& codeline = truth.at("codeline");
        if (!codeline.is_null()) {
            const bool isE13b = codeline.at("font") == "e13b";
            score(isE13b ? "E13B" : "CMC7", codeline.at("chars"), isE13b);
        }
        for (const json& el : truth.at("front")) {
            if (!el.contains("chars") || el.value("type", std::string()) == "codeline") continue;
            const std::string font = el.value("font", std::string());
            if (font == "OCRA") score("OCR-A", el.at("chars"), false);
            if (font == "OCR B") score("OCR-B", el.at("chars"), false);
        }
    }
    std::printf("Nearest database model is the right character (share, characters):\n\n");
    std::printf("| level | E13B | CMC7 | OCR-A | OCR-B |\n|---|---|---|---|---|\n");
    for (int level = 0; level <= 4; ++level) {
        std::printf("| %d |", level);
        for (const char* f : {"E13B", "CMC7", "OCR-A", "OCR-B"}) {
            const Tally& t = nearest[{f, level}];
            if (t.n == 0)
                std::printf(" - |");
            else
                std::printf(" %.1f %% (%ld) |", 100.0 * t.right / t.n, t.n);
        }
        std::printf("\n");
    }
    std::printf("\nNearest model right, by horizontal resolution (share, characters):\n\n");
    std::printf("| font | dpi | right |\n|---|---|---|\n");
    for (const auto& [key, t] : byDpi)
        std::printf("| %s | %d | %.1f %% (%ld) |\n", key.first.c_str(), key.second,
                    100.0 * t.right / std::max(1L, t.n), t.n);
    std::printf(
        "\nCMC7 nearest model per character (share right, characters), by level:\n\n| char |");
    for (int level = 0; level <= 4; ++level) std::printf(" L%d |", level);
    std::printf("\n|---|---|---|---|---|---|\n");
    for (char c : std::string("0123456789:;<=>")) {
        std::printf("| %c |", c);
        for (int level = 0; level <= 4; ++level) {
            const Tally& t = cmc7Char[{level, c}];
            if (t.n == 0)
                std::printf(" - |");
            else
                std::printf(" %.0f %% (%ld) |", 100.0 * t.right / t.n, t.n);
        }
        std::printf("\n");
    }
    std::printf("\nCMC7 wrong nearest (truth -> nearest: count):");
    for (const auto& [k, n] : cmc7Confusions) std::printf(" %c->%c: %ld", k.first, k.second, n);
    std::printf("\n");
    std::printf(
        "\nOCR-A (font 2) and OCR-B (font 4) template matcher, true boxes (read / misread):\n\n"
        "| level | OCR-A | OCR-B |\n|---|---|---|\n");
    for (int level = 0; level <= 4; ++level) {
        std::printf("| %d |", level);
        for (const char* f : {"OCR-A", "OCR-B"}) {
            const Tally& t = ocrMatcher[{f, level}];
            if (t.n == 0)
                std::printf(" - |");
            else
                std::printf(" %.1f %% / %.2f %% (%ld) |", 100.0 * t.read / t.n,
                            100.0 * t.misread / t.n, t.n);
        }
        std::printf("\n");
    }
    std::printf("\nE13B template matcher, true boxes (characters clear of intrusions):\n\n");
    std::printf(
        "| level | chars | read | rejected | misread | under intrusions: chars, read, "
        "misread |\n|---|---|---|---|---|---|\n");
    for (int level = 0; level <= 4; ++level) {
        const Tally& t = matcher[level];
        const Tally& u = matcherUnder[level];
        if (t.n == 0) continue;
        std::printf("| %d | %ld | %.2f %% | %.2f %% | %.3f %% | %ld, %.1f %%, %.1f %% |\n", level,
                    t.n, 100.0 * t.read / t.n, 100.0 * (t.n - t.read - t.misread) / t.n,
                    100.0 * t.misread / t.n, u.n, u.n ? 100.0 * u.read / u.n : 0.0,
                    u.n ? 100.0 * u.misread / u.n : 0.0);
    }
    std::printf("\nPer character (read %% / misread count), by level:\n\n| char |");
    for (int level = 0; level <= 4; ++level) std::printf(" L%d |", level);
    std::printf("\n|---|---|---|---|---|---|\n");
    for (char c : std::string("0123456789:=<;")) {
        std::printf("| %c |", c);
        for (int level = 0; level <= 4; ++level) {
            const Tally& t = matcherChar[{level, c}];
            if (t.n == 0)
                std::printf(" - |");
            else
                std::printf(" %.1f %% / %ld (%ld) |", 100.0 * t.read / t.n, t.misread, t.n);
        }
        std::printf("\n");
    }
    std::printf(
        "\nE13B database variants on the E13B cheques (characters clear of "
        "intrusions, %ld): nearest variant of the right character, and the share of "
        "characters whose model of that variant lies within the font's limits:\n\n"
        "| file | variant | nearest | within limits |\n|---|---|---|---|\n",
        variantChars);
    for (const auto& [key, n] : variantWithin)
        std::printf("| %s | %d | %.1f %% | %.1f %% |\n", key.first ? "e13bB04" : "e13bA04",
                    key.second, 100.0 * variantNearest[key] / std::max(1L, variantChars),
                    100.0 * n / std::max(1L, variantChars));
    std::printf("\nE13B misreads (truth -> read: count):");
    for (const auto& [k, n] : confusions) std::printf(" %c->%c: %ld", k.first, k.second, n);
    std::printf("\n");
}

void PrintMagneticTrace(const std::string& truthFile, int index) {
    std::ifstream in(truthFile);
    if (!in) throw SynthError(truthFile + ": cannot read");
    const json t = json::parse(in);
    const std::string dir = truthFile.substr(0, truthFile.find_last_of('/') + 1);
    // A ground truth is read with at(): a missing field is an error, never
    // a read past the object.
    const std::string name = t.at("name").get<std::string>();
    const CorpusDocument doc = LoadCorpusDocument(dir.empty() ? "." : dir, name);
    const json& chars = t.at("codeline").at("chars");
    if (index < 0 || index >= static_cast<int>(chars.size()) ||
        !chars.at(index).contains("samples"))
        throw SynthError("no printed codeline character " + std::to_string(index));
    const json& c = chars.at(index);
    const std::vector<int> dec = DecimateSamples(doc.magnetic, 3 * doc.decimation);
    const long a = c.at("samples").at(0).get<long>() - 10;
    const long b = c.at("samples").at(1).get<long>() + 10;
    const json& m = t.at("magnetic");
    std::printf("%s character %d '%s', decimated samples %ld..%ld, polarity %s (ink onset %s):\n",
                name.c_str(), index, c.at("c").get<std::string>().c_str(), a, b,
                m.value("polarity", std::string("?")).c_str(),
                m.value("onset", std::string("?")).c_str());
    for (long i = std::max(0L, a); i <= b && i < static_cast<long>(dec.size()); ++i)
        std::printf("%ld %d%s", i, dec[i], (i - a) % 8 == 7 ? "\n" : "\t");
    std::printf("\n");
}

void WriteModelSheet(const std::string& dbFile, const std::string& png) {
    const ocr::FontDbRead r = ocr::ReadFontDbFile(dbFile);
    if (!r.Ok()) throw SynthError(dbFile + ": " + ocr::FontDbErrorText(r.error));
    std::vector<char> order;
    std::map<char, std::vector<const ocr::FontModel*>> byChar;
    for (const auto& m : r.models) {
        const char c = static_cast<char>(m.code);
        if (!byChar.count(c)) order.push_back(c);
        byChar[c].push_back(&m);
    }
    std::size_t cols = 0;
    for (const auto& [c, v] : byChar) cols = std::max(cols, v.size());
    constexpr int kCell = 32 * 3 + 6;
    ImageBuffer sheet(static_cast<int>(cols) * kCell + 6,
                      static_cast<int>(order.size()) * kCell + 6, 1, 255);
    for (std::size_t row = 0; row < order.size(); ++row) {
        const auto& v = byChar[order[row]];
        for (std::size_t col = 0; col < v.size(); ++col)
            for (int y = 0; y < 96; ++y)
                for (int x = 0; x < 96; ++x) {
                    const int sx = 6 + static_cast<int>(col) * kCell + x;
                    const int sy = 6 + static_cast<int>(row) * kCell + y;
                    sheet.At(sx, sy) = v[col]->glyph.Bit(y / 3, x / 3) ? 0 : 230;
                }
    }
    WritePng(sheet, png);
}

void WriteDrawingSheet(const std::string& drawing, double dpi, const std::string& png) {
    std::unique_ptr<CodelineFont> font;
    std::string chars = "0123456789:;<=>";
    if (drawing == "cmc7") {
        font = MakeCmc7Font(Cmc7Geometry{});
    } else if (drawing == "cmc7-project") {
        font = MakeProjectCodelineFont("cmc7");
    } else if (drawing == "e13b") {
        font = MakeE13bOutlineFont();
        chars = "0123456789:=<;";
    } else if (drawing == "e13b-project") {
        font = MakeProjectCodelineFont("e13b");
        chars = "0123456789:=<;";
    } else {
        throw SynthError("unknown drawing " + drawing +
                         " (cmc7, cmc7-project, e13b, e13b-project)");
    }
    const double grows[] = {-0.03, 0.0, 0.04};
    const int cell = static_cast<int>(std::ceil(0.16 * dpi));
    ImageBuffer sheet(static_cast<int>(chars.size()) * cell + 10, 3 * cell + 10, 1, 255);
    for (int row = 0; row < 3; ++row)
        for (std::size_t i = 0; i < chars.size(); ++i) {
            const CodelineGlyph g = font->Render(chars[i], dpi, dpi, grows[row]);
            const int ox = 5 + static_cast<int>(i) * cell, oy = 5 + row * cell;
            for (int y = 0; y < g.coverage.Height() && y < cell; ++y)
                for (int x = 0; x < g.coverage.Width() && x < cell; ++x)
                    sheet.At(ox + x, oy + y) = static_cast<std::uint8_t>(255 - g.coverage.At(x, y));
        }
    WritePng(sheet, png, dpi);
}

void PrintDrawingNearest(const std::string& drawing, const std::string& dbDir) {
    const bool cmc7 = drawing == "cmc7" || drawing == "cmc7-project";
    std::unique_ptr<CodelineFont> font;
    if (drawing == "cmc7")
        font = MakeCmc7Font(Cmc7Geometry{});
    else if (drawing == "cmc7-project")
        font = MakeProjectCodelineFont("cmc7");
    else if (drawing == "e13b")
        font = MakeE13bOutlineFont();
    else if (drawing == "e13b-project")
        font = MakeProjectCodelineFont("e13b");
    else
        throw SynthError("unknown drawing " + drawing +
                         " (cmc7, cmc7-project, e13b, e13b-project)");
    const std::vector<ocr::FontModel> models =
        cmc7 ? LoadModels(dbDir, {"cmc7aa04.db", "cmc7ab04.db"})
             : LoadModels(dbDir, {"e13bA04.db", "e13bB04.db"});
    const std::string chars = cmc7 ? "0123456789:;<=>" : "0123456789:=<;";
    std::printf(
        "Nearest model of each character of the %s drawing (nearest: its distance / "
        "the right character's best distance; the worst of four sub-pixel phases for a drawing "
        "that moves by one; scanned through the sensor's optics):\n\n| char |",
        drawing.c_str());
    const double dpis[] = {200, 300, 400, 600};
    const double grows[] = {-0.03, 0.0, 0.04};
    for (double dpi : dpis)
        for (double grow : grows) std::printf(" %.0f/%+.2f |", dpi, grow);
    std::printf("\n|---|");
    for (std::size_t i = 0; i < std::size(dpis) * std::size(grows); ++i) std::printf("---|");
    std::printf("\n");
    long n = 0, right = 0;
    for (char c : chars) {
        std::printf("| %c |", c);
        for (double dpi : dpis)
            for (double grow : grows) {
                // Every quarter-pixel phase for a drawing that moves by one.
                int phasesRight = 0, phases = 0, best = 1 << 30, bestRight = 1 << 30;
                char near = '?';
                for (int q = 0; q < (font->MovesByPhase() ? 4 : 1); ++q) {
                    const CodelineGlyph g = font->Render(c, dpi, dpi, grow, q / 4.0);
                    const int pad = 8;
                    ImageBuffer img(g.coverage.Width() + 2 * pad, g.coverage.Height() + 2 * pad, 1,
                                    255);
                    for (int y = 0; y < g.coverage.Height(); ++y)
                        for (int x = 0; x < g.coverage.Width(); ++x)
                            img.At(x + pad, y + pad) =
                                static_cast<std::uint8_t>(255 - g.coverage.At(x, y));
                    // Seen as a scan sees it: through the sensor's optics.
                    GaussianBlur(img, kSensorOpticsBlur * dpi / 300.0);
                    const auto glyph =
                        GlyphOfBox(img.View(), TrueBox{0, 0, img.Width(), img.Height()});
                    int qBest = 1 << 30, qRight = 1 << 30;
                    char qNear = '?';
                    if (glyph)
                        for (const ocr::FontModel& m : models) {
                            const int d = ocr::GlyphDistance(glyph->glyph, m.glyph);
                            if (d < qBest) {
                                qBest = d;
                                qNear = static_cast<char>(m.code);
                            }
                            if (static_cast<char>(m.code) == c) qRight = std::min(qRight, d);
                        }
                    ++phases;
                    if (qNear == c) ++phasesRight;
                    // The cell shows the worst phase.
                    if (q == 0 || qRight - qBest > bestRight - best || (qNear != c && near == c)) {
                        near = qNear;
                        best = qBest;
                        bestRight = qRight;
                    }
                }
                n += phases;
                right += phasesRight;
                std::printf(" %c %d/%d |", near, best, bestRight);
            }
        std::printf("\n");
    }
    std::printf("\nright: %ld of %ld\n", right, n);
}

}  // namespace kovran::synth
