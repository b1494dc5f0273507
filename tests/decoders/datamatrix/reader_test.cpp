// KDataMatrixDecode and KQrCodeDecode: arguments, zone sizes the reader
// must survive, and the document-context rules.
#include <dmtx.h>
#include <gtest/gtest.h>
#include <zint.h>

#include <string>
#include <vector>

#include "decoders/datamatrix/reader.h"
#include "symbol_images.h"

namespace kovran::decoders::datamatrix {
namespace {

struct Call {
    int result = 0;
    int length = 0;
    std::string text;
    std::vector<std::string> log;
};

Call DataMatrix(const imaging::ConstImageView* zone, const DocumentContext& context = {},
                int maxLength = 256) {
    Call call;
    std::vector<char> buffer(std::max(maxLength, 1), 'x');
    call.length = maxLength;
    call.result = KDataMatrixDecode(zone, buffer.data(), &call.length, context,
                                    [&](std::string_view l) { call.log.emplace_back(l); });
    if (call.result > 0) call.text.assign(buffer.data(), call.result);
    return call;
}

Call Qr(const imaging::ConstImageView* zone, int maxLength = 256) {
    Call call;
    std::vector<char> buffer(std::max(maxLength, 1), 'x');
    call.length = maxLength;
    call.result = KQrCodeDecode(zone, buffer.data(), &call.length,
                                [&](std::string_view l) { call.log.emplace_back(l); });
    if (call.result > 0) call.text.assign(buffer.data(), call.result);
    return call;
}

imaging::ImageBuffer DmtxZone(std::string_view text, int size, test::RenderOptions options = {}) {
    const auto grid = test::EncodeWithDmtx(text, size);
    EXPECT_TRUE(grid);
    return test::Render(*grid, options);
}

TEST(DataMatrixReader, ArgumentChecksAndMessages) {
    imaging::ImageBuffer zone(64, 64, 1, 255, {300, 300});
    const imaging::ConstImageView view = zone.View();
    char text[8] = "abc";

    Call call = DataMatrix(nullptr);
    EXPECT_EQ(call.result, -1);
    EXPECT_EQ(call.log, std::vector<std::string>{"DataMatrix - null pointer"});
    const imaging::ConstImageView noPixels;
    EXPECT_EQ(DataMatrix(&noPixels).result, -1);

    int length = 8;
    std::vector<std::string> log;
    const MessageSink sink = [&](std::string_view l) { log.emplace_back(l); };
    EXPECT_EQ(KDataMatrixDecode(&view, nullptr, &length, {}, sink), -1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(log, std::vector<std::string>{"DataMatrix - invalid parameter"});
    length = 0;
    EXPECT_EQ(KDataMatrixDecode(&view, text, &length, {}, sink), -1);
    EXPECT_EQ(KDataMatrixDecode(&view, text, nullptr, {}, sink), -1);

    log.clear();
    length = 8;
    EXPECT_EQ(KQrCodeDecode(&view, nullptr, &length, sink), -1);
    EXPECT_EQ(length, 0);
    length = 0;
    EXPECT_EQ(KQrCodeDecode(&view, text, &length, sink), -1);
    length = 8;
    EXPECT_EQ(KQrCodeDecode(nullptr, text, &length, sink), -1);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(log,
              (std::vector<std::string>{"QrCode - invalid parameter", "QrCode - invalid parameter",
                                        "DataMatrix - null pointer"}));
}

// Zones the reader must survive without reading outside them: each ends in
// 0 characters and an in/out length of 0, with no message.
TEST(DataMatrixReader, ZonesWithoutSymbolReadNothing) {
    std::vector<imaging::ImageBuffer> zones;
    zones.emplace_back(0, 0, 1, 0, imaging::Resolution{300, 300});
    zones.emplace_back(1, 1, 1, 0, imaging::Resolution{300, 300});
    zones.emplace_back(31, 31, 1, 0, imaging::Resolution{300, 300});
    zones.emplace_back(31, 40, 1, 0, imaging::Resolution{300, 300});
    zones.emplace_back(65535, 32, 1, 255, imaging::Resolution{300, 300});
    zones.emplace_back(65535, 40, 1, 0, imaging::Resolution{300, 300});
    zones.emplace_back(300, 300, 1, 0, imaging::Resolution{300, 300});
    zones.emplace_back(300, 300, 1, 255, imaging::Resolution{300, 300});
    zones.emplace_back(300, 200, 1, 255, imaging::Resolution{0, 0});
    for (std::uint64_t seed : {1u, 2u, 3u}) zones.push_back(test::NoiseImage(320, 320, seed));
    for (std::uint64_t seed : {4u, 5u}) zones.push_back(test::NoiseImage(240, 260, seed, 600));
    for (const imaging::ImageBuffer& zone : zones) {
        // A zone that ends exactly at the end of its memory: a read past it
        // is caught by the address sanitizer build.
        std::vector<std::uint8_t> exact(zone.Data(), zone.Data() + zone.Bytes());
        static const std::uint8_t kNoPixel = 0;
        const imaging::ConstImageView view(exact.empty() ? &kNoPixel : exact.data(), zone.Width(),
                                           zone.Height(), zone.Stride(), 1, zone.Res());
        SCOPED_TRACE(std::to_string(zone.Width()) + "x" + std::to_string(zone.Height()));
        for (const DocumentContext& context : {DocumentContext{}, DocumentContext{.typeDoc = 3,
                                                                  .microperforationZone = true,
                                                                  .dataMatrixMark = true}}) {
            const Call call = DataMatrix(&view, context);
            EXPECT_EQ(call.result, 0);
            EXPECT_EQ(call.length, 0);
            EXPECT_TRUE(call.log.empty());
        }
        const Call qr = Qr(&view);
        EXPECT_EQ(qr.result, 0);
        EXPECT_EQ(qr.length, 0);
    }
    // A view cannot describe rows longer than their stride.
    std::vector<std::uint8_t> pixels(100 * 100);
    EXPECT_THROW(imaging::ConstImageView(pixels.data(), 100, 100, 50), std::invalid_argument);
}

TEST(DataMatrixReader, ReadsSymbolsInStridedAndRotatedZones) {
    const std::string text = "KOVRAN 24x24 0123456789";
    const imaging::ImageBuffer zone =
        DmtxZone(text, DmtxSymbol24x24, {.moduleSize = 7, .angleDegrees = 30, .blurSigma = 1});
    const imaging::ConstImageView view = zone.View();
    Call call = DataMatrix(&view);
    EXPECT_EQ(call.result, static_cast<int>(text.size()));
    EXPECT_EQ(call.length, call.result);
    EXPECT_EQ(call.text, text);

    // The same pixels in a view whose rows are padded.
    const int stride = zone.Width() + 13;
    std::vector<std::uint8_t> padded(static_cast<std::size_t>(stride) * zone.Height(), 0);
    for (int y = 0; y < zone.Height(); ++y)
        std::copy_n(zone.Row(y), zone.Width(), &padded[y * stride]);
    const imaging::ConstImageView strided(padded.data(), zone.Width(), zone.Height(), stride, 1,
                                          zone.Res());
    EXPECT_EQ(DataMatrix(&strided).text, text);

    // The text is cut to the caller's buffer.
    call = DataMatrix(&view, {}, 6);
    EXPECT_EQ(call.result, 5);
    EXPECT_EQ(call.length, 5);
    EXPECT_EQ(call.text, text.substr(0, 5));
}

// A long rectangle turned by more than a few degrees lies on its short
// side in the enclosing rectangle: its quiet margin must follow the turned
// sides, or the straightened symbol comes out sheared.
TEST(DataMatrixReader, ReadsTurnedRectangularSymbols) {
    const std::string text = "GY7 MKT15B37";
    for (int size : {DmtxSymbol8x32, DmtxSymbol12x36, DmtxSymbol16x48}) {
        for (double angle : {-24.0, -17.0, 10.0, 17.0, 24.0}) {
            const imaging::ImageBuffer zone =
                DmtxZone(text, size, {.moduleSize = 6, .angleDegrees = angle});
            const imaging::ConstImageView view = zone.View();
            EXPECT_EQ(DataMatrix(&view).text, text) << "size " << size << " at " << angle;
        }
    }
}

TEST(DataMatrixReader, LargerSymbolsThanAcceptedReadNothing) {
    const std::string text(150, '7');
    const imaging::ImageBuffer zone = DmtxZone(text, DmtxSymbol64x64, {.moduleSize = 5});
    const imaging::ConstImageView view = zone.View();
    const Call call = DataMatrix(&view);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.length, 0);
}

TEST(DataMatrixReader, MicroperforationZoneAsksForTheWholeRecord) {
    const std::string twenty = "12345678901234567890";
    const imaging::ImageBuffer zone = DmtxZone(twenty, DmtxSymbol18x18, {.moduleSize = 7});
    const imaging::ConstImageView view = zone.View();
    EXPECT_EQ(DataMatrix(&view).result, 20);
    EXPECT_EQ(DataMatrix(&view, {.microperforationZone = true}).result, 0);

    const std::string record = "0123456789012345678901234567890123";
    const imaging::ImageBuffer full = DmtxZone(record, DmtxSymbol22x22, {.moduleSize = 7});
    const imaging::ConstImageView fullView = full.View();
    EXPECT_EQ(DataMatrix(&fullView, {.microperforationZone = true}).text, record);
}

TEST(DataMatrixReader, MacroHeaderFromZint) {
    const std::string body = "A1B2C3";
    const auto grid = test::EncodeWithZint(BARCODE_DATAMATRIX,
                                           "[)>\x1E"
                                           "05\x1D" +
                                               body + "\x1E\x04");
    ASSERT_TRUE(grid);
    const imaging::ImageBuffer zone = test::Render(*grid, {.moduleSize = 8});
    const imaging::ConstImageView view = zone.View();
    EXPECT_EQ(DataMatrix(&view).text, "[)>RS05GS" + body);
}

TEST(QrReader, ReadsQrAndMicroQr) {
    const std::string text = "https://example.org/cheque?n=0042";
    for (int symbology : {BARCODE_QRCODE, BARCODE_MICROQR}) {
        const std::string content = symbology == BARCODE_MICROQR ? "0042ABC" : text;
        const auto grid = test::EncodeWithZint(symbology, content);
        ASSERT_TRUE(grid);
        for (int turns : {0, 1, 2}) {
            const imaging::ImageBuffer zone = test::Render(
                *grid,
                {.moduleSize = 5, .quietModules = 4, .quarterTurns = turns, .blurSigma = 0.8});
            const imaging::ConstImageView view = zone.View();
            const Call call = Qr(&view);
            EXPECT_EQ(call.text, content) << symbology << " turns " << turns;
            EXPECT_EQ(call.length, static_cast<int>(content.size()));
        }
    }
    // A DataMatrix zone is not a QR code.
    const imaging::ImageBuffer dm = DmtxZone("not a qr", DmtxSymbol16x16, {.moduleSize = 6});
    const imaging::ConstImageView view = dm.View();
    EXPECT_EQ(Qr(&view).result, 0);
}

}  // namespace
}  // namespace kovran::decoders::datamatrix

