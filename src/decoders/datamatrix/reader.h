// The two-dimensional symbol readers of a zone of a grey document image:
// DataMatrix (ECC 200) and QR code. The document reading calls them for the
// zones of fonts 36 and 37, logging "getting KDataMatrixDecode" before and
// "KQrCodeDecode returned len" after; it gives each character confidence 100
// and one character box covering the zone.
//
// Both take the zone as an 8-bit grey view (0 black) with its resolution,
// a text buffer and an in/out length: the buffer's size on entry, the
// number of characters written on return (0 when nothing was read). The
// text is 0-terminated and cut to the buffer; the result is the number of
// characters, 0 for none, -1 for bad arguments or a caught exception.
#pragma once

#include "decoders/datamatrix/codewords.h"
#include "decoders/datamatrix/document_context.h"
#include "imaging/image_view.h"

namespace kovran::decoders::datamatrix {

int KDataMatrixDecode(const imaging::ConstImageView* zone, char* text, int* maxLength,
                      const DocumentContext& context = {}, const MessageSink& log = {});

// Reads QR code and Micro QR code symbols, with the argument checks and
// messages of the DataMatrix reader's QR entry.
int KQrCodeDecode(const imaging::ConstImageView* zone, char* text, int* maxLength,
                  const MessageSink& log = {});

// Writes `decoded` into the caller's buffer as both readers return it.
int ReturnText(std::string_view decoded, char* text, int* maxLength);

}  // namespace kovran::decoders::datamatrix
