// The PDF417 zone reader on rendered zint symbols: clean, skewed, degraded,
// damaged beyond repair, and the zones that must read nothing.
#include <sys/mman.h>
#include <zint.h>

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "KovranMS.h"
#include "api/frame_state.h"
#include "api/log_fixture.h"
#include "decoders/pdf417/reader.h"
#include "symbol_images.h"

namespace kovran::decoders::pdf417 {
namespace {

// zint draws one module row per symbol row; printed rows are three modules
// high.
test::ModuleGrid Pdf417Grid(const std::string& text, int columns = 0) {
    const auto grid = test::EncodeWithZint(BARCODE_PDF417, text, columns);
    if (!grid) throw std::runtime_error("zint refused " + text);
    test::ModuleGrid tall{grid->rows * 3, grid->columns, {}};
    for (int r = 0; r < tall.rows; ++r)
        for (int c = 0; c < tall.columns; ++c) tall.dark.push_back(grid->At(r / 3, c) ? 1 : 0);
    return tall;
}

imaging::ImageBuffer Zone(const std::string& text, test::RenderOptions options = {},
                          int columns = 0) {
    if (options.moduleSize == 6.0) options.moduleSize = 3.0;
    return test::Render(Pdf417Grid(text, columns), options);
}

std::string Read(imaging::ConstImageView zone, int maxChars = 2000) {
    Pdf417Reading reading;
    const int n = ReadPdf417(zone, maxChars, reading);
    EXPECT_EQ(n, static_cast<int>(reading.text.size()));
    EXPECT_EQ(reading.confidence.size(), reading.text.size());
    EXPECT_EQ(reading.boxes.size(), reading.text.size());
    return reading.text;
}

const std::string kPayment = "PAY 1234.56 EUR TO ACME SRL, IBAN IT60X0542811101000000123456";

TEST(Pdf417Reader, ReadsCleanSymbolsOfEveryMode) {
    const std::string bytes("\x01\xff\x80 binary \x7f\x00 tail", 17);
    for (const std::string& text :
         {kPayment, std::string("0123456789012345678901234567890123456789"), bytes,
          std::string("mixed Case 42; punct!? {x} and 9876543210987654")}) {
        const auto zone = Zone(text);
        EXPECT_EQ(Read(zone.View()), text);
    }
}

TEST(Pdf417Reader, WideAndTallSymbols) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "Line " + std::to_string(i * 7919) + ": pay;";
    for (int columns : {1, 12, 24}) {
        const auto zone = Zone(text.substr(0, columns == 1 ? 60 : text.size()), {}, columns);
        EXPECT_EQ(Read(zone.View()), text.substr(0, columns == 1 ? 60 : text.size())) << columns;
    }
}

TEST(Pdf417Reader, CharactersCarryConfidenceAndTheZoneBox) {
    const auto zone = Zone("BOX");
    Pdf417Reading reading;
    ASSERT_EQ(ReadPdf417(zone.View(), 10, reading), 3);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reading.confidence[i], kPdf417Confidence);
        EXPECT_EQ(reading.boxes[i].Left(), 0);
        EXPECT_EQ(reading.boxes[i].Top(), 0);
        EXPECT_EQ(reading.boxes[i].Right(), zone.Width() - 1);
        EXPECT_EQ(reading.boxes[i].Bottom(), zone.Height() - 1);
    }
    // A text longer than the caller takes is not returned at all.
    EXPECT_EQ(ReadPdf417(zone.View(), 2, reading), 0);
    EXPECT_TRUE(reading.text.empty());
}

TEST(Pdf417Reader, SkewedAndDegradedScans) {
    for (double angle : {2.0, -2.0, 1.0, 4.0, -5.0}) {
        const auto zone = Zone(kPayment, {.angleDegrees = angle});
        EXPECT_EQ(Read(zone.View()), kPayment) << angle;
    }
    const auto blurred =
        Zone(kPayment, {.blurSigma = 0.8, .noiseSigma = 12, .ink = 60, .paper = 200});
    EXPECT_EQ(Read(blurred.View()), kPayment);
    const auto wide = Zone(kPayment, {.moduleSize = 4.5});
    EXPECT_EQ(Read(wide.View()), kPayment);
}

TEST(Pdf417Reader, FormRuleBesideTheSymbol) {
    // A printed rule of the form, as dark as the bars, left of the symbol
    // and taller than it: the first ink columns are not the symbol's edge.
    auto zone = Zone(kPayment, {.margin = 60});
    for (int y = 0; y < zone.Height(); ++y)
        for (int x = 8; x < 16; ++x) zone.At(x, y) = 20;
    EXPECT_EQ(Read(zone.View()), kPayment);
}

