// The corpus generator and the symbol generators checked by independent
// decoders: libdmtx for DataMatrix, zxing-cpp for the other symbologies.
#include <gtest/gtest.h>

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>
#include <dmtx.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/temp_dir.h"
#include "testing/synth/corpus.h"
#include "testing/synth/corpus_reader.h"
#include "testing/synth/image_io.h"
#include "testing/synth/synth_error.h"

namespace kovran::synth {
namespace {

using nlohmann::json;

json ReadJson(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return json::parse(s.str());
}

// The element's box grown by a quiet margin, cut out of the image.
ImageBuffer Crop(const ImageBuffer& img, const json& box, int margin) {
    const int l = std::max(0, box[0].get<int>() - margin),
              t = std::max(0, box[1].get<int>() - margin);
    const int r = std::min(img.Width(), box[2].get<int>() + margin);
    const int b = std::min(img.Height(), box[3].get<int>() + margin);
    ImageBuffer out(r - l, b - t, 1);
    for (int y = t; y < b; ++y)
        for (int x = l; x < r; ++x) out.At(x - l, y - t) = img.At(x, y);
    return out;
}

std::string DecodeDmtx(const ImageBuffer& img) {
    struct ImageDel {
        void operator()(DmtxImage* p) const { dmtxImageDestroy(&p); }
    };
    struct DecodeDel {
        void operator()(DmtxDecode* p) const { dmtxDecodeDestroy(&p); }
    };
    struct RegionDel {
        void operator()(DmtxRegion* p) const { dmtxRegionDestroy(&p); }
    };
    struct MessageDel {
        void operator()(DmtxMessage* p) const { dmtxMessageDestroy(&p); }
    };
    ImageBuffer copy = img;
    std::unique_ptr<DmtxImage, ImageDel> dimg(
        dmtxImageCreate(copy.Data(), copy.Width(), copy.Height(), DmtxPack8bppK));
    if (!dimg) return "";
    std::unique_ptr<DmtxDecode, DecodeDel> dec(dmtxDecodeCreate(dimg.get(), 1));
    if (!dec) return "";
    DmtxTime timeout = dmtxTimeAdd(dmtxTimeNow(), 5000);
    std::unique_ptr<DmtxRegion, RegionDel> reg(dmtxRegionFindNext(dec.get(), &timeout));
    if (!reg) return "";
    std::unique_ptr<DmtxMessage, MessageDel> msg(
        dmtxDecodeMatrixRegion(dec.get(), reg.get(), DmtxUndefined));
    if (!msg) return "";
    return std::string(reinterpret_cast<const char*>(msg->output), msg->outputIdx);
}

std::string DecodeZxing(const ImageBuffer& img, ZXing::BarcodeFormat format) {
    ZXing::DecodeHints hints;
    hints.setFormats(format);
    hints.setTryHarder(true);
    const auto result =
        ZXing::ReadBarcode({img.Data(), img.Width(), img.Height(), ZXing::ImageFormat::Lum}, hints);
    return result.isValid() ? result.text() : "";
}

ZXing::BarcodeFormat ZxingFormat(const std::string& s) {
    using F = ZXing::BarcodeFormat;
    if (s == "code128") return F::Code128;
    if (s == "code39") return F::Code39;
    if (s == "ean13") return F::EAN13;
    if (s == "itf") return F::ITF;
    if (s == "pdf417") return F::PDF417;
    if (s == "qrcode") return F::QRCode;
    return F::DataMatrix;
}

// The small corpus: its index and files are complete, and every symbol on
// its symbol sheet decodes, with an independent decoder, to the data the
// ground truth gives.
TEST(Corpus, SmallCorpusIsCompleteAndItsSymbolsDecode) {
    test::TempDir dir;
    CorpusOptions options;
    options.dir = dir.path();
    MakeCorpus(options);
    const std::vector<CorpusEntry> entries = ReadCorpusIndex(dir.path());
    std::map<std::string, int> perSet;
    for (const auto& e : entries) {
        ++perSet[e.set];
        const CorpusDocument doc = LoadCorpusDocument(dir.path(), e.name);
        EXPECT_TRUE(doc.front.has_value()) << e.name;
        EXPECT_EQ(doc.backlight.has_value(), e.set == "special" && e.name.rfind("micro", 0) == 0);
        EXPECT_FALSE(doc.magnetic.empty());
    }
    // Two cheques per font and level, levels 0 to 4.
    EXPECT_EQ(perSet["cheques-e13b"], 10);
    EXPECT_EQ(perSet["cheques-cmc7"], 10);
    EXPECT_GE(perSet["payment-forms"], 1);
    EXPECT_GE(perSet["special"], 3);
    ASSERT_EQ(perSet["symbols"], 1);

    // A damaged corpus is reported, not read past.
    const std::string mag = dir / "cheque-e13b-l1-0.mag";
    test::WriteFileBytes(mag, test::ReadFileBytes(mag).substr(10));
    auto loadError = [&](const std::string& name) -> std::string {
        try {
            LoadCorpusDocument(dir.path(), name);
        } catch (const SynthError& e) {
            return e.what();
        }
        return "loaded";
    };
    EXPECT_NE(loadError("cheque-e13b-l1-0").find("sample count differs"), std::string::npos);
    EXPECT_NE(loadError("../cheque-e13b-l1-1").find("bad document name"), std::string::npos);
    EXPECT_NE(loadError("missing").find("cannot open"), std::string::npos);

    const json truth = ReadJson(dir / "symbols-l1-0.json");
    const ImageBuffer front = ReadPng(dir / truth["images"]["front"].get<std::string>());
    std::map<std::string, int> decoded;
    for (const auto& el : truth["front"]) {
        if (el["type"] != "barcode") continue;
        const std::string sym = el["symbology"], gen = el["generator"], data = el["data"];
        const ImageBuffer cut = Crop(front, el["box"], 40);
        SCOPED_TRACE(sym + " by " + gen);
        if (sym == "datamatrix") {
            EXPECT_EQ(DecodeDmtx(cut), data);
            // zxing reads the same symbol: two independent decoders agree.
            EXPECT_EQ(DecodeZxing(cut, ZXing::BarcodeFormat::DataMatrix), data);
        } else {
            std::string got = DecodeZxing(cut, ZxingFormat(sym));
            if (sym == "ean13" && got.size() == 13 && data.size() == 12)
                got.pop_back();  // check digit
            EXPECT_EQ(got, data);
        }
        ++decoded[sym + "/" + gen];
    }
    EXPECT_EQ(decoded["datamatrix/zint"], 1);
    EXPECT_EQ(decoded["datamatrix/libdmtx"], 1);
    EXPECT_EQ(decoded.size(), 8u);
}

// The corpus is reproducible: a document rendered again from the same
// description and seed gives the same bytes.
TEST(Corpus, DescriptionsDependOnlyOnTheSeed) {
    EXPECT_EQ(ChequeDescription("cmc7", 3, 2, 42), ChequeDescription("cmc7", 3, 2, 42));
    EXPECT_NE(ChequeDescription("cmc7", 3, 2, 42), ChequeDescription("cmc7", 3, 2, 43));
    EXPECT_EQ(PaymentFormDescription(1, 1, 8), PaymentFormDescription(1, 1, 8));
    EXPECT_NE(std::string(CorpusReadme()).find("<name>.mag"), std::string::npos);
}

}  // namespace
}  // namespace kovran::synth
