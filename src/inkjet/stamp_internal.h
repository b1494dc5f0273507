// What the stamp files share: the stamp geometry, reading a whole file with
// a size limit, allocating without throwing, and the stamp's files in the
// configuration directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inkjet/stamp.h"

namespace kovran::inkjet {

inline constexpr const char* kErr = "err - ";
inline constexpr const char* kWar = "war - ";

// Stamp rows of the two printer kinds' text.
inline constexpr int kType1Rows = 12;
inline constexpr int kType2GlyphRows = 38;
inline constexpr int kComposedResolution = 100;
inline constexpr int kLoadedResolution = 300;
inline constexpr std::uint8_t kInk = 0;
inline constexpr std::uint8_t kBlank = 255;

// Files a stamp reads are small; anything larger is not a stamp.
inline constexpr std::size_t kMaxStampFileBytes = std::size_t{64} << 20;

inline int StampStride(int width) {
    return (width + 7) / 8 * 8;
}

// The whole file, or nullopt when it cannot be opened or read or holds more
// than maxBytes (system error set).
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       std::size_t maxBytes);

// A blank image of the size (every pixel 255); nullopt when the memory
// cannot be had (system error set to "not enough memory").
std::optional<StampImage> BlankStampImage(int width, int height, int resolution);

// The configuration directory's file of that name.
std::string ConfigFile(const char* name);

// Writes the stamp image as an 8-bit grey bitmap file through the image
// writer; false (logged by the caller) when it cannot be written.
bool WriteStampImageFile(const StampImage& image, const std::string& path);

// Installs a composed image as the process's stamp.
void SetStampImage(StampImage image);

}  // namespace kovran::inkjet
