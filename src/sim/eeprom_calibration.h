// The calibration a simulated scanner keeps in its EEPROM, one block per
// horizontal resolution: 0xD0/0x11 (one byte, the resolution index 3 or
// 6) chooses the block, and each 0xD0/0x13 read after it hands out the
// next 64 bytes: first the information block (serial number, resolution
// index, data size), then the data. The references are the sensor model's
// own, as the factory measured them (before any dust settled).
#pragma once

#include <cstdint>
#include <vector>

#include "sim/device_profile.h"

namespace kovran::sim {

inline constexpr std::size_t kEepromCalibrationBlock = 64;

// The whole block of a resolution index: the 64-byte information block and
// the data padded to whole blocks. Blank (0xFF) when the device keeps no
// calibration or none for that index.
std::vector<std::uint8_t> EepromCalibrationImage(const DeviceProfile& profile,
                                                 std::uint8_t resolutionIndex);

}  // namespace kovran::sim
