#include <ZXing/ReadBarcode.h>

#include "decoders/datamatrix/qr_reader.h"

namespace kovran::decoders::datamatrix {

std::optional<std::string> ReadQrSymbol(imaging::ConstImageView zone) {
    if (zone.Empty() || zone.Channels() != 1) return std::nullopt;
    const ZXing::ImageView image(zone.Data(), zone.Width(), zone.Height(), ZXing::ImageFormat::Lum,
                                 static_cast<int>(zone.Stride()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::MicroQRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    const ZXing::Result result = ZXing::ReadBarcode(image, hints);
    if (!result.isValid()) return std::nullopt;
    const ZXing::ByteArray& bytes = result.bytes();
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace kovran::decoders::datamatrix
