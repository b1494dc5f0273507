// Reads the images and magnetic tracks that fill a simulated feeder. Every
// size read from a file is checked before use: a hostile, truncated or
// oversized file is refused with the reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/feeder.h"

namespace kovran::sim {

// Largest image side and total size a simulated document may have.
inline constexpr int kMaxImageSide = 20000;
inline constexpr std::size_t kMaxImageBytes = 256u << 20;
inline constexpr std::size_t kMaxTrackBytes = 64u << 20;

// PNG (grey or colour; alpha and 16-bit are reduced to 8-bit grey or RGB)
// or binary PGM / PPM with a maximum value of 255.
bool ReadImageFile(const std::string& path, SimImage* out, std::string* error);
// Binary PGM / PPM from memory (tests, fuzzing).
bool DecodePnm(const std::uint8_t* data, std::size_t size, SimImage* out, std::string* error);
// A file's bytes, refused above maxBytes.
bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::vector<std::uint8_t>* out,
                   std::string* error);

}  // namespace kovran::sim
