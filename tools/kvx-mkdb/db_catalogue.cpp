#include "db_catalogue.h"

namespace kovran::mkdb {

namespace {

const std::string kDigits = "0123456789";
const std::string kUpper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const std::string kLower = "abcdefghijklmnopqrstuvwxyz";

// The valid sets of the fonts that read each file, joined (with the signs
// that document types 0 and 1 add to the digit and letter sets).
const std::string kMultiFont = kDigits + kUpper + "!#%&*+,-./<>?";
const std::string kMultiFontWide = kDigits + kUpper + kLower + "!#%&'*+,-./<>?@";
const std::string kAmount = kDigits + ",*#";
const std::string kBeneficiary = kDigits + kUpper + kLower + "@&*#'-/,";

const std::string kTrueType = "/usr/share/fonts/truetype/";
const std::string kOpenType = "/usr/share/fonts/opentype/";
const std::string kType1 = "/usr/share/fonts/X11/Type1/";

FaceSource face(std::string family, std::string style, std::vector<std::string> paths) {
    return FaceSource{std::move(family), std::move(style), std::move(paths)};
}

const FaceSource kOcrA = face("OCRA", "Medium", {kTrueType + "ocr-a/OCRA.ttf"});
const FaceSource kOcrABold = face("OCRABold", "Bold", {kTrueType + "ocr-a/OCRABold.ttf"});
const FaceSource kOcrB = face("OCR B", "Regular", {kOpenType + "ocr-b/OCRB.otf"});
const FaceSource kOcrBSharp = face("OCR B S", "Regular", {kOpenType + "ocr-b/OCRBS.otf"});
const FaceSource kNimbusMono =
    face("Nimbus Mono PS", "Regular",
         {kOpenType + "urw-base35/NimbusMonoPS-Regular.otf", kType1 + "NimbusMonoPS-Regular.pfb"});
const FaceSource kNimbusMonoBold =
    face("Nimbus Mono PS", "Bold",
         {kOpenType + "urw-base35/NimbusMonoPS-Bold.otf", kType1 + "NimbusMonoPS-Bold.pfb"});
const FaceSource kLiberationSans = face("Liberation Sans", "Regular",
                                        {kTrueType + "liberation2/LiberationSans-Regular.ttf",
                                         kTrueType + "liberation/LiberationSans-Regular.ttf"});
const FaceSource kLiberationSansBold = face("Liberation Sans", "Bold",
                                            {kTrueType + "liberation2/LiberationSans-Bold.ttf",
                                             kTrueType + "liberation/LiberationSans-Bold.ttf"});
const FaceSource kLiberationSansItalic = face("Liberation Sans", "Italic",
                                              {kTrueType + "liberation2/LiberationSans-Italic.ttf",
                                               kTrueType + "liberation/LiberationSans-Italic.ttf"});
const FaceSource kLiberationSansNarrow =
    face("Liberation Sans Narrow", "Regular",
         {kTrueType + "liberation/LiberationSansNarrow-Regular.ttf"});
const FaceSource kLiberationSansNarrowBold = face(
    "Liberation Sans Narrow", "Bold", {kTrueType + "liberation/LiberationSansNarrow-Bold.ttf"});
const FaceSource kLiberationMono =
    face("Liberation Mono", "Regular", {kTrueType + "liberation/LiberationMono-Regular.ttf"});
const FaceSource kLiberationMonoBold =
    face("Liberation Mono", "Bold", {kTrueType + "liberation/LiberationMono-Bold.ttf"});
const FaceSource kDejaVuSans = face("DejaVu Sans", "Book", {kTrueType + "dejavu/DejaVuSans.ttf"});
const FaceSource kDejaVuSansBold =
    face("DejaVu Sans", "Bold", {kTrueType + "dejavu/DejaVuSans-Bold.ttf"});
const FaceSource kDejaVuSansMono =
    face("DejaVu Sans Mono", "Book", {kTrueType + "dejavu/DejaVuSansMono.ttf"});
const FaceSource kDejaVuSansMonoBold =
    face("DejaVu Sans Mono", "Bold", {kTrueType + "dejavu/DejaVuSansMono-Bold.ttf"});
const FaceSource kDejaVuSerif =
    face("DejaVu Serif", "Book", {kTrueType + "dejavu/DejaVuSerif.ttf"});
const FaceSource kDejaVuSerifBold =
    face("DejaVu Serif", "Bold", {kTrueType + "dejavu/DejaVuSerif-Bold.ttf"});
const FaceSource kCarlito =
    face("Carlito", "Regular", {kTrueType + "crosextra/Carlito-Regular.ttf"});
const FaceSource kCarlitoBold = face("Carlito", "Bold", {kTrueType + "crosextra/Carlito-Bold.ttf"});

// Three models per character: the nominal rendering, a smaller and lighter
// one, and a larger and heavier one (print weight varies more than shape).
std::vector<FaceVariant> weights(const FaceSource& f) {
    return {{f, {48, 128, 0}}, {f, {38, 176, 0}}, {f, {58, 80, 0}}};
}

// Two regular weights and the bold cut of the same family.
std::vector<FaceVariant> withBold(const FaceSource& regular, const FaceSource& bold) {
    return {{regular, {48, 128, 0}}, {regular, {42, 160, 0}}, {bold, {52, 128, 0}}};
}

std::vector<FaceVariant> emboldened(const FaceSource& f) {
    return {{f, {44, 128, 96}}, {f, {40, 128, 160}}, {f, {54, 96, 64}}};
}

// Print of the magnetic fonts varies in weight and in the resolution of the
// printer; the two files of a font cover different ranges.
const std::vector<DataVariant> kDataSetA = {
    {300, 0.0}, {300, 0.03}, {300, -0.03}, {240, 0.0}, {400, 0.0}};
const std::vector<DataVariant> kDataSetB = {
    {200, 0.02}, {250, -0.02}, {350, 0.05}, {300, 0.06}, {300, -0.05}};
const std::vector<DataVariant> kMicroVariants = {{300, 0.0}, {300, 0.04}, {300, -0.05}, {240, 0.0}};

DbSpec dataDb(std::string name, std::string chars, ocr::GlyphFamily family,
              std::vector<DataVariant> variants, std::string fonts, std::string source) {
    DbSpec d;
    d.name = std::move(name);
    d.chars = std::move(chars);
    d.family = family;
    d.dataVariants = std::move(variants);
    d.fonts = std::move(fonts);
    d.source = std::move(source);
    return d;
}

DbSpec faceDb(std::string name, std::string chars, std::vector<FaceVariant> variants,
              std::string fonts, std::string source) {
    DbSpec d;
    d.name = std::move(name);
    d.chars = std::move(chars);
    d.faceVariants = std::move(variants);
    d.fonts = std::move(fonts);
    d.source = std::move(source);
    return d;
}

std::vector<DbSpec> makeCatalogue() {
    using ocr::GlyphFamily;
    return {
        dataDb("e13bA04.db", kDigits + ":=<;", GlyphFamily::E13B, kDataSetA, "1",
               "data/glyphs/e13b.txt, 240-400 dpi"),
        dataDb("e13bB04.db", kDigits + ":=<;", GlyphFamily::E13B, kDataSetB, "1",
               "data/glyphs/e13b.txt, 200-350 dpi, heavy and light print"),
        faceDb("ocraeb204.db", kDigits + "#*+,-./<>CPRUXZ]", withBold(kOcrA, kOcrABold), "2",
               "OCR-A (fonts-ocr-a: OCRA, OCRABold)"),
        faceDb("ocrbA04.db", kMultiFontWide, weights(kOcrB),
               "3, 4, 5, 38, 39, 204, 205, 9-12, 944, 945", "OCR-B (fonts-ocr-b: OCRB)"),
        faceDb("ocrbB04.db", kMultiFont, emboldened(kOcrB), "9-12",
               "OCR-B (fonts-ocr-b: OCRB), emboldened"),
        faceDb("ocrbC04.db", kMultiFont, weights(kOcrBSharp), "9-12",
               "OCR-B Sharp (fonts-ocr-b: OCRBS)"),
        faceDb("courier04.db", kMultiFontWide, withBold(kNimbusMono, kNimbusMonoBold),
               "9-12, 944, 945", "Nimbus Mono PS (fonts-urw-base35), Courier clone"),
        faceDb("arial04.db", kMultiFontWide, withBold(kLiberationSans, kLiberationSansBold),
               "9-12, 944, 945", "Liberation Sans (Arial metrics)"),
        faceDb("arialcor04.db", kMultiFont, weights(kLiberationSansItalic), "9-12",
               "Liberation Sans Italic"),
        faceDb("serifabt204.db", kMultiFont, weights(kDejaVuSerif), "9-12",
               "DejaVu Serif (slab-like serifs)"),
        faceDb("serifabt404.db", kMultiFont, weights(kDejaVuSerifBold), "9-12",
               "DejaVu Serif Bold"),
        dataDb("microC04.db", kDigits + kUpper + "/@&*#'-,", GlyphFamily::Microperforation,
               kMicroVariants, "35, 40, 41, 935-943", "data/glyphs/microperf.txt"),
        dataDb("cmc7aa04.db", kDigits + ":;<=>", GlyphFamily::CMC7, kDataSetA, "202",
               "data/glyphs/cmc7.txt, 240-400 dpi"),
        dataDb("cmc7ab04.db", kDigits + ":;<=>", GlyphFamily::CMC7, kDataSetB, "202",
               "data/glyphs/cmc7.txt, 200-350 dpi, heavy and light print"),
        faceDb("ABIImpA04.db", kAmount, emboldened(kDejaVuSansMonoBold), "944",
               "DejaVu Sans Mono Bold, emboldened (cheque-writer amounts)"),
        faceDb("ABIBenA04.db", kBeneficiary, weights(kDejaVuSansMono), "944, 945",
               "DejaVu Sans Mono (printed beneficiaries)"),
        faceDb("arialnum04.db", kBeneficiary,
               withBold(kLiberationSansNarrow, kLiberationSansNarrowBold), "944, 945",
               "Liberation Sans Narrow (Arial Narrow metrics)"),
        faceDb("IBMgotA04.db", kBeneficiary, withBold(kLiberationMono, kLiberationMonoBold),
               "944, 945", "Liberation Mono Regular and Bold (monospaced gothic)"),
        faceDb("V3RIDFS04.db", kBeneficiary, withBold(kDejaVuSans, kDejaVuSansBold), "944, 945",
               "DejaVu Sans"),
        faceDb("calibriA04.db", kBeneficiary, withBold(kCarlito, kCarlitoBold), "944, 945",
               "Carlito (Calibri metrics)"),
    };
}

}  // namespace

const std::vector<DbSpec>& databaseCatalogue() {
    static const std::vector<DbSpec> catalogue = makeCatalogue();
    return catalogue;
}

const std::vector<DbGroup>& databaseGroups() {
    static const std::vector<DbGroup> groups = {
        {"1", {"e13bA04.db", "e13bB04.db"}},
        {"2", {"ocraeb204.db"}},
        {"3, 4, 5, 38, 39, 204, 205", {"ocrbA04.db"}},
        {"9, 10, 11, 12",
         {"ocrbA04.db", "ocrbB04.db", "ocrbC04.db", "courier04.db", "arial04.db", "arialcor04.db",
          "serifabt204.db", "serifabt404.db"}},
        {"35, 40, 41, 935-943", {"microC04.db"}},
        {"202", {"cmc7aa04.db", "cmc7ab04.db"}},
        {"944",
         {"ABIImpA04.db", "ABIBenA04.db", "ocrbA04.db", "arial04.db", "arialnum04.db",
          "courier04.db", "IBMgotA04.db", "V3RIDFS04.db", "calibriA04.db"}},
        {"945",
         {"ABIBenA04.db", "ocrbA04.db", "arial04.db", "arialnum04.db", "courier04.db",
          "IBMgotA04.db", "V3RIDFS04.db", "calibriA04.db"}},
    };
    return groups;
}

}  // namespace kovran::mkdb
