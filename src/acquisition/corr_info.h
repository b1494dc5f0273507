// The correction information of the mode in force: per side (rear, front,
// backlight) the lamp levels and the black and white references, and the
// gain coefficients derived from them for one acquisition. Without a
// calibration the references are white 255 and black 0, so the gain is 1
// and the correction only applies the output curve.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "KovranMS.h"
#include "device/acq_mode.h"

namespace kovran::acquisition {

// A lamp level asking for the model's maximum; the start command caps it.
inline constexpr std::uint16_t kLevelModelMaximum = 1000;
// The backlight's level when the ini sets none.
inline constexpr std::uint16_t kDefaultBacklightLevel = 150;

struct CorrInfo {
    // Red, green, blue (grey in channel 0), infrared, ultraviolet.
    std::array<std::uint16_t, 5> level{};
    std::array<std::uint8_t, 5> whiteLevel{};
    std::array<std::uint8_t, 5> blackLevel{};
    // One byte per pixel per channel line: channel c of pixel x at
    // c * pixels + x. Empty when missing.
    std::vector<std::uint8_t> white;
    std::vector<std::uint8_t> black;
    std::uint16_t pixels = 0;
    std::uint16_t bytes = 0;
    std::uint16_t mode = 0;
};

struct CorrInfoRecord {
    std::array<CorrInfo, 3> sides;  // rear, front, backlight
    // Per side, pixels x channels entries; rebuilt for every acquisition.
    std::array<std::vector<float>, 3> gain;
};

CorrInfoRecord& CorrInfos();

// Allocates the references of the sides of `geometry` (the backlight only
// with `backlightOn`, whose references are otherwise dropped). On failure
// the whole information is freed and the result is KVX_ERR_WRITE, after
// KVX_ERR_OUT_OF_MEMORY with its message.
KVXResult CreateCorrInfo(const std::array<SideGeometry, 3>& geometry, bool backlightOn);

// The references of no calibration: white 255, black 0; levels cleared and
// the lamp levels at their defaults.
void SetDefaultReferences();

// Drops every reference and coefficient.
void FreeCorrInfo();

// The white-to-black amplification numerator for a document type: 255 for
// the types whose paper must not be driven to white, else 265.
float GainNumerator(std::int32_t typeDoc);

// Gain of every pixel of a side: 1 without references or while
// calibrating; K / d for d = white - black of at least 26, 10 for a smaller
// positive d, 1 for d <= 0. Entries beyond the references' length are 1.
std::vector<float> BuildGain(const CorrInfo& info, std::size_t entries, float k, bool calibrating);

}  // namespace kovran::acquisition
