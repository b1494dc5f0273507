// The small device commands that do not belong to scanning: the buzzer,
// the hardware key block and the photo sensor tuning block.
#pragma once

#include <array>
#include <cstdint>

#include "KovranMS.h"

namespace kovran::device {

// Sounds the buzzer with `tone` (0 switches it off) and waits durationMs.
// KVX_ERR_HW_UNSUPPORTED on a device without buzzer.
KVXResult Buzz(std::uint8_t tone, std::uint16_t durationMs);

// The hardware key block into buffer (cleared first).
KVXResult ReadHardwareKey(std::uint8_t* buffer, std::uint16_t length);

// The eight photo sensor tuning bytes, read from and written to the device
// unchanged. Writing reads the block back and compares.
inline constexpr unsigned kPhotoTuningBytes = 8;
using PhotoTuningBlock = std::array<std::uint8_t, kPhotoTuningBytes>;
KVXResult ReadPhotoTuning(PhotoTuningBlock* block);
KVXResult WritePhotoTuning(const PhotoTuningBlock& block);

}  // namespace kovran::device
