// What a host asks of an image: format, quality or depth, rotation, flip,
// byte order and, for the saves of one channel, infrared or ultraviolet.
// Checked once, before any image work, so that a refused request never
// costs a retrieval.
#pragma once

#include <cstdint>

#include "KovranMS.h"

namespace kovran::imaging::output {

inline constexpr int kFormatJpeg = 0;
inline constexpr int kFormatTiffG3 = 1;
inline constexpr int kFormatTiffG4 = 2;
inline constexpr int kFormatTiffLzw = 3;
inline constexpr int kFormatBmp = 4;
inline constexpr int kFormatTiff = 5;
inline constexpr int kFormatTiffJpeg = 6;
inline constexpr int kFormatPdfJpeg = 7;
inline constexpr int kFormatPng = 8;
inline constexpr int kFormatPdfTiff = 9;

inline constexpr int kAutoQuality = 999;
inline constexpr int kRotationAuto = 0x400;
inline constexpr int kFlipBit = 0x800;
inline constexpr int kRgbBit = 0x1000;

// The extra channel lines of a scan.
inline constexpr int kChannelInfrared = 8;
inline constexpr int kChannelUltraviolet = 16;

enum class ByteOrder { Bgr, Rgb };

struct ImageRequest {
    int format = kFormatJpeg;
    int quality = 0;       // JPEG and TIFF-JPEG
    int bitsPerPixel = 0;  // 0: as scanned
    int rotation = 0;      // 0, 0x100, 0x200, 0x300 or kRotationAuto
    bool flip = false;
    ByteOrder order = ByteOrder::Bgr;
    int channel = 0;  // 0, kChannelInfrared or kChannelUltraviolet
};

bool IsJpegFormat(int format);
bool IsPdfFormat(int format);

// The request word and its value: the quality for the JPEG formats, the
// bits per pixel for the others.
ImageRequest FromRequestWord(std::int16_t word, std::int16_t value);
// The request word the separate arguments stand for (format, rotation).
std::int16_t RequestWord(int format, int rotation);

// Where the image goes: the PDF formats exist only as files.
enum class Destination { Memory, File };

// KVX_OK, or KVX_ERR_INV_PARAMETER with the reason logged.
KVXResult ValidateRequest(const ImageRequest& request, Destination destination);

}  // namespace kovran::imaging::output
