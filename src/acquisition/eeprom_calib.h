// The calibration a scanner keeps in its own EEPROM, one block per
// horizontal resolution (300 and 600 dpi), read when a mode has no
// calibration file. Pure functions: the fuzz target and the tests drive
// them without a device.
//
// Information block (64 bytes, the first read after the block is chosen):
//   0..15  serial number, NUL padded
//   16     resolution index (3: 300 dpi, 6: 600 dpi)
//   17     reserved
//   18..21 bytes of data that follow (little-endian)
// Data (read in 64-byte blocks, the last one padded):
//   header, 8 bytes: structure 1, sides, colours, resolution index,
//     pixels per channel line (`sizeCol`, 16 bits), 2 reserved
//   one record per side (rear first when the device has one, then the
//   front) and colour (red, green, blue), in that order:
//     sequence number, side (0 rear, 1 front), colour, resolution index,
//     lamp level (16 bits), white level, black level,
//     white reference (`sizeCol` bytes), black reference (`sizeCol` bytes)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "acquisition/calib_file.h"

namespace kovran::acquisition {

inline constexpr std::size_t kEepromBlockBytes = 64;
inline constexpr std::size_t kEepromSerialBytes = 16;
inline constexpr std::size_t kEepromHeaderBytes = 8;
inline constexpr std::size_t kEepromRecordHeaderBytes = 8;
inline constexpr int kEepromColours = 3;

// The block index of a horizontal resolution; 0 when the EEPROM has none.
std::uint8_t EepromResolutionIndex(int dpiH);

// What the device's EEPROM must hold for this library to use it.
struct EepromExpectation {
    std::string serial;
    std::uint8_t resolutionIndex = 0;
    int sides = 2;   // 1 on devices without a rear sensor
    int pixels = 0;  // sensor pixels of a channel line at the block's resolution
};
// Bytes of data the block of this expectation holds.
std::size_t EepromDataSize(const EepromExpectation& e);

// Checks the information block; false with the log line's text in *error
// (and the stored size in *storedSize for the size check).
bool CheckEepromInfo(std::span<const std::uint8_t, kEepromBlockBytes> info,
                     const EepromExpectation& e, std::uint32_t* storedSize, std::string* error);

// One side of the EEPROM's data: per colour its level, white and black
// levels, and `pixels` bytes of each reference.
struct EepromSide {
    std::array<std::uint16_t, kEepromColours> level{};
    std::array<std::uint8_t, kEepromColours> whiteLevel{};
    std::array<std::uint8_t, kEepromColours> blackLevel{};
    std::array<std::vector<std::uint8_t>, kEepromColours> white;
    std::array<std::vector<std::uint8_t>, kEepromColours> black;
};

// Reads the data (exactly EepromDataSize bytes or more, the padding of the
// last block ignored). False with the log line's text in *error; every
// field read is checked against the bytes there are first.
bool ParseEepromData(std::span<const std::uint8_t> data, const EepromExpectation& e,
                     std::vector<EepromSide>* sides, std::string* error);

// What a calibration file of the mode needs: channels per side (1 grey: the
// red lamp's line, 3 colour), the file's pixels, the sides wanted.
struct EepromTarget {
    int channels = 1;
    int pixels = 0;
    BcfLayout layout;
    std::vector<bool> rear;  // per file side: the rear's data (else the front's)
};
// The file sides of the mode from the EEPROM's sides, resampled to the
// file's pixels. False with the log line's text when the mode needs what
// the EEPROM does not have (infrared, ultraviolet, backlight).
bool EepromToFileSides(const std::vector<EepromSide>& eeprom, const EepromTarget& target,
                       std::vector<BcfSide>* out, std::string* error);

}  // namespace kovran::acquisition
