// The calibration of one acquisition mode as it is kept on disk: the mode
// code that names it, the file name, the ".bcf" layout (no header, sides
// from the rear to the front, then the backlight) and the shaping of the
// loaded references. Pure functions: the fuzz target and the tests drive
// them without a device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "acquisition/corr_info.h"

namespace kovran::acquisition {

// What the mode code is made of.
struct ModeCodeInputs {
    bool infrared = false;
    bool ultraviolet = false;
    bool backlight = false;
    bool highSpeed = false;
    bool cmc7Strip = false;
    std::int32_t stripVariant = 0;  // the strip option's value
    std::int32_t colourMode = 1;    // 1 grey, 2 colour, 3..5 single lamps
    std::int32_t typeDoc = 0;       // 0..7
    bool rearOff = false;
    bool rearSwitchable = true;  // devices whose rear cannot be switched ignore rearOff
};
std::uint16_t CalibrationModeCode(const ModeCodeInputs& in);

enum class CalibrationNaming : bool { Old, New };

struct FileNameInputs {
    std::string directory;  // empty: the name alone
    std::uint16_t pid = 0;
    std::string serial;
    std::uint16_t firmware = 0;
    std::uint16_t mode = 0;
    bool infrared = false;
    bool ultraviolet = false;
    CalibrationNaming naming = CalibrationNaming::New;
};
// The name; *badSerial / *badDirectory tell the caller which of the two
// length rules replaced a part (each logs its line).
std::string CalibrationFileName(const FileNameInputs& in, bool* badSerial, bool* badDirectory);
// The prefix every calibration file of a device starts with.
std::string CalibrationFilePrefix(std::uint16_t pid, const std::string& serial);

// One side of a file: its reference length in bytes (0: side absent).
struct BcfLayout {
    int levels = 3;                        // 5 with infrared or ultraviolet support
    std::vector<std::uint16_t> sideBytes;  // file order
};

struct BcfSide {
    std::array<std::uint16_t, 5> level{};
    std::array<std::uint8_t, 5> whiteLevel{};
    std::array<std::uint8_t, 5> blackLevel{};
    std::vector<std::uint8_t> white;
    std::vector<std::uint8_t> black;
};

// Bytes a file of this layout has; 0 when the layout is unusable.
std::size_t BcfSize(const BcfLayout& layout);

// Reads a whole file. False with *error when the length is not exactly the
// layout's (an empty file is a mode whose calibration failed).
bool ParseBcf(std::span<const std::uint8_t> bytes, const BcfLayout& layout,
              std::vector<BcfSide>* sides, std::string* error);
// The file's bytes; sides shorter than the layout are padded with zeros.
std::vector<std::uint8_t> SerializeBcf(const BcfLayout& layout, const std::vector<BcfSide>& sides);

// The reference shaping of one side over its channels: the margins take
// the sheet's mean, the inner inch on each side and the inner range get
// their dark pixels repaired. Returns true when three or more dark pixels
// in a row (dust on the sensor) were found. `left` and `right` bound the
// image inside the sensor line; `dpiH` is the inch kept clear of them.
struct ShapeInputs {
    int channels = 1;
    int pixels = 0;
    int left = 0;
    int right = 0;
    int dpiH = 0;
    bool eeprom = false;  // the black is repaired too
};
enum class ShapeOutcome : std::uint8_t { Clean, Dust, Unusable };
ShapeOutcome ShapeReferences(const ShapeInputs& in, std::span<const std::uint8_t> whiteLevel,
                             std::span<const std::uint8_t> blackLevel,
                             std::vector<std::uint8_t>& white, std::vector<std::uint8_t>& black,
                             bool* deltaReplaced);

}  // namespace kovran::acquisition
