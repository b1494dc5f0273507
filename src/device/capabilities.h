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
    // The window limits of the reading are fixed.
    std::int16_t windowHigh = 130;
    std::int16_t windowLow = -130;
};

struct DeviceCapabilities {
    std::uint32_t configuration = 0;   // configuration word
    std::uint16_t configuration2 = 0;  // second configuration word (FW above 0x3FFF)
    std::uint8_t cisVoltage = 0;
    std::uint16_t sensorType = 0;  // bits 3 to 5 of the sensor option byte
    // Bit 15 of the version register: a flag apart from the version, which
    // only KVXDeviceInfo hands back.
    bool firmwareFlag15 = false;

    bool rearCamera = false;
    bool adf = false;
    bool adfDisabledByIni = false;  // "ADF"/"disable": no ADF, photocell bit not reported
    bool inkjetType1Present = false;
    bool inkjetType2Present = false;
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
    // Configuration bit 22 (above FW 0x5000): feature flags 1 and 2 off,
    // acquisition modes 6 and 7 disabled.
    bool noModes6And7 = false;
    // Configuration bits 24 and 31 (above FW 0x5009): calibration options
    // that restrict the acquisition modes.
    bool calibrationOption24 = false;
    bool calibrationOption31 = false;
    // Option flags stored for the device's own sake (no behaviour of the
    // library depends on them yet).
    bool optionFlag2 = false;
    bool optionFlag20 = false;
    bool optionFlag26 = false;
    bool optionFlag29 = false;
    bool optionWord2Bit1 = false;

    // Status bits the device reports (otherwise the status word clears them).
    bool reportsStatus200 = false;      // bit 4
    bool reportsStatus400 = false;      // bit 5
    bool reportsStatus800 = false;      // bit 6
    bool reportsStatus40000 = false;    // bit 7
    bool reportsStatus80000 = false;    // bit 11
    bool reportsStatus100000 = false;   // bit 13
    bool reportsStatus200000 = false;   // bit 18
    bool reportsStatus400000 = false;   // bit 25
    bool reportsStatus4000000 = false;  // second word bit 4

    // The page and inkjet totals live in the device's counter register.
    bool pageCounterRegister = false;

    // The side the codeline is read on and its opposite, to which every
    // acquisition resets its sides: front and rear, rear and front on PID 11.
    std::int32_t codelineSide = 1;
    std::int32_t otherSide = 0;

    // Index 1 to 5 (index 0 unused), as the flags are numbered.
    std::array<bool, 6> sensorOption{};
    // Index 1 to 11 (index 0 unused).
    std::array<bool, 12> feature{};

    MicrHead micr;

    // A configuration bit, numbered as the device documents it.
    bool ConfigurationBit(int bit) const { return ((configuration >> bit) & 1u) != 0; }
};

}  // namespace kovran
