// The QR code reading itself, behind the argument checks of KQrCodeDecode:
// one adapter to zxing-cpp, so that the rest of the reader never sees it.
#pragma once

#include <optional>
#include <string>

#include "imaging/image_view.h"

namespace kovran::decoders::datamatrix {

// The bytes of the QR or Micro QR symbol found in the grey zone.
std::optional<std::string> ReadQrSymbol(imaging::ConstImageView zone);

}  // namespace kovran::decoders::datamatrix
