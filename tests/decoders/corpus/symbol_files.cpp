#include "symbol_files.h"

#include <zint.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <stdexcept>

#include "../barcode/symbol_images.h"
#include "decoders/barcode/barcode_reader.h"
#include "decoders/barcode/symbology.h"
#include "decoders/datamatrix/reader.h"
#include "decoders/pdf417/reader.h"
#include "symbol_images.h"

namespace kovran::test::corpus {

namespace fs = std::filesystem;
namespace bc = decoders::barcode;

namespace {

std::string RandomText(std::mt19937& rng, const std::string& alphabet, int length) {
    std::string s;
    for (int i = 0; i < length; ++i) s += alphabet[rng() % alphabet.size()];
    return s;
}

const std::string kDigits = "0123456789";
const std::string kUpper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -.";
const std::string kPrintable =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .,;:-/+*%$#@!?";

// The 2D grid of a symbol: PDF417 rows printed three modules high.
ModuleGrid Grid(int zintSymbology, const std::string& text) {
    auto grid = EncodeWithZint(zintSymbology, text, 0);
    if (!grid) throw std::runtime_error("zint refused " + text);
    if (zintSymbology != BARCODE_PDF417) return *grid;
    ModuleGrid tall{grid->rows * 3, grid->columns, {}};
    for (int r = 0; r < tall.rows; ++r)
        for (int c = 0; c < tall.columns; ++c) tall.dark.push_back(grid->At(r / 3, c) ? 1 : 0);
    return tall;
}

RenderOptions TwoDLevel(const std::string& level, bool pdf, unsigned seed) {
    RenderOptions o;
    o.moduleSize = pdf ? 3.0 : 6.0;
    o.seed = seed;
    if (level == "blur") o.blurSigma = pdf ? 0.9 : 1.6;
    if (level == "noise") {
        o.noiseSigma = 22;
        o.ink = 80;
        o.paper = 185;
    }
    if (level == "turned") o.angleDegrees = pdf ? 3.0 + seed % 3 : 10.0 + 7.0 * (seed % 5);
    if (level == "heavy") {
        o.blurSigma = pdf ? 1.0 : 1.2;
        o.noiseSigma = pdf ? 22 : 14;
        o.ink = 70;
        o.paper = 190;
        o.angleDegrees = pdf ? 2.5 : 12.0;
        o.moduleSize = pdf ? 2.6 : 5.0;
    }
    return o;
}

bc::testing::Degradation OneDLevel(const std::string& level, unsigned seed) {
    bc::testing::Degradation d;
    d.seed = seed;
    if (level == "blur") d.blurSigma = 1.1;
    if (level == "noise") {
        d.noiseSigma = 22;
        d.ink = 80;
        d.paper = 185;
    }
    if (level == "turned") d.skewDegrees = 2.0 + seed % 3;
    if (level == "heavy") {
        d.blurSigma = 1.2;
        d.noiseSigma = 18;
        d.ink = 70;
        d.paper = 190;
        d.spots = 3;
        d.modulePixels = 2.6;
    }
    return d;
}

struct OneD {
    int zint;
    std::string data;
};

OneD OneDSymbol(int i, std::mt19937& rng) {
    switch (i % 4) {
        case 0:
            return {BARCODE_CODE128, RandomText(rng, kPrintable, 8 + static_cast<int>(rng() % 6))};
        case 1:
            return {BARCODE_CODE39, RandomText(rng, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", 8)};
        case 2:
            return {BARCODE_EANX, RandomText(rng, kDigits, 12)};
        default:
            return {BARCODE_C25INTER, RandomText(rng, kDigits, 10)};
    }
}

// Ink strokes of letter size in lines: print that is no symbol.
imaging::ImageBuffer TextLike(unsigned seed) {
    std::mt19937 rng(seed);
    imaging::ImageBuffer image(600, 240, 1, 230, {300, 300});
    for (int line = 0; line < 5; ++line) {
        int x = 20;
        const int base = 30 + line * 42;
        while (x < 560) {
            const int w = 8 + static_cast<int>(rng() % 14);
            const int h = 14 + static_cast<int>(rng() % 14);
            for (int k = 0; k < 3; ++k) {
                const bool vertical = (rng() % 2) == 0;
                const int x0 = x + static_cast<int>(rng() % static_cast<unsigned>(w));
                const int y0 = base + static_cast<int>(rng() % static_cast<unsigned>(h));
                for (int t = 0; t < (vertical ? h : w); ++t)
                    for (int s = 0; s < 3; ++s) {
                        const int px = std::min(599, vertical ? x0 + s : x + t);
                        const int py = std::min(239, vertical ? base + t : y0 + s);
                        image.At(px, py) = 40;
                    }
            }
            x += w + 4 + static_cast<int>(rng() % 10);
        }
    }
    return image;
}

// Paint paper over a band of the symbol's middle: far more than its
// correction repairs.
enum class Band { Columns, Rows };

void Damage(imaging::ImageBuffer& image, Band band) {
    const bool vertical = band == Band::Columns;
    const int w = image.Width();
    const int h = image.Height();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool hit = vertical
                                 ? (x > w * 3 / 10 && x < w * 6 / 10)
                                 : (y > h * 3 / 10 && y < h * 6 / 10 && x > w / 5 && x < w * 4 / 5);
            if (hit) image.At(x, y) = 225;
        }
}

void WriteDocument(const fs::path& folder, int index, const imaging::ImageBuffer& image,
                   const std::vector<std::string>& texts) {
    const std::string name = "doc" + std::to_string(index);
    WritePgm(folder / (name + ".pgm"), image.View());
    std::ofstream out(folder / (name + ".txt"), std::ios::binary);
    // One text per line; a symbol text with a line break is kept escaped.
    for (const std::string& t : texts) {
        for (char c : t) {
            if (c == '\n' || c == '\\')
                out << '\\' << (c == '\n' ? 'n' : '\\');
            else
                out << c;
        }
        out << '\n';
    }
}

int ZintOf(const std::string& symbology) {
    if (symbology == "pdf417") return BARCODE_PDF417;
    if (symbology == "datamatrix") return BARCODE_DATAMATRIX;
    return BARCODE_QRCODE;
}

}  // namespace

void WritePgm(const fs::path& file, imaging::ConstImageView image) {
    std::ofstream out(file, std::ios::binary);
    out << "P5\n" << image.Width() << " " << image.Height() << "\n255\n";
    for (int y = 0; y < image.Height(); ++y)
        out.write(reinterpret_cast<const char*>(image.Row(y)), image.Width());
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

imaging::ImageBuffer ReadPgm(const fs::path& file, int resolution) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, maxValue = 0;
    in >> magic >> w >> h >> maxValue;
    in.get();
    if (!in || magic != "P5" || maxValue != 255 || w <= 0 || h <= 0 || w > 20000 || h > 20000)
        throw std::runtime_error("not a grey PGM: " + file.string());
    imaging::ImageBuffer image(w, h, 1, 0, {double(resolution), double(resolution)});
    in.read(reinterpret_cast<char*>(image.Data()), static_cast<std::streamsize>(image.Bytes()));
    if (!in) throw std::runtime_error("cut PGM: " + file.string());
    return image;
}

std::vector<Document> ListDocuments(const fs::path& folder) {
    std::vector<Document> docs;
    if (!fs::is_directory(folder)) return docs;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".pgm") continue;
        Document d{entry.path(), {}};
        std::ifstream in(fs::path(entry.path()).replace_extension(".txt"), std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            std::string t;
            for (std::size_t i = 0; i < line.size(); ++i) {
                if (line[i] == '\\' && i + 1 < line.size()) {
                    t += line[i + 1] == 'n' ? '\n' : line[i + 1];
                    ++i;
                } else {
                    t += line[i];
                }
            }
            d.texts.push_back(t);
        }
        docs.push_back(std::move(d));
    }
    std::sort(docs.begin(), docs.end(),
              [](const Document& a, const Document& b) { return a.image < b.image; });
    return docs;
}

