// What the open learned about the scanner beyond its USB identity: the
// configuration words, the option and feature flags derived from them and
// from the firmware version, and the MICR head block. Filled by the
// identification of the open and the reopen and by the composition queries;
// read by the mode set-up, the scan, the reading and the printing.
#pragma once

#include <array>
#include <cstdint>

namespace kovran {

// The MICR head block (command 0xD0, 0x28) and the values derived from it.
struct MicrHead {
    bool usable = false;     // 16 bytes read, byte 1 bit 0, high speed
    bool frontSide = false;  // byte 1 bit 1: the head reads the front
    std::int32_t rotation = 256;
    bool flag1 = false;
    bool flag2 = false;
    bool flag3 = false;  // reversed head
    std::int16_t offset = 0;
    std::uint16_t greyLineRateLimit = 0;
    std::uint16_t colourResolutionLimit = 0;
    std::uint8_t ratioOneSide = 0;
    std::uint8_t ratioBothSides = 0;
    std::uint16_t imageWidth300 = 0;  // head image width in pixels at 300 dpi
};

struct DeviceCapabilities {
    std::uint32_t configuration = 0;   // configuration word
    std::uint16_t configuration2 = 0;  // second configuration word (FW above 0x3FFF)
    std::uint8_t cisVoltage = 0;
    std::uint16_t sensorType = 0;  // bits 3 to 5 of the sensor option byte

    bool rearCamera = false;
    bool adf = false;
    bool inkjetType1 = false;  // present and usable
    bool inkjetType2 = false;  // present and usable
    bool micrHeadPresent = false;
    bool externalPowerSensing = false;
    bool doubleFeedSensor = false;
    bool backlight = false;
    // The side (0 rear, 1 front) whose resolution the backlight image shares.
    std::uint8_t backlightSide = 1;
    bool slowAcquisition = false;  // configuration bit 19; parameter 104 changes it
    bool photoTuning = false;
    bool alignerData = false;
    bool buzzer = false;

    // Index 1 to 5 (index 0 unused), as the flags are numbered.
    std::array<bool, 6> sensorOption{};
    // Index 1 to 11 (index 0 unused).
    std::array<bool, 12> feature{};

    MicrHead micr;

    // A configuration bit, numbered as the device documents it.
    bool ConfigurationBit(int bit) const { return ((configuration >> bit) & 1u) != 0; }
};

}  // namespace kovran
