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

FaceSource Face(std::string family, std::string style, std::vector<std::string> paths) {
    return FaceSource{std::move(family), std::move(style), std::move(paths)};
}

const FaceSource kOcrA = Face("OCRA", "Medium", {kTrueType + "ocr-a/OCRA.ttf"});
const FaceSource kOcrABold = Face("OCRABold", "Bold", {kTrueType + "ocr-a/OCRABold.ttf"});
const FaceSource kOcrB = Face("OCR B", "Regular", {kOpenType + "ocr-b/OCRB.otf"});
const FaceSource kOcrBSharp = Face("OCR B S", "Regular", {kOpenType + "ocr-b/OCRBS.otf"});
const FaceSource kNimbusMono =
    Face("Nimbus Mono PS", "Regular",
         {kOpenType + "urw-base35/NimbusMonoPS-Regular.otf", kType1 + "NimbusMonoPS-Regular.pfb"});
const FaceSource kNimbusMonoBold =
    Face("Nimbus Mono PS", "Bold",
         {kOpenType + "urw-base35/NimbusMonoPS-Bold.otf", kType1 + "NimbusMonoPS-Bold.pfb"});
const FaceSource kLiberationSans = Face("Liberation Sans", "Regular",
                                        {kTrueType + "liberation2/LiberationSans-Regular.ttf",
                                         kTrueType + "liberation/LiberationSans-Regular.ttf"});
const FaceSource kLiberationSansBold = Face("Liberation Sans", "Bold",
                                            {kTrueType + "liberation2/LiberationSans-Bold.ttf",
                                             kTrueType + "liberation/LiberationSans-Bold.ttf"});
const FaceSource kLiberationSansItalic = Face("Liberation Sans", "Italic",
                                              {kTrueType + "liberation2/LiberationSans-Italic.ttf",
                                               kTrueType + "liberation/LiberationSans-Italic.ttf"});
const FaceSource kLiberationSansNarrow =
    Face("Liberation Sans Narrow", "Regular",
         {kTrueType + "liberation/LiberationSansNarrow-Regular.ttf"});
const FaceSource kLiberationSansNarrowBold = Face(
    "Liberation Sans Narrow", "Bold", {kTrueType + "liberation/LiberationSansNarrow-Bold.ttf"});
const FaceSource kLiberationMono =
    Face("Liberation Mono", "Regular", {kTrueType + "liberation/LiberationMono-Regular.ttf"});
const FaceSource kLiberationMonoBold =
    Face("Liberation Mono", "Bold", {kTrueType + "liberation/LiberationMono-Bold.ttf"});
const FaceSource kDejaVuSans = Face("DejaVu Sans", "Book", {kTrueType + "dejavu/DejaVuSans.ttf"});
const FaceSource kDejaVuSansBold =
    Face("DejaVu Sans", "Bold", {kTrueType + "dejavu/DejaVuSans-Bold.ttf"});
const FaceSource kDejaVuSansMono =
    Face("DejaVu Sans Mono", "Book", {kTrueType + "dejavu/DejaVuSansMono.ttf"});
const FaceSource kDejaVuSansMonoBold =
    Face("DejaVu Sans Mono", "Bold", {kTrueType + "dejavu/DejaVuSansMono-Bold.ttf"});
const FaceSource kDejaVuSerif =
    Face("DejaVu Serif", "Book", {kTrueType + "dejavu/DejaVuSerif.ttf"});
const FaceSource kDejaVuSerifBold =
    Face("DejaVu Serif", "Bold", {kTrueType + "dejavu/DejaVuSerif-Bold.ttf"});
const FaceSource kCarlito =
    Face("Carlito", "Regular", {kTrueType + "crosextra/Carlito-Regular.ttf"});
const FaceSource kCarlitoBold = Face("Carlito", "Bold", {kTrueType + "crosextra/Carlito-Bold.ttf"});

// Three models per character: the nominal rendering, a smaller and lighter
// one, and a larger and heavier one (print weight varies more than shape).
std::vector<FaceVariant> Weights(const FaceSource& f) {
    return {{f, {48, 128, 0}}, {f, {38, 176, 0}}, {f, {58, 80, 0}}};
}

