// The black-box corpus of the 2-D readers: symbols from libdmtx and zint at
// several module sizes and degradation levels, with the least read count
// each level must keep and no misread at any level; and sets that must not
// decode at all.
#include <ZXing/ReadBarcode.h>
#include <dmtx.h>
#include <gtest/gtest.h>
#include <zint.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "decoders/datamatrix/reader.h"
#include "imaging/mat_adapter.h"
#include "symbol_images.h"

namespace kovran::decoders::datamatrix {
namespace {

struct Sample {
    std::string name;
    imaging::ImageBuffer zone;
    std::string expected;  // empty: must not decode
};

struct Level {
    explicit Level(std::string n) : name(std::move(n)) {}
    std::string name;
    std::vector<Sample> samples;
    int leastRead = 0;
};

struct Tally {
    int read = 0;
    int misread = 0;
    int notRead = 0;
};

using Reader = std::function<int(const imaging::ConstImageView*, char*, int*)>;

Tally Run(const Level& level, const Reader& reader, std::vector<std::string>* misreads) {
    Tally tally;
    for (const Sample& s : level.samples) {
        char text[2048];
        int length = sizeof text;
        const imaging::ConstImageView view = s.zone.View();
        const int n = reader(&view, text, &length);
        const std::string got = n > 0 ? std::string(text, n) : std::string();
        if (n > 0 && got == s.expected) {
            ++tally.read;
        } else if (n > 0 || n < 0) {
            ++tally.misread;
            misreads->push_back(level.name + "/" + s.name + ": \"" + got + "\"");
        } else {
            ++tally.notRead;
            if (std::getenv("KOVRAN_CORPUS_VERBOSE") && !s.expected.empty())
                std::printf("  not read: %s/%s\n", level.name.c_str(), s.name.c_str());
        }
    }
    return tally;
}

// With KOVRAN_CORPUS_PEERS set, the same levels are also read by peer
// readers and their tallies printed beside ours (nothing is asserted).
void PrintPeers(const std::vector<Level>& levels,
                const std::vector<std::pair<std::string, Reader>>& peers) {
    if (!std::getenv("KOVRAN_CORPUS_PEERS")) return;
    for (const auto& [name, reader] : peers) {
        for (const Level& level : levels) {
            std::vector<std::string> misreads;
            const Tally t = Run(level, reader, &misreads);
            std::printf("  peer %-12s %-22s read %3d  misread %d  not read %3d\n", name.c_str(),
                        level.name.c_str(), t.read, t.misread, t.notRead);
            for (const std::string& m : misreads) std::printf("    misread %s\n", m.c_str());
        }
    }
}

void Check(const std::string& symbology, const std::vector<Level>& levels, const Reader& reader) {
    for (const Level& level : levels) {
        std::vector<std::string> misreads;
        const Tally t = Run(level, reader, &misreads);
        std::printf("%-11s %-22s read %3d  misread %d  not read %3d  of %3zu (least %d)\n",
                    symbology.c_str(), level.name.c_str(), t.read, t.misread, t.notRead,
                    level.samples.size(), level.leastRead);
        EXPECT_EQ(t.misread, 0) << level.name;
        for (const std::string& m : misreads) ADD_FAILURE() << "misread " << m;
        EXPECT_GE(t.read, level.leastRead) << level.name;
    }
}

std::string Payload(std::mt19937& random, int length) {
    static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghij-/;=";
    std::string s;
    for (int i = 0; i < length; ++i) s.push_back(kChars[random() % (sizeof kChars - 1)]);
    return s;
}

struct Symbol {
    std::string name;
    test::ModuleGrid grid;
    std::string text;
    int capacityModules = 0;  // modules that may be flipped and still read
};

std::vector<Symbol> DataMatrixSymbols() {
    std::mt19937 random(11);
    std::vector<Symbol> symbols;
    const struct {
        int size;
        int length;
        const char* name;
    } kSizes[] = {{DmtxSymbol10x10, 3, "10x10"},   {DmtxSymbol14x14, 7, "14x14"},
                  {DmtxSymbol18x18, 15, "18x18"},  {DmtxSymbol24x24, 30, "24x24"},
                  {DmtxSymbol32x32, 50, "32x32"},  {DmtxSymbol44x44, 120, "44x44"},
                  {DmtxSymbol52x52, 180, "52x52"}, {DmtxSymbol8x18, 4, "8x18"},
                  {DmtxSymbol12x36, 18, "12x36"},  {DmtxSymbol16x48, 40, "16x48"}};
    for (const auto& s : kSizes) {
        const std::string text = Payload(random, s.length);
        auto grid = test::EncodeWithDmtx(text, s.size);
        EXPECT_TRUE(grid) << s.name;
        if (grid) symbols.push_back({std::string("dmtx ") + s.name, *grid, text});
    }
    // zint picks its own size and encodation.
    for (int length : {12, 26, 60}) {
        const std::string text = Payload(random, length);
        auto grid = test::EncodeWithZint(BARCODE_DATAMATRIX, text);
        EXPECT_TRUE(grid);
        if (grid)
            symbols.push_back(
                {"zint " + std::to_string(grid->rows) + "x" + std::to_string(grid->columns), *grid,
                 text});
    }
    return symbols;
}

// Inverts a square of side `side` modules inside the data area.
test::ModuleGrid Blot(test::ModuleGrid grid, int side, int row, int column) {
    for (int r = row; r < row + side && r < grid.rows - 1; ++r)
        for (int c = column; c < column + side && c < grid.columns - 1; ++c) grid.Flip(r, c);
    return grid;
}

imaging::ImageBuffer FromMat(const cv::Mat& mat) {
    imaging::ImageBuffer buffer = imaging::ImageBuffer::CopyOf(imaging::ToView(mat, {300, 300}));
    return buffer;
}

int ReturnPeer(const std::optional<std::string>& decoded, char* text, int* length) {
    if (!decoded || decoded->empty()) return 0;
    return ReturnText(*decoded, text, length);
}

int ZxingRead(const imaging::ConstImageView* zone, char* text, int* length,
              ZXing::BarcodeFormats formats) {
    const ZXing::ImageView image(zone->Data(), zone->Width(), zone->Height(),
                                 ZXing::ImageFormat::Lum, static_cast<int>(zone->Stride()));
    ZXing::DecodeHints hints;
    hints.setFormats(formats);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    const ZXing::Result result = ZXing::ReadBarcode(image, hints);
    if (!result.isValid()) return 0;
    return ReturnPeer(std::string(result.bytes().begin(), result.bytes().end()), text, length);
}

int LibdmtxRead(const imaging::ConstImageView* zone, char* text, int* length) {
    imaging::ImageBuffer packed = imaging::ImageBuffer::CopyOf(*zone);
    DmtxImage* image =
        dmtxImageCreate(packed.Data(), packed.Width(), packed.Height(), DmtxPack8bppK);
    if (!image) return 0;
    DmtxDecode* decode = dmtxDecodeCreate(image, 1);
    std::optional<std::string> decoded;
    if (decode) {
        // One region, as our reader reads one symbol per zone.
        DmtxRegion* region = dmtxRegionFindNext(decode, nullptr);
        if (region) {
            DmtxMessage* message = dmtxDecodeMatrixRegion(decode, region, DmtxUndefined);
            if (message) {
                decoded =
                    std::string(reinterpret_cast<const char*>(message->output), message->outputIdx);
                dmtxMessageDestroy(&message);
            }
            dmtxRegionDestroy(&region);
        }
        dmtxDecodeDestroy(&decode);
    }
    dmtxImageDestroy(&image);
    return ReturnPeer(decoded, text, length);
}

int DecodeDataMatrix(const imaging::ConstImageView* zone, char* text, int* length) {
    return KDataMatrixDecode(zone, text, length);
}

int DecodeQr(const imaging::ConstImageView* zone, char* text, int* length) {
    return KQrCodeDecode(zone, text, length);
}

std::vector<Level> DataMatrixLevels() {
    const std::vector<Symbol> symbols = DataMatrixSymbols();
    std::vector<Level> levels;
    Level clean{"clean"}, mild{"blur+noise+skew"}, turned{"turned 90/180/30/45"},
        small{"small modules (4 px)"}, damaged{"damaged within ECC"}, beyond{"beyond ECC or cut"};
    Level resolutions{"600 and 200 dpi"};
    int seed = 1;
    for (const Symbol& s : symbols) {
        for (double module : {5.0, 7.0, 9.5})
            clean.samples.push_back({s.name, test::Render(s.grid, {.moduleSize = module}), s.text});
        small.samples.push_back(
            {s.name, test::Render(s.grid, {.moduleSize = 4, .blurSigma = 0.6}), s.text});
        for (double angle : {-3.0, 2.0})
            mild.samples.push_back(
                {s.name,
                 test::Render(s.grid, {.moduleSize = 7,
                                       .angleDegrees = angle,
                                       .blurSigma = 1.2,
                                       .noiseSigma = 10,
                                       .seed = static_cast<std::uint64_t>(seed++)}),
                 s.text});
        for (const auto& [dpi, module] : {std::pair{600, 12.0}, std::pair{200, 5.0}})
            resolutions.samples.push_back(
                {s.name + " " + std::to_string(dpi),
                 test::Render(s.grid,
                              {.moduleSize = module, .blurSigma = module / 8, .resolution = dpi}),
                 s.text});
        for (int turns : {1, 2})
            turned.samples.push_back(
                {s.name + " turned " + std::to_string(90 * turns),
                 test::Render(s.grid, {.moduleSize = 7, .quarterTurns = turns, .blurSigma = 0.8}),
                 s.text});
        for (double angle : {30.0, 45.0})
            turned.samples.push_back(
                {s.name + " at " + std::to_string(static_cast<int>(angle)),
                 test::Render(s.grid, {.moduleSize = 7, .angleDegrees = angle, .blurSigma = 0.8}),
                 s.text});
        // A 2 x 2 blot spoils at most four codewords, within the correction
        // of every size from 14 x 14 up.
        if (s.grid.rows >= 14)
            damaged.samples.push_back(
                {s.name,
                 test::Render(Blot(s.grid, 2, s.grid.rows / 2, s.grid.columns / 2),
                              {.moduleSize = 7, .blurSigma = 0.8}),
                 s.text});
        // Cut by the zone edge through the middle of the symbol.
        {
            const imaging::ImageBuffer whole =
                test::Render(s.grid, {.moduleSize = 7, .blurSigma = 0.8});
            const imaging::ConstImageView cut =
                whole.View().Crop(0, 0, whole.Width() / 2, whole.Height());
            beyond.samples.push_back({s.name + " cut", imaging::ImageBuffer::CopyOf(cut), ""});
        }
        // Half the symbol inverted: far beyond any correction.
        beyond.samples.push_back(
            {s.name,
             test::Render(Blot(s.grid, std::max(s.grid.rows, s.grid.columns) / 2 + 1, 1, 1),
                          {.moduleSize = 7, .blurSigma = 0.8}),
             ""});
    }
    Level noise{"noise and blank"};
    for (std::uint64_t seed2 = 1; seed2 <= 4; ++seed2)
        noise.samples.push_back({"noise", test::NoiseImage(300, 260, seed2), ""});
    noise.samples.push_back({"white", imaging::ImageBuffer(200, 200, 1, 230, {300, 300}), ""});
    noise.samples.push_back({"black", imaging::ImageBuffer(200, 200, 1, 20, {300, 300}), ""});
    // Printed text is not a symbol.
    cv::Mat words(220, 600, CV_8UC1, cv::Scalar(230));
    for (int line = 0; line < 5; ++line)
        cv::putText(words, "PAY 1234,56 EUR KOVRAN " + std::to_string(line),
                    cv::Point(10, 40 + 40 * line), cv::FONT_HERSHEY_SIMPLEX, 1.0, cv::Scalar(30),
                    2);
    noise.samples.push_back({"text", FromMat(words), ""});
    // QR symbols are not DataMatrix.
    const auto qr = test::EncodeWithZint(BARCODE_QRCODE, "0123456789 not a datamatrix");
    noise.samples.push_back({"qr", test::Render(*qr, {.moduleSize = 6}), ""});

    // The least read counts measured when the corpus was recorded. The
    // symbols not read: 10 x 10 at 5 px and 10 x 10 and 8 x 18 at 4 px
    // merge into blobs below the least candidate area (R x 4096 / 300).
    clean.leastRead = 38;
    small.leastRead = 11;
    mild.leastRead = 26;
    resolutions.leastRead = 26;
    turned.leastRead = 49;
    damaged.leastRead = 10;
    levels = {clean, small, mild, resolutions, turned, damaged, beyond, noise};
    return levels;
}

TEST(SymbolCorpus, DataMatrix) {
    const std::vector<Level> levels = DataMatrixLevels();
    Check("DataMatrix", levels, DecodeDataMatrix);
    PrintPeers(levels, {{"zxing-cpp",
                         [](const imaging::ConstImageView* z, char* t, int* l) {
                             return ZxingRead(z, t, l, ZXing::BarcodeFormat::DataMatrix);
                         }},
                        {"libdmtx", LibdmtxRead}});
}

TEST(SymbolCorpus, QrCode) {
    std::mt19937 random(5);
    Level clean{"clean"}, mild{"blur+noise+skew"}, turned{"turned 90/180"},
        beyond{"damaged beyond ECC"};
    int seed = 1;
    for (int version : {1, 3, 6, 10}) {
        const std::string text = Payload(random, version * 8);
        const auto grid = test::EncodeWithZint(BARCODE_QRCODE, text, version);
        ASSERT_TRUE(grid);
        for (double module : {3.0, 5.0})
            clean.samples.push_back(
                {"qr", test::Render(*grid, {.moduleSize = module, .quietModules = 4}), text});
        mild.samples.push_back({"qr",
                                test::Render(*grid, {.moduleSize = 5,
                                                     .quietModules = 4,
                                                     .angleDegrees = 3,
                                                     .blurSigma = 1.0,
                                                     .noiseSigma = 10,
                                                     .seed = static_cast<std::uint64_t>(seed++)}),
                                text});
        for (int turns : {1, 2})
            turned.samples.push_back(
                {"qr",
                 test::Render(*grid, {.moduleSize = 5, .quietModules = 4, .quarterTurns = turns}),
                 text});
        beyond.samples.push_back(
            {"qr",
             test::Render(Blot(*grid, grid->rows / 2, grid->rows / 4, grid->columns / 4),
                          {.moduleSize = 5, .quietModules = 4}),
             ""});
    }
    for (const auto& [version, text] :
         {std::pair<int, std::string>{2, "12345678"}, {4, "MICRO QR 0042"}}) {
        const auto grid = test::EncodeWithZint(BARCODE_MICROQR, text, version);
        ASSERT_TRUE(grid);
        clean.samples.push_back(
            {"microqr", test::Render(*grid, {.moduleSize = 5, .quietModules = 2}), text});
        mild.samples.push_back({"microqr",
                                test::Render(*grid, {.moduleSize = 5,
                                                     .quietModules = 2,
                                                     .angleDegrees = -2,
                                                     .blurSigma = 0.8,
                                                     .noiseSigma = 8,
                                                     .seed = static_cast<std::uint64_t>(seed++)}),
                                text});
    }
    Level noise{"noise and blank"};
    for (std::uint64_t s = 1; s <= 3; ++s)
        noise.samples.push_back({"noise", test::NoiseImage(300, 260, s), ""});
    noise.samples.push_back({"white", imaging::ImageBuffer(200, 200, 1, 230, {300, 300}), ""});
    clean.leastRead = 10;
    mild.leastRead = 5;
    turned.leastRead = 8;
    const std::vector<Level> levels{clean, mild, turned, beyond, noise};
    Check("QR code", levels, DecodeQr);
    PrintPeers(levels, {{"zxing-cpp", [](const imaging::ConstImageView* z, char* t, int* l) {
                             return ZxingRead(
                                 z, t, l,
                                 ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::MicroQRCode);
                         }}});
}

}  // namespace
}  // namespace kovran::decoders::datamatrix