TEST(Pdf417Reader, BadZonesReadNothing) {
    EXPECT_EQ(Read(imaging::ConstImageView{}), "");
    for (auto [w, h] : {std::pair{1, 1}, std::pair{31, 31}, std::pair{127, 200},
                        std::pair{65535, 20}, std::pair{400, 15}}) {
        for (std::uint8_t fill : {0, 255}) {
            const imaging::ImageBuffer flat(w, h, 1, fill, {300, 300});
            EXPECT_EQ(Read(flat.View()), "") << w << "x" << h << " " << int{fill};
        }
    }
    const auto noise = test::NoiseImage(600, 300, 3);
    EXPECT_EQ(Read(noise.View()), "");
    // A stride shorter than a row cannot describe the zone at all.
    std::vector<std::uint8_t> pixels(400 * 100, 255);
    EXPECT_THROW(imaging::ConstImageView(pixels.data(), 400, 100, 300), std::invalid_argument);
    // A zone narrower than 128 pixels is refused even with a symbol in it.
    const auto zone = Zone("NARROW", {.moduleSize = 1.0, .quietModules = 1, .margin = 0});
    ASSERT_LT(zone.Width(), 128);
    EXPECT_EQ(Read(zone.View()), "");
}

TEST(Pdf417Reader, CutTurnedAndUpsideDownSymbolsNeverMisread) {
    const auto zone = Zone(kPayment);
    const imaging::ConstImageView whole = zone.View();
    // Cut by the zone's edge: the left half, the right half, the top rows.
    for (const imaging::ConstImageView cut :
         {whole.Crop(0, 0, whole.Width() / 2, whole.Height()),
          whole.Crop(whole.Width() / 2, 0, whole.Width() / 2, whole.Height()),
          whole.Crop(0, 0, whole.Width(), whole.Height() / 3)}) {
        const std::string text = Read(cut);
        EXPECT_TRUE(text.empty() || text == kPayment) << text;
    }
    for (test::RenderOptions turned :
         {test::RenderOptions{.angleDegrees = 45}, test::RenderOptions{.quarterTurns = 2},
          test::RenderOptions{.quarterTurns = 1}}) {
        const auto image = Zone(kPayment, turned);
        const std::string text = Read(image.View());
        EXPECT_TRUE(text.empty() || text == kPayment) << text;
    }
}

TEST(Pdf417Reader, MirroredSymbolsAndNoRoomForText) {
    // A symbol seen through the paper (columns mirrored) reads nothing; one
    // printed upside down in its rows (rows mirrored) is still the symbol.
    const test::ModuleGrid grid = Pdf417Grid(kPayment);
    test::ModuleGrid columns = grid;
    test::ModuleGrid rows = grid;
    for (int r = 0; r < grid.rows; ++r)
        for (int c = 0; c < grid.columns; ++c) {
            columns.dark[static_cast<std::size_t>(r) * grid.columns + c] =
                grid.At(r, grid.columns - 1 - c);
            rows.dark[static_cast<std::size_t>(r) * grid.columns + c] =
                grid.At(grid.rows - 1 - r, c);
        }
    const auto seenThrough = test::Render(columns, {.moduleSize = 3.0});
    const std::string text = Read(seenThrough.View());
    EXPECT_TRUE(text.empty() || text == kPayment) << text;
    const auto flipped = test::Render(rows, {.moduleSize = 3.0});
    EXPECT_EQ(Read(flipped.View()), kPayment);

    const auto zone = Zone(kPayment);
    for (int maxChars : {-1, 0, 1}) EXPECT_EQ(Read(zone.View(), maxChars), "") << maxChars;
    EXPECT_EQ(Read(zone.View(), static_cast<int>(kPayment.size())), kPayment);
}

class Pdf417ReaderLog : public test::LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        Ini("[General]\nLogTimeStamp=0\n");
        StartAtLoad();
    }
};

TEST_F(Pdf417ReaderLog, SymbolDamagedBeyondItsLevel) {
    // Level 2 (8 error correction codewords): paint over the data columns
    // of every row so that far more than six codewords are lost.
    auto zone = Zone(kPayment, {}, 4);
    EXPECT_EQ(Read(zone.View()), kPayment);
    const int from = zone.Width() * 35 / 100;
    const int to = zone.Width() * 60 / 100;
    for (int y = 0; y < zone.Height(); ++y)
        for (int x = from; x < to; ++x) zone.At(x, y) = 225;
    EXPECT_EQ(Read(zone.View()), "");
    EXPECT_GE(Count("unexpedcted lenght in pdf run"), 1);
}

TEST_F(Pdf417ReaderLog, ZoneTooLargeToCopy) {
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
    Pdf417Reading reading;
    EXPECT_EQ(ReadPdf417(zone, 100, reading), kPdf417AllocationFailed);
    EXPECT_EQ(LastResult(), KVX_ERR_OUT_OF_MEMORY);
    EXPECT_EQ(Count("read pdf invalid memory allocation"), 1);
    munmap(pages, bytes);
}

}  // namespace
}  // namespace kovran::decoders::pdf417
