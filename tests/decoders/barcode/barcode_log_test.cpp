// What the barcode reader writes to the log.
#include <sys/mman.h>
#include <zint.h>

#include <gtest/gtest.h>

#include "KovranMS.h"
#include "api/log_fixture.h"
#include "decoders/barcode/barcode_reader.h"
#include "decoders/barcode/symbology.h"
#include "symbol_images.h"

namespace kovran::decoders::barcode {
namespace {

class BarcodeLog : public test::LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        Ini("[General]\nLogTimeStamp=0\n");
        StartAtLoad();
    }

    int Read(const imaging::ImageBuffer& image, int maxChars, BarcodeSettings settings = {}) {
        BarcodeState state;
        BarcodeReading reading;
        return ReadBarcodes(image.View(), kFontAllBarcodes, maxChars, settings, state, reading);
    }
};

TEST_F(BarcodeLog, TooManyCharactersAndWrongCode32) {
    const auto image = testing::RenderSymbol(testing::ZintModules(BARCODE_CODE128, "TOO LONG"), {});
    EXPECT_EQ(Read(image, 7), 0);
    EXPECT_GE(Count("barcode reading - too many char\r\n"), 1);
    EXPECT_EQ(Read(image, 8), 8);

    // Six Code 39 characters that are no base-32 number.
    const auto vowels = testing::RenderSymbol(testing::ZintModules(BARCODE_CODE39, "AEIOU0"), {});
    EXPECT_EQ(Count("wrong decoding"), 0);
    EXPECT_EQ(Read(vowels, 20, {.pharmaceutical = true}), 0);
    // An error line, then the text on its own line.
    const std::string log = LogBytes();
    const std::size_t at = log.find("wrong decoding\r\nAEIOU0\r\n");
    ASSERT_NE(at, std::string::npos);
    const std::size_t lineStart = log.rfind('\n', at) + 1;
    EXPECT_EQ(log.compare(lineStart, 6, "err - "), 0);
    EXPECT_GE(Count("AEIOU0\r\n"), 1);
}

TEST_F(BarcodeLog, ZoneTooLargeToCopy) {
    // 65535 x 20000 pixels of untouched (zero) pages: more than a work copy
    // may take, so the reading ends before it starts.
    constexpr int kWidth = 65535;
    constexpr int kHeight = 20000;
    const std::size_t bytes = std::size_t{kWidth} * kHeight;
    void* pages =
        mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    const imaging::ConstImageView zone(static_cast<const std::uint8_t*>(pages), kWidth, kHeight,
                                       kWidth, 1, {300, 300});
    SetLastResult(KVX_OK);
    BarcodeState state;
    BarcodeReading reading;
    EXPECT_EQ(ReadBarcodes(zone, kFontAllBarcodes, 100, {}, state, reading),
              kBarcodeAllocationFailed);
    munmap(pages, bytes);
    EXPECT_EQ(LastResult(), KVX_ERR_OUT_OF_MEMORY);
    // With the system error: not enough memory (8).
    EXPECT_EQ(Count("err -  duplicating ocr image  8"), 1) << LogBytes();
    EXPECT_TRUE(reading.text.empty());
    EXPECT_EQ(state.lastSymbology, kNoSymbologyRead);
}

TEST_F(BarcodeLog, TooManyBarsOnlyWithACalibration) {
    // 5000 bars: past the 3000 boundaries a band may have.
    imaging::ImageBuffer comb(20000, 40, 1, 235, {300, 300});
    for (int y = 0; y < comb.Height(); ++y)
        for (int x = 0; x < comb.Width(); x += 4) comb.At(x, y) = comb.At(x + 1, y) = 20;
    EXPECT_EQ(Read(comb, 100), 0);
    EXPECT_EQ(Count("too many bars"), 0);
    EXPECT_EQ(Read(comb, 100, {.calibrationLoaded = true}), 0);
    EXPECT_GE(Count("err -  too many bars  "), 1) << LogBytes().substr(0, 300);
}

TEST_F(BarcodeLog, ZonesWithoutBarcodeLogNothing) {
    const std::string before = LogBytes();
    imaging::ImageBuffer white(400, 90, 1, 255, {300, 300});
    EXPECT_EQ(Read(white, 20), 0);
    imaging::ImageBuffer narrow(100, 90, 1, 0, {300, 300});
    EXPECT_EQ(Read(narrow, 20), 0);
    EXPECT_EQ(LogBytes(), before);
}

}  // namespace
}  // namespace kovran::decoders::barcode
