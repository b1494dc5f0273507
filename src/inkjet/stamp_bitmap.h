// The stamp's own bitmap files: reading a host's 8-bit grey bitmap into the
// stamp image, and the file layout the system-font text is written in.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "inkjet/stamp.h"

namespace kovran::inkjet {

// Why a host bitmap is refused, with the value the log line carries.
enum class BitmapRefusal { BitCount, Planes, Size, Height };

// The stamp image of a whole bitmap file: 8 bits per pixel, one plane,
// bottom-up rows (the stamp is top row first), resolution 300. nullopt with
// the refusal (and for bit count and planes the file's value) otherwise;
// sizes the file states are checked against what it holds.
std::optional<StampImage> ParseStampBitmap(std::span<const std::uint8_t> file,
                                           BitmapRefusal* refusal, int* value);

// A bitmap file of an 8-bit grey raster given top row first: 14-byte file
// header, 40-byte information header, 256 grey colour table entries, rows
// bottom-up padded to 4 bytes.
std::vector<std::uint8_t> GreyBitmapFile(std::span<const std::uint8_t> pixels, int width,
                                         int height, int dotsPerInch);

}  // namespace kovran::inkjet