void GenerateCorpus(const fs::path& root) {
    for (const std::string symbology : kSymbologies) {
        std::mt19937 rng(static_cast<unsigned>(std::hash<std::string>{}(symbology) % 100000));
        for (const std::string level : kLevels) {
            const fs::path folder = root / symbology / level;
            fs::create_directories(folder);
            for (int i = 0; i < kDocumentsPerLevel; ++i) {
                const unsigned seed = static_cast<unsigned>(i + 1);
                if (symbology == "1d") {
                    const OneD s = OneDSymbol(i, rng);
                    const auto image = bc::testing::RenderSymbol(
                        bc::testing::ZintModules(s.zint, s.data), OneDLevel(level, seed), 100);
                    // zint's human-readable Code 39 shows the start and stop '*'.
                    WriteDocument(
                        folder, i, image,
                        {s.zint == BARCODE_CODE39 ? s.data
                                                  : bc::testing::ZintText(s.zint, s.data)});
                    continue;
                }
                const bool pdf = symbology == "pdf417";
                const std::string text =
                    pdf ? RandomText(rng, kPrintable, 20 + static_cast<int>(rng() % 60))
                        : RandomText(rng, kUpper, 10 + static_cast<int>(rng() % 30));
                const auto image =
                    Render(Grid(ZintOf(symbology), text), TwoDLevel(level, pdf, seed));
                WriteDocument(folder, i, image, {text});
            }
        }
        // Must not decode: noise, text-like print, and a symbol damaged
        // beyond its correction capacity.
        const fs::path folder = root / symbology / kMustNotDecode;
        fs::create_directories(folder);
        WriteDocument(folder, 0, NoiseImage(500, 300, 11), {});
        WriteDocument(folder, 1, TextLike(12), {});
        WriteDocument(folder, 2, TextLike(13), {});
        if (symbology == "1d") {
            auto image = bc::testing::RenderSymbol(
                bc::testing::ZintModules(BARCODE_EANX, "400638133393"), {}, 100);
            Damage(image, Band::Columns);
            WriteDocument(folder, 3, image, {});
        } else {
            const bool pdf = symbology == "pdf417";
            auto image = Render(Grid(ZintOf(symbology), pdf ? "DAMAGED BEYOND REPAIR 0123456789"
                                                            : "DAMAGED BEYOND REPAIR"),
                                TwoDLevel("clean", pdf, 1));
            Damage(image, pdf ? Band::Columns : Band::Rows);
            WriteDocument(folder, 3, image, {});
        }
    }
}

