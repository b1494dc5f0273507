// libtiff handles of the codec layer: TIFF images in memory (read from a
// span, written to a growing byte vector) or in a file, each with its own
// error and warning handlers, so that nothing goes to standard error and
// the reason of a failure stays with the handle that failed (safe when
// several threads encode at once).
#pragma once

#include <memory>
#include <string>

#include <tiffio.h>

#include "imaging/codec/codec_internal.h"

namespace kovran::imaging::codec::detail {

class TiffHandle {
  public:
    TiffHandle();
    ~TiffHandle();
    TiffHandle(const TiffHandle&) = delete;
    TiffHandle& operator=(const TiffHandle&) = delete;

    bool OpenRead(File file, std::string* error);
    // Writes into *out, which must outlive the handle or its Close().
    bool OpenWrite(Bytes* out, std::string* error);
    bool OpenFile(const std::string& path, std::string* error);
    // Flushes and closes; false when libtiff reported an error since opening.
    bool Close(std::string* error);

    TIFF* Get() const { return tif_; }
    bool Failed() const;
    // libtiff's first error since opening, "TIFF" when it gave none.
    std::string Reason() const;

  private:
    struct Sink;
    std::unique_ptr<Sink> sink_;
    TIFF* tif_ = nullptr;
};

// True for the five TIFF formats.
bool IsTiff(Format format);

// Writes the picture as the next page (directory) of the file: the depth
// must suit the format (CCITT Bilevel only, TIFF-JPEG not Bilevel).
// Bilevel pages are MinIsWhite, as fax readers expect of CCITT data.
bool WriteTiffPage(TIFF* tif, const Picture& picture, const EncodeOptions& options,
                   std::string* error);

}  // namespace kovran::imaging::codec::detail