// Two regular weights and the bold cut of the same family.
std::vector<FaceVariant> WithBold(const FaceSource& regular, const FaceSource& bold) {
    return {{regular, {48, 128, 0}}, {regular, {42, 160, 0}}, {bold, {52, 128, 0}}};
}

std::vector<FaceVariant> Emboldened(const FaceSource& f) {
    return {{f, {44, 128, 96}}, {f, {40, 128, 160}}, {f, {54, 96, 64}}};
}

// Print of the magnetic fonts: the stroke of real E13B print is up to about
// 0.12 mm heavier than the nominal design (toner spread fills the counters)
// and a little lighter on worn printers, its corners are rounded, and it is
// scanned at 150 to 300 dpi. The two files of a font split that range: A the
// nominal and light print, B the heavy print. Each variant is the whole
// outline grown or thinned, never its pieces, and sampled by area.
const std::vector<DataVariant> kE13bSetA = {
    {300, 0.0, 0.0},  {300, -0.03, 0.03}, {300, 0.03, 0.03}, {300, 0.06, 0.04},
    {240, 0.0, 0.03}, {240, 0.04, 0.04},  {200, 0.02, 0.03}, {150, 0.03, 0.04},
};
const std::vector<DataVariant> kE13bSetB = {
    {300, 0.09, 0.05}, {300, 0.12, 0.06}, {240, 0.09, 0.05},  {200, 0.06, 0.04},
    {200, 0.12, 0.06}, {150, 0.09, 0.05}, {250, -0.02, 0.02}, {300, 0.045, 0.02},
};
// CMC7 strokes stand 0.15 mm apart at the short gaps: growth beyond about
// 0.04 mm joins them, so the models keep to the range in which all seven
// strokes and their gap pattern stand. There are no models below 300 dpi:
// the recogniser scales every blob to 32 x 32 after binarising it at the
// scan's own resolution, and at 280 dpi and below a 0.15 mm gap is under
// 1.7 pixels, so the 50 % ink rule closes one gap or another in every
// character (tried at 150 to 280 dpi, growth -0.03 to 0 mm: no variant keeps
// seven strokes in any character). Such a model would be a merged blob that
// matches any merged character; scans of 100 to 240 dpi are left to the bar
// reader, which reads the grey column profile at half pixels.
// At 300 dpi a 0.15 mm stroke covers 1.8 pixels: where the scan's pixels
// fall on it decides whether it binarises two pixels wide or one, and the
// strokes of one character fall at different phases (their intervals are
// 3.5 and 5.9 pixels). The last variants of each file move the shape by a
// share of a pixel to hold those mixtures too.
const std::vector<DataVariant> kCmc7SetA = {
    {300, 0.0, 0.0},    {300, 0.03, 0.02},      {350, 0.0, 0.02},       {400, 0.015, 0.02},
    {300, 0.015, 0.03}, {300, 0.0, 0.02, 0.33}, {300, 0.0, 0.02, 0.67}, {300, 0.03, 0.02, 0.5},
};
const std::vector<DataVariant> kCmc7SetB = {
    {300, -0.015, 0.02}, {350, 0.03, 0.03},      {400, -0.01, 0.02},       {330, 0.02, 0.02},
    {320, 0.025, 0.03},  {300, 0.01, 0.02, 0.6}, {300, 0.015, 0.02, 0.33}, {350, 0.015, 0.02, 0.5},
};
const std::vector<DataVariant> kMicroVariants = {{300, 0.0}, {300, 0.04}, {300, -0.05}, {240, 0.0}};