namespace kovran::decoders::datamatrix {
namespace {

// A 10 x 10 symbol of 5-pixel modules merges into a blob below the least
// candidate area at 300 dpi; only the zone doubled to 600 dpi finds it, and
// the doubling is asked for by the codeline's DataMatrix mark.
TEST(DataMatrixReader, CodelineMarksDecideTheDoubledZone) {
    const std::string text = "A42";
    const imaging::ImageBuffer zone = DmtxZone(text, DmtxSymbol10x10, {.moduleSize = 5});
    const imaging::ConstImageView view = zone.View();
    EXPECT_EQ(DataMatrix(&view).result, 0);
    EXPECT_EQ(DataMatrix(&view, {.dataMatrixMark = true}).text, text);
    EXPECT_EQ(DataMatrix(&view, {.dataMatrixMark = true, .equalsMark = true}).result, 0);
    // Only 300 dpi zones are doubled.
    const imaging::ConstImageView at240 = view.WithResolution({240, 240});
    EXPECT_EQ(DataMatrix(&at240, {.dataMatrixMark = true}).result, DataMatrix(&at240).result);
}

}  // namespace
}  // namespace kovran::decoders::datamatrix

namespace kovran::decoders::datamatrix {
namespace {

// The scanner's dark background along the top of a zone that reaches the
// document's edge, a blob from corner to corner: for the document types
// whose zones reach the edge that blob is not taken for the symbol.
TEST(DataMatrixReader, CornerBlobSkippedForCornerDocumentTypes) {
    const std::string text = "CORNER 0123456789";
    const imaging::ImageBuffer symbol = DmtxZone(text, DmtxSymbol18x18, {.moduleSize = 7});
    const int width = symbol.Width() + 200;
    const int height = symbol.Height() + 140;
    imaging::ImageBuffer zone(width, height, 1, 225, {300, 300});
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < width; ++x) zone.At(x, y) = 15;
    for (int y = 0; y < symbol.Height(); ++y)
        std::copy_n(symbol.Row(y), symbol.Width(), zone.Row(height - symbol.Height() + y) + 100);
    const imaging::ConstImageView view = zone.View();
    EXPECT_EQ(DataMatrix(&view).result, 0);
    for (int typeDoc : {3, 4, 6, 7, 8})
        EXPECT_EQ(DataMatrix(&view, {.typeDoc = typeDoc}).text, text);
    EXPECT_EQ(DataMatrix(&view, {.typeDoc = 5}).result, 0);
}

}  // namespace
}  // namespace kovran::decoders::datamatrix
