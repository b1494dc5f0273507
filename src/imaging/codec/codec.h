// The image codec layer: decoding and encoding of the file formats the
// library hands out (JPEG, TIFF, PNG, BMP) on libjpeg-turbo, libtiff and
// libpng, and the pixel operations that sit between a bitmap and a file
// (rotation, flip, threshold, grey, depth). Retrieval, saving, the multipage
// files and the PDF writer use only this interface; no other file of the
// library includes a codec library's header.
//
// Every function reports failure by its return value (and a reason in
// *error when one is given), never by an exception or a jump out of the
// codec library; every size read from a file is checked before use.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imaging/image_view.h"

namespace kovran::imaging::codec {

using Bytes = std::vector<std::uint8_t>;

// Bits per pixel a picture stands for. The pixels of a Bilevel picture are
// one channel of 0 (black) and 255 (white); Grey one channel; Rgb three
// channels in the order R, G, B. A palette image is decoded to Grey when
// every entry is grey, else to Rgb.
enum class Depth { Bilevel = 1, Grey = 8, Rgb = 24 };

struct Picture {
    ImageBuffer pixels;  // resolution in dpi, 0 when the file states none
    Depth depth = Depth::Grey;
};

// Output formats, by their codes in the host's request word.
enum class Format {
    Jpeg = 0,
    TiffG3 = 1,
    TiffG4 = 2,
    TiffLzw = 3,
    Bmp = 4,
    TiffNone = 5,
    TiffJpeg = 6,
    Png = 8,
};

// Sample order of the 24-bit pixels of a BMP file: B, G, R as the format
// has it, or R, G, B when the host asks for it.
enum class ChannelOrder { Bgr, Rgb };

struct EncodeOptions {
    Format format = Format::Jpeg;
    int quality = 75;                           // 1..100, JPEG and TIFF-JPEG only
    ChannelOrder bmpOrder = ChannelOrder::Bgr;  // BMP only
};

// Decodes a whole file image held in memory; the format is recognised by
// its signature (JPEG, TIFF: first page, PNG, BMP of 1, 4, 8 or 24 bits).
// nullopt for anything else, truncated or inconsistent data, or a size
// beyond kMaxBufferBytes.
std::optional<Picture> Decode(std::span<const std::uint8_t> file, std::string* error = nullptr);
std::optional<Picture> DecodeFile(const std::string& path, std::string* error = nullptr);

// Width, height and horizontal resolution of an image file without decoding
// its pixels (the PDF writer sizes pages from it).
struct FileInfo {
    int width = 0;
    int height = 0;
    double dpiX = 0.0;
};
std::optional<FileInfo> ReadFileInfo(const std::string& path, std::string* error = nullptr);

// Encodes a picture; the picture's depth must be one the format can hold:
// CCITT group 3 and 4 take Bilevel only, JPEG and TIFF-JPEG refuse Bilevel.
// The resolution tags come from the picture's resolution. nullopt on
// failure (refused depth, codec error).
std::optional<Bytes> Encode(const Picture& picture, const EncodeOptions& options,
                            std::string* error = nullptr);

// Pixel operations; each returns a new picture and keeps the resolution
// (swapped on a quarter turn).
enum class Turn { None, Clockwise, Half, CounterClockwise };
Picture Rotate(const Picture& picture, Turn turn);
Picture FlipUpsideDown(const Picture& picture);
// Grey or RGB to Bilevel: a pixel whose grey value is below threshold
// (0..255) becomes black.
Picture Threshold(const Picture& picture, int threshold);
// To Grey (luma of RGB; Bilevel as 0 and 255) or to Rgb (grey repeated).
Picture ConvertDepth(const Picture& picture, Depth depth, int bilevelThreshold = 128);

// A TIFF file that grows by one page per call, for the multipage files.
// The file is created (truncated) on Open and is complete after every
// AppendPage: a crash between pages leaves the pages already appended.
class TiffPageWriter {
  public:
    TiffPageWriter();
    ~TiffPageWriter();
    TiffPageWriter(const TiffPageWriter&) = delete;
    TiffPageWriter& operator=(const TiffPageWriter&) = delete;

    // format: TiffG3, TiffG4, TiffLzw, TiffNone or TiffJpeg.
    bool Open(const std::string& path, const EncodeOptions& options, std::string* error = nullptr);
    // G3 and G4 reduce a deeper picture to Bilevel; TiffJpeg refuses a
    // Bilevel one.
    bool AppendPage(const Picture& picture, std::string* error = nullptr);
    void Close();
    bool IsOpen() const;
    int Pages() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kovran::imaging::codec