DbSpec DataDb(std::string name, std::string chars, ocr::GlyphFamily family,
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

DbSpec FaceDb(std::string name, std::string chars, std::vector<FaceVariant> variants,
              std::string fonts, std::string source) {
    DbSpec d;
    d.name = std::move(name);
    d.chars = std::move(chars);
    d.faceVariants = std::move(variants);
    d.fonts = std::move(fonts);
    d.source = std::move(source);
    return d;
}

std::vector<DbSpec> MakeCatalogue() {
    using ocr::GlyphFamily;
    return {
        DataDb("e13bA04.db", kDigits + ":=<;", GlyphFamily::E13B, kE13bSetA, "1",
               "data/glyphs/e13b.txt, 150-300 dpi, light to nominal print, rounded corners"),
        DataDb("e13bB04.db", kDigits + ":=<;", GlyphFamily::E13B, kE13bSetB, "1",
               "data/glyphs/e13b.txt, 150-300 dpi, heavy print (+0.045 to +0.12 mm)"),
        FaceDb("ocraeb204.db", kDigits + "#*+,-./<>CPRUXZ]", WithBold(kOcrA, kOcrABold), "2",
               "OCR-A (fonts-ocr-a: OCRA, OCRABold)"),
        FaceDb("ocrbA04.db", kMultiFontWide, Weights(kOcrB),
               "3, 4, 5, 38, 39, 204, 205, 9-12, 944, 945", "OCR-B (fonts-ocr-b: OCRB)"),
        FaceDb("ocrbB04.db", kMultiFont, Emboldened(kOcrB), "9-12",
               "OCR-B (fonts-ocr-b: OCRB), emboldened"),
        FaceDb("ocrbC04.db", kMultiFont, Weights(kOcrBSharp), "9-12",
               "OCR-B Sharp (fonts-ocr-b: OCRBS)"),
        FaceDb("courier04.db", kMultiFontWide, WithBold(kNimbusMono, kNimbusMonoBold),
               "9-12, 944, 945", "Nimbus Mono PS (fonts-urw-base35), Courier clone"),
        FaceDb("arial04.db", kMultiFontWide, WithBold(kLiberationSans, kLiberationSansBold),
               "9-12, 944, 945", "Liberation Sans (Arial metrics)"),
        FaceDb("arialcor04.db", kMultiFont, Weights(kLiberationSansItalic), "9-12",
               "Liberation Sans Italic"),
        FaceDb("serifabt204.db", kMultiFont, Weights(kDejaVuSerif), "9-12",
               "DejaVu Serif (slab-like serifs)"),
        FaceDb("serifabt404.db", kMultiFont, Weights(kDejaVuSerifBold), "9-12",
               "DejaVu Serif Bold"),
        DataDb("microC04.db", kDigits + kUpper + "/@&*#'-,", GlyphFamily::Microperforation,
               kMicroVariants, "35, 40, 41, 935-943", "data/glyphs/microperf.txt"),
        DataDb("cmc7aa04.db", kDigits + ":;<=>", GlyphFamily::CMC7, kCmc7SetA, "202",
               "data/glyphs/cmc7.txt, 300-400 dpi, 0 to +0.03 mm"),
        DataDb("cmc7ab04.db", kDigits + ":;<=>", GlyphFamily::CMC7, kCmc7SetB, "202",
               "data/glyphs/cmc7.txt, 300-400 dpi, -0.015 to +0.03 mm"),
        FaceDb("ABIImpA04.db", kAmount, Emboldened(kDejaVuSansMonoBold), "944",
               "DejaVu Sans Mono Bold, emboldened (cheque-writer amounts)"),
        FaceDb("ABIBenA04.db", kBeneficiary, Weights(kDejaVuSansMono), "944, 945",
               "DejaVu Sans Mono (printed beneficiaries)"),
        FaceDb("arialnum04.db", kBeneficiary,
               WithBold(kLiberationSansNarrow, kLiberationSansNarrowBold), "944, 945",
               "Liberation Sans Narrow (Arial Narrow metrics)"),
        FaceDb("IBMgotA04.db", kBeneficiary, WithBold(kLiberationMono, kLiberationMonoBold),
               "944, 945", "Liberation Mono Regular and Bold (monospaced gothic)"),
        FaceDb("V3RIDFS04.db", kBeneficiary, WithBold(kDejaVuSans, kDejaVuSansBold), "944, 945",
               "DejaVu Sans"),
        FaceDb("calibriA04.db", kBeneficiary, WithBold(kCarlito, kCarlitoBold), "944, 945",
               "Carlito (Calibri metrics)"),
    };
}

}  // namespace

const std::vector<DbSpec>& DatabaseCatalogue() {
    static const std::vector<DbSpec> catalogue = MakeCatalogue();
    return catalogue;
}

const std::vector<DbGroup>& DatabaseGroups() {
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
