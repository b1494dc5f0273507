// Read rates on degraded symbols, in the manner of a black-box corpus: for
// each symbology and degradation level, zint encodes random data, the symbol
// is rendered as a scan with that level's degradations, and the reader's
// text is counted as read, misread or not read. A level fails when its read
// count drops below the recorded minimum, and any misread fails at once.
#include <zint.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "decoders/barcode/barcode_reader.h"
#include "decoders/barcode/symbology.h"
#include "symbol_images.h"

namespace kovran::decoders::barcode {
namespace {

using testing::Degradation;

struct Level {
    const char* name;
    Degradation degradation;
};

// Scans from clean to poor: smaller modules at fractional pixel pitch, more
// blur, more noise, more lean, less contrast.
std::vector<Level> Levels(unsigned seed) {
    return {
        {"clean", {.modulePixels = 3.0, .seed = seed}},
        {"mild",
         {.modulePixels = 2.6,
          .blurSigma = 0.7,
          .noiseSigma = 8,
          .skewDegrees = 1.0,
          .seed = seed}},
        {"moderate",
         {.modulePixels = 2.3,
          .blurSigma = 1.0,
          .noiseSigma = 14,
          .skewDegrees = 2.0,
          .ink = 60,
          .paper = 210,
          .seed = seed}},
        {"spotted",
         {.modulePixels = 3.0, .blurSigma = 0.6, .noiseSigma = 8, .spots = 20, .seed = seed}},
        {"poor",
         {.modulePixels = 2.5,
          .blurSigma = 1.1,
          .noiseSigma = 20,
          .skewDegrees = 3.0,
          .ink = 80,
          .paper = 190,
          .seed = seed}},
    };
}

struct Sample {
    int zint;
    std::string data;
    int option2;
    std::string expected;
};

std::string Random(std::mt19937& rng, const std::string& alphabet, int length) {
    std::string s;
    for (int i = 0; i < length; ++i) s.push_back(alphabet[rng() % alphabet.size()]);
    return s;
}

// A random symbol of the symbology and the text the reader must give.
Sample MakeSample(Symbology symbology, std::mt19937& rng) {
    const std::string digits = "0123456789";
    auto zintText = [](int zint, const std::string& data, int option2) {
        std::string t = testing::ZintText(zint, data, option2);
        if (zint == BARCODE_CODE39) t = t.substr(1, t.size() - 2);  // without the '*'
        return t;
    };
    const int length = 6 + static_cast<int>(rng() % 5);
    Sample s;
    switch (symbology) {
        case Symbology::Code39:
            s = {BARCODE_CODE39, Random(rng, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%", length),
                 1, ""};
            break;
        case Symbology::Interleaved2of5:
            s = {BARCODE_C25INTER, Random(rng, digits, length + 2), 1, ""};
            break;
        case Symbology::Code93:
        case Symbology::Code128: {
            std::string ascii;
            for (int c = 32; c < 127; ++c) ascii.push_back(static_cast<char>(c));
            s = {symbology == Symbology::Code93 ? BARCODE_CODE93 : BARCODE_CODE128,
                 Random(rng, ascii, length), 0, ""};
            break;
        }
        case Symbology::Codabar: {
            const std::string data = Random(rng, digits + "-$:/.+", length);
            s = {BARCODE_CODABAR, "A" + data + "B", 1, data};  // + zint's check character
            return s;
        }
        case Symbology::UpcA:
            s = {BARCODE_UPCA, Random(rng, digits, 11), 0, ""};
            break;
        case Symbology::UpcE:
            s = {BARCODE_UPCE, "0" + Random(rng, digits, 5) + Random(rng, "012", 1), 0, ""};
            break;
        case Symbology::Ean8:
            s = {BARCODE_EANX, Random(rng, digits, 7), 0, ""};
            break;
        case Symbology::Ean13:
            s = {BARCODE_EANX, "1" + Random(rng, digits, 11), 0, ""};
            break;
    }
    s.expected = zintText(s.zint, s.data, s.option2);
    return s;
}

bool IsExpected(Symbology symbology, const Sample& s, const std::string& text) {
    if (symbology == Symbology::Codabar)
        return text.size() == s.expected.size() + 1 &&
               text.compare(0, s.expected.size(), s.expected) == 0;
    return text == s.expected;
}

constexpr int kSamples = 20;
constexpr const char* kNames[] = {
    "Code 39", "Interleaved 2 of 5", "Code 128", "Codabar", "Code 93", "EAN-8", "UPC-A", "EAN-13",
    "UPC-E"};

// The least read count (of kSamples) per symbology (rows, in kDecodeOrder)
// and level (columns), recorded from the measured rates with a margin.
constexpr int kMinRead[9][5] = {
    {20, 20, 18, 18, 16},  // Code 39
    {20, 20, 18, 18, 16},  // Interleaved 2 of 5
    {20, 20, 18, 18, 16},  // Code 128
    {20, 20, 18, 18, 5},   // Codabar
    {20, 20, 18, 18, 13},  // Code 93
    {20, 20, 18, 18, 16},  // EAN-8
    {20, 20, 18, 18, 16},  // UPC-A
    {20, 20, 16, 18, 16},  // EAN-13
    {20, 20, 18, 18, 14},  // UPC-E
};

TEST(BarcodeReadRates, DegradedSymbolsReadWithoutMisreads) {
    std::printf("%-20s %-9s %5s %8s %8s\n", "symbology", "level", "read", "misread", "notread");
    for (std::size_t si = 0; si < std::size(kDecodeOrder); ++si) {
        const Symbology symbology = kDecodeOrder[si];
        std::mt19937 rng(static_cast<unsigned>(100 + si));
        std::vector<Sample> samples;
        for (int i = 0; i < kSamples; ++i) samples.push_back(MakeSample(symbology, rng));
        for (std::size_t li = 0; li < std::size(kMinRead[0]); ++li) {
            int read = 0;
            int misread = 0;
            for (int i = 0; i < kSamples; ++i) {
                const Sample& s = samples[static_cast<std::size_t>(i)];
                const Level level = Levels(static_cast<unsigned>(i + 1))[li];
                const auto image = testing::RenderSymbol(
                    testing::ZintModules(s.zint, s.data, s.option2), level.degradation, 100);
                BarcodeState state;
                BarcodeReading reading;
                ReadBarcodes(image.View(), kFontAllBarcodes, 100, {}, state, reading);
                if (reading.text.empty()) continue;
                if (IsExpected(symbology, s, reading.text)) {
                    ++read;
                } else {
                    ++misread;
                    ADD_FAILURE() << "misread " << reading.text << " for " << s.expected
                                  << " at level " << level.name;
                }
            }
            std::printf("%-20s %-9s %5d %8d %8d\n", kNames[si], Levels(1)[li].name, read, misread,
                        kSamples - read - misread);
            EXPECT_GE(read, kMinRead[si][li])
                << "symbology " << static_cast<int>(symbology) << " level " << Levels(1)[li].name;
        }
    }
}

}  // namespace
}  // namespace kovran::decoders::barcode
