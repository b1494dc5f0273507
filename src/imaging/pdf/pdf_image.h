// Image data as a PDF image XObject takes it, read from an image file
// without decoding where the file's own coding is one that PDF readers
// decode: JPEG files whole (DCTDecode), TIFF strips as they are (CCITT,
// LZW, none) or re-encoded into one strip. Every size read from the file is
// checked against the file before use; a file that is truncated, lies about
// its sizes or uses a layout PDF cannot show gives nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kovran::imaging::pdf {

enum class PdfFilter { None, Dct, CcittG3, CcittG4, Lzw, Flate };

struct PdfImageData {
    int width = 0;
    int height = 0;
    double dpiX = 0;  // 0 when the file states none
    int bitsPerComponent = 8;
    bool rgb = false;
    PdfFilter filter = PdfFilter::None;
    // Samples of 0 are white (TIFF WhiteIsZero): drawn through Decode [1 0].
    bool invert = false;
    std::vector<std::uint8_t> bytes;
};

// The whole JPEG file, after its header and marker structure were checked
// (a file cut short has no end-of-image marker). Greyscale and three-colour
// 8-bit JPEGs only.
std::optional<PdfImageData> LoadJpegImage(const std::string& path);

// How TIFF data may be embedded: the archive form (PDF/A-1) forbids LZW,
// which is then decoded and deflated.
enum class LzwUse : bool { Allowed, Forbidden };

// The first image of a TIFF file: one strip of CCITT group 3 (1D), group 4,
// LZW or uncompressed data is embedded raw; several strips, reversed fill
// order, 2D group 3, a predictor, or codings PDF has no filter for are
// decoded and re-encoded into one strip.
std::optional<PdfImageData> LoadTiffImage(const std::string& path, LzwUse lzw);

struct ImageGeometry {
    int width = 0;
    int height = 0;
    double dpiX = 0;
};
// Size and horizontal resolution from the headers alone.
std::optional<ImageGeometry> ReadJpegGeometry(const std::string& path);
std::optional<ImageGeometry> ReadTiffGeometry(const std::string& path);

// The system-wide lock around the TIFF strip re-encoding.
inline constexpr const char* kPdfLockName = "KVXPdf";

}  // namespace kovran::imaging::pdf