ZoneReader OurReader(const std::string& symbology) {
    if (symbology == "1d") {
        return [](imaging::ConstImageView zone) -> std::optional<std::string> {
            bc::BarcodeState state;
            bc::BarcodeReading reading;
            bc::ReadBarcodes(zone, bc::kFontAllBarcodes, 100, {}, state, reading);
            if (reading.text.empty()) return std::nullopt;
            return reading.text;
        };
    }
    if (symbology == "pdf417") {
        return [](imaging::ConstImageView zone) -> std::optional<std::string> {
            decoders::pdf417::Pdf417Reading reading;
            if (decoders::pdf417::ReadPdf417(zone, 2000, reading) <= 0) return std::nullopt;
            return reading.text;
        };
    }
    const bool qr = symbology == "qrcode";
    return [qr](imaging::ConstImageView zone) -> std::optional<std::string> {
        std::string buffer(4096, '\0');
        int length = static_cast<int>(buffer.size());
        const int n = qr ? decoders::datamatrix::KQrCodeDecode(&zone, buffer.data(), &length)
                         : decoders::datamatrix::KDataMatrixDecode(&zone, buffer.data(), &length);
        if (n <= 0) return std::nullopt;
        buffer.resize(static_cast<std::size_t>(n));
        return buffer;
    };
}

}  // namespace kovran::test::corpus
