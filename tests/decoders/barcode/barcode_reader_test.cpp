// The reader on zone images: zint's symbols rendered with scan degradations.
#include "decoders/barcode/barcode_reader.h"

#include <zint.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "KovranMS.h"
#include "api/frame_state.h"
#include "decoders/barcode/symbology.h"
#include "symbol_images.h"

namespace kovran::decoders::barcode {
namespace {

using testing::Degradation;
using testing::RenderSymbol;
using testing::ZintModules;

struct Read {
    int count = 0;
    BarcodeReading reading;
    BarcodeState state;
};

Read ReadZone(imaging::ConstImageView zone, int font, BarcodeSettings settings = {},
              int maxChars = 100) {
    Read r;
    r.state.lastSymbology = 99;  // the reader must write it
    r.count = ReadBarcodes(zone, font, maxChars, settings, r.state, r.reading);
    EXPECT_EQ(r.count, static_cast<int>(r.reading.text.size()));
    EXPECT_EQ(r.reading.confidence.size(), r.reading.text.size());
    EXPECT_EQ(r.reading.boxes.size(), r.reading.text.size());
    for (std::uint8_t c : r.reading.confidence) {
        EXPECT_GE(c, 1);
        EXPECT_LE(c, 100);
    }
    return r;
}

struct Symbol {
    const char* name;
    int zint;
    std::string data;
    int option2;
    Symbology symbology;
    std::string expected;
};

std::vector<Symbol> Symbols() {
    return {
        {"code39", BARCODE_CODE39, "KVX-2024", 1, Symbology::Code39, "KVX-2024%"},
        {"itf", BARCODE_C25INTER, "0123456789", 1, Symbology::Interleaved2of5, ""},
        {"code93", BARCODE_CODE93, "CHEQUE 93", 0, Symbology::Code93, "CHEQUE 93"},
        {"code128", BARCODE_CODE128, "Kovran 128-0042", 0, Symbology::Code128, "Kovran 128-0042"},
        {"codabar", BARCODE_CODABAR, "A1234567B", 1, Symbology::Codabar, ""},
        {"upca", BARCODE_UPCA, "03600029145", 0, Symbology::UpcA, "036000291452"},
        {"upce", BARCODE_UPCE, "0123456", 0, Symbology::UpcE, "01234565"},
        {"ean8", BARCODE_EANX, "9638507", 0, Symbology::Ean8, "96385074"},
        {"ean13", BARCODE_EANX, "400638133393", 0, Symbology::Ean13, "4006381333931"},
    };
}

// Where the expected text is empty, zint's human-readable text (with the
// check digit it adds) is; Codabar's check character is zint's and only the
// data part is ours to know.
bool Matches(const Symbol& s, const std::string& text) {
    if (s.symbology == Symbology::Codabar)
        return text.size() == 8 && text.substr(0, 7) == "1234567";
    if (s.expected.empty()) return text == testing::ZintText(s.zint, s.data, s.option2);
    return text == s.expected;
}

TEST(BarcodeReader, ReadsEverySymbologyWithFontSevenAndItsOwnFont) {
    for (const Symbol& s : Symbols()) {
        SCOPED_TRACE(s.name);
        const auto modules = ZintModules(s.zint, s.data, s.option2);
        const auto image = RenderSymbol(modules, {.modulePixels = 3.0});
        const int index = static_cast<int>(s.symbology);
        for (int font : {kFontAllBarcodes, kFontFirstBarcode + index}) {
            const Read r = ReadZone(image.View(), font);
            ASSERT_TRUE(Matches(s, r.reading.text)) << "font " << font << ": " << r.reading.text;
            EXPECT_EQ(r.state.lastSymbology, index);
            const CharBox& box = r.reading.boxes.front();
            EXPECT_EQ(box.values[kBoxSymbology], index);
            EXPECT_EQ(box.values[kBoxReversed] & 0xFF, 0);
            EXPECT_EQ(box.values[kBoxVerified] & 0xFF, 1);
            // The box covers the bars: the symbol is centred in the zone.
            const double symbolPixels = static_cast<double>(modules.size()) * 3.0;
            const double left = (image.Width() - symbolPixels) / 2.0;
            EXPECT_NEAR(box.Left(), left, 3.0);
            EXPECT_NEAR(box.Right(), left + symbolPixels, 3.0);
            EXPECT_EQ(box.Top(), 0);
            EXPECT_GT(box.Bottom(), 0);
            for (const CharBox& b : r.reading.boxes) EXPECT_EQ(b.values[1], box.values[1]);
            // A clean symbol read in many bands reaches full confidence.
            EXPECT_EQ(*std::min_element(r.reading.confidence.begin(), r.reading.confidence.end()),
                      100);
        }
        // Another symbology's font reads nothing.
        const int otherFont = kFontFirstBarcode + (s.symbology == Symbology::Code128 ? 0 : 4);
        EXPECT_EQ(ReadZone(image.View(), otherFont).count, 0);
    }
}

TEST(BarcodeReader, FontsWithoutDecoderReadNothing) {
    const auto image = RenderSymbol(ZintModules(BARCODE_CODE128, "ABC123"), {});
    for (int font : {302, 305, 299, 311, 0, 8, 36})
        EXPECT_EQ(ReadZone(image.View(), font).count, 0) << font;
    EXPECT_EQ(ReadZone(image.View(), kFontAllBarcodes).reading.text, "ABC123");
}

TEST(BarcodeReader, Code39CheckLevels) {
    // With its mod 43 character the reading is verified; without, every band
    // earns the unverified level and the sum stops at 90.
    const auto checked = RenderSymbol(ZintModules(BARCODE_CODE39, "CHECK39", 1), {});
    const Read v = ReadZone(checked.View(), 300);
    ASSERT_EQ(v.reading.text, "CHECK391");
    EXPECT_EQ(v.reading.boxes[0].values[kBoxVerified], 1);
    EXPECT_EQ(v.reading.confidence[0], 100);

    const auto plain = RenderSymbol(ZintModules(BARCODE_CODE39, "CHECK39"), {});
    const Read u = ReadZone(plain.View(), 300);
    ASSERT_EQ(u.reading.text, "CHECK39");
    EXPECT_EQ(u.reading.boxes[0].values[kBoxVerified], 0);
    EXPECT_EQ(u.reading.confidence[0], 90);
    EXPECT_EQ(u.state.lastSymbology, 0);
}

TEST(BarcodeReader, Ean13WithAWrongCheckDigitReadsNothing) {
    // The check digit's modules come from a symbol whose twelfth digit
    // differs, so the last digit no longer checks.
    auto good = ZintModules(BARCODE_EANX, "400638133393");
    const auto other = ZintModules(BARCODE_EANX, "400638133394");
    ASSERT_EQ(good.size(), other.size());
    std::vector<bool> wrong = good;
    std::copy(other.end() - 10, other.end() - 3, wrong.end() - 10);
    ASSERT_NE(wrong, good);
    const auto image = RenderSymbol(wrong, {});
    for (int font : {kFontAllBarcodes, 310, 307}) {
        const Read r = ReadZone(image.View(), font);
        EXPECT_EQ(r.count, 0) << font << ": " << r.reading.text;
        EXPECT_EQ(r.state.lastSymbology, kNoSymbologyRead);
    }
    EXPECT_EQ(ReadZone(RenderSymbol(good, {}).View(), 310).reading.text, "4006381333931");
}

TEST(BarcodeReader, PharmaceuticalTranscoding) {
    const std::string human = testing::ZintText(BARCODE_CODE32, "01234567");  // "A" + 9 digits
    ASSERT_EQ(human.size(), 10u);
    const auto image = RenderSymbol(ZintModules(BARCODE_CODE32, "01234567"), {});
    const Read plain = ReadZone(image.View(), kFontAllBarcodes);
    ASSERT_EQ(plain.reading.text.size(), 6u) << plain.reading.text;
    const Read pharma = ReadZone(image.View(), kFontAllBarcodes, {.pharmaceutical = true});
    EXPECT_EQ(pharma.reading.text, human.substr(1));
    EXPECT_EQ(pharma.reading.text[0], '0');  // leading zeros kept
    EXPECT_EQ(pharma.state.lastSymbology, 0);

    // Six Code 39 characters outside the base-32 digits: nothing.
    const auto vowels = RenderSymbol(ZintModules(BARCODE_CODE39, "AEIOU0"), {});
    EXPECT_EQ(ReadZone(vowels.View(), 300, {.pharmaceutical = true}).count, 0);
    EXPECT_EQ(ReadZone(vowels.View(), 300).reading.text, "AEIOU0");
}

TEST(BarcodeReader, MirroredSymbolsNeedBarcodeMirror) {
    for (const Symbol& s : Symbols()) {
        if (s.symbology == Symbology::Codabar) continue;  // its patterns mirror into others
        SCOPED_TRACE(s.name);
        auto modules = ZintModules(s.zint, s.data, s.option2);
        std::reverse(modules.begin(), modules.end());
        const auto image = RenderSymbol(modules, {});
        const Read off = ReadZone(image.View(), kFontAllBarcodes);
        EXPECT_EQ(off.count, 0) << off.reading.text;
        const Read on = ReadZone(image.View(), kFontAllBarcodes, {.mirror = true});
        EXPECT_TRUE(Matches(s, on.reading.text)) << on.reading.text;
        if (on.count > 0) {
            EXPECT_EQ(on.reading.boxes[0].values[kBoxReversed], 1);
        }
    }
    // Upside down, a symbol gives the same reversed bars.
    const auto upright = RenderSymbol(ZintModules(BARCODE_CODE128, "UPSIDE"), {.noiseSigma = 6});
    imaging::ImageBuffer turned(upright.Width(), upright.Height(), 1, 0, upright.Res());
    for (int y = 0; y < upright.Height(); ++y)
        for (int x = 0; x < upright.Width(); ++x)
            turned.At(upright.Width() - 1 - x, upright.Height() - 1 - y) = upright.At(x, y);
    EXPECT_EQ(ReadZone(turned.View(), kFontAllBarcodes).count, 0);
    EXPECT_EQ(ReadZone(turned.View(), kFontAllBarcodes, {.mirror = true}).reading.text, "UPSIDE");

    // A symbol printed the right way round is read forwards even with the
    // option on.
    const auto image = RenderSymbol(ZintModules(BARCODE_CODE128, "FORWARD"), {});
    const Read r = ReadZone(image.View(), kFontAllBarcodes, {.mirror = true});
    EXPECT_EQ(r.reading.text, "FORWARD");
    EXPECT_EQ(r.reading.boxes[0].values[kBoxReversed], 0);
}

TEST(BarcodeReader, ZonesWithoutABarcodeReadNothing) {
    const imaging::Resolution dpi{300, 300};
    auto expectNothing = [](imaging::ConstImageView zone, const char* what) {
        const Read r = ReadZone(zone, kFontAllBarcodes);
        EXPECT_EQ(r.count, 0) << what << ": " << r.reading.text;
        EXPECT_EQ(r.state.lastSymbology, kNoSymbologyRead) << what;
    };
    expectNothing(imaging::ConstImageView(nullptr, 0, 0, 0, 1, dpi), "0 x 0");
    imaging::ImageBuffer one(1, 1, 1, 0, dpi);
    expectNothing(one.View(), "1 x 1");
    imaging::ImageBuffer small(255, 90, 1, 255, dpi);  // narrower than r * 64 / 75
    expectNothing(small.View(), "too narrow");
    expectNothing(imaging::ImageBuffer(400, 90, 1, 0, dpi).View(), "all black");
    expectNothing(imaging::ImageBuffer(400, 90, 1, 255, dpi).View(), "all white");
    expectNothing(imaging::ImageBuffer(65535, 12, 1, 255, dpi).View(), "65535 wide");
    std::mt19937 rng(3);
    for (int round = 0; round < 5; ++round) {
        imaging::ImageBuffer noise(600, 120, 1, 0, dpi);
        for (int y = 0; y < noise.Height(); ++y)
            for (int x = 0; x < noise.Width(); ++x)
                noise.At(x, y) = static_cast<std::uint8_t>(rng());
        expectNothing(noise.View(), "noise");
        // Vertical stripes of random widths: a pattern that looks like bars.
        imaging::ImageBuffer stripes(600, 120, 1, 235, dpi);
        for (int x = 20; x < 580;) {
            const int w = 2 + static_cast<int>(rng() % 9);
            const bool bar = (rng() & 1) != 0;
            for (int xx = x; xx < std::min(580, x + w); ++xx)
                for (int y = 0; y < stripes.Height(); ++y)
                    if (bar) stripes.At(xx, y) = 20;
            x += w;
        }
        expectNothing(stripes.View(), "stripes");
    }
}

TEST(BarcodeReader, ZoneGeometryAndLimits) {
    const auto symbol = ZintModules(BARCODE_CODE128, "LIMITS 42");
    const auto image = RenderSymbol(symbol, {});
    // No resolution, no characters wanted: nothing.
    EXPECT_EQ(ReadZone(image.View().WithResolution({}), kFontAllBarcodes).count, 0);
    EXPECT_EQ(ReadZone(image.View().WithResolution({1e12, 1e12}), kFontAllBarcodes).count, 0);
    EXPECT_EQ(ReadZone(image.View().WithResolution({-300, 300}), kFontAllBarcodes).count, 0);
    EXPECT_EQ(ReadZone(image.View(), kFontAllBarcodes, {}, 0).count, 0);
    // More characters than wanted: nothing.
    EXPECT_EQ(ReadZone(image.View(), kFontAllBarcodes, {}, 8).count, 0);
    EXPECT_EQ(ReadZone(image.View(), kFontAllBarcodes, {}, 9).reading.text, "LIMITS 42");

    // The least width is r * 64 / 75: a small symbol of 130 pixels reads
    // only where they are at most 2 / 15 inch.
    const auto tiny =
        RenderSymbol(ZintModules(BARCODE_UPCE, "0123456"), {.modulePixels = 2.0}, 60, 7, 300, 0);
    ASSERT_LT(tiny.Width(), 256);
    ASSERT_GE(tiny.Width(), 128);
    EXPECT_EQ(ReadZone(tiny.View(), kFontAllBarcodes).count, 0);
    EXPECT_EQ(ReadZone(tiny.View().WithResolution({150, 150}), kFontAllBarcodes).reading.text,
              "01234565");

    // A view inside a wider buffer (stride larger than the width), with ink
    // right beside it: only the view is read.
    imaging::ImageBuffer wide(image.Width() + 40, image.Height(), 1, 0, image.Res());
    for (int y = 0; y < image.Height(); ++y)
        std::copy(image.Row(y), image.Row(y) + image.Width(), wide.Row(y) + 20);
    const auto inner = wide.View().Crop(20, 0, image.Width(), image.Height());
    EXPECT_EQ(ReadZone(inner, kFontAllBarcodes).reading.text, "LIMITS 42");

    // Leaning at 45 degrees, no band crosses every bar: nothing, and never
    // a wrong text.
    const auto leaning = RenderSymbol(symbol, {.skewDegrees = 45.0}, 120);
    const Read lean = ReadZone(leaning.View(), kFontAllBarcodes);
    EXPECT_TRUE(lean.count == 0 || lean.reading.text == "LIMITS 42") << lean.reading.text;

    // A symbol cut by the zone edge reads nothing.
    const auto cut = image.View().Crop(0, 0, image.Width() * 2 / 3, image.Height());
    EXPECT_EQ(ReadZone(cut, kFontAllBarcodes).count, 0);

    // The symbol at 65535 pixels' width of paper.
    const auto huge = RenderSymbol(symbol, {}, 24, 12, 300, 65535);
    ASSERT_EQ(huge.Width(), 65535);
    EXPECT_EQ(ReadZone(huge.View(), kFontAllBarcodes).reading.text, "LIMITS 42");

    // Two symbols side by side: both, left to right, one blank between.
    const auto a = RenderSymbol(ZintModules(BARCODE_CODE128, "LEFT"), {});
    const auto b = RenderSymbol(ZintModules(BARCODE_EANX, "400638133393"), {});
    imaging::ImageBuffer both(a.Width() + b.Width(), a.Height(), 1, 235, a.Res());
    for (int y = 0; y < a.Height(); ++y) {
        std::copy(a.Row(y), a.Row(y) + a.Width(), both.Row(y));
        std::copy(b.Row(y), b.Row(y) + b.Width(), both.Row(y) + a.Width());
    }
    const Read two = ReadZone(both.View(), kFontAllBarcodes);
    EXPECT_EQ(two.reading.text, "LEFT 4006381333931");
    EXPECT_EQ(two.state.lastSymbology, static_cast<int>(Symbology::Code128));
}

}  // namespace
}  // namespace kovran::decoders::barcode
