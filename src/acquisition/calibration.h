// The calibration in force: which mode's file is loaded into the
// correction information, whether the library is calibrated, whether the
// sensors want cleaning, and the calibration files of the device.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "KovranMS.h"
#include "acquisition/calib_file.h"
#include "acquisition/eeprom_calib.h"

namespace kovran::acquisition {

struct CalibrationRecord {
    std::atomic<bool> calibrated{false};
    // The sensors want cleaning (dust found, or the register file says so).
    std::atomic<bool> cleaning{false};
    // A sheet calibration runs: loads skip their checks and the EEPROM.
    bool calibrating = false;
    // The mode code whose file the references hold; -1: none loaded. The
    // feeder's background acquisition loads too.
    std::atomic<std::int32_t> loadedMode{-1};
    // The lamp levels of a calibration pass (rear, front), sent instead of
    // the loaded ones while calibrating.
    std::array<std::array<std::uint16_t, 5>, 2> passLevels{};
};
CalibrationRecord& Calibration();

// Horizontal resolution every calibration file is kept at: the sensor's
// own. Scans at other resolutions take the references resampled.
inline constexpr int kCalibrationDpi = 300;

// The settings a calibration mode is made of. A check of other modes
// describes them here rather than changing the settings in force, which
// the feeder's background acquisition reads meanwhile.
struct CalibrationSettings {
    std::int32_t color = 1;
    bool backlightOn = false;
    bool rearOff = false;
    bool cmc7Strip = false;
    std::int32_t typeDoc = 0;
};
CalibrationSettings SettingsInForce();

// The mode code of the settings in force.
std::uint16_t CurrentModeCode(const CalibrationSettings& s = SettingsInForce());
// The file of the settings in force (logs the length rules' lines).
std::string CurrentCalibrationFileName(CalibrationNaming naming,
                                       const CalibrationSettings& s = SettingsInForce());
// The sides of the settings in force, in file order (rear, front,
// backlight), with the bytes of each at the calibration resolution.
struct FileSides {
    std::vector<int> sides;  // kRear, kFront, kBacklight
    BcfLayout layout;
    int pixels = 0;
    int channels = 1;
};
FileSides CurrentFileSides(const CalibrationSettings& s = SettingsInForce());
// Sensor pixels of a channel line at a horizontal resolution.
int SensorPixels(int dpiH);

// Whether the device keeps a copy of its calibration in its EEPROM.
bool KeepsEepromCalibration();
// The device's EEPROM block as read once for the loads of a whole check:
// every mode's file is made from the same block, which takes some five
// hundred control transfers to read.
struct EepromCopy {
    std::uint8_t index = 0;  // the block's resolution index; 0: none read
    std::vector<EepromSide> sides;
};
// The sides of a file of `f` from the EEPROM block of the front's
// resolution in force (300 or 600 dpi), taken from `copy` when it holds
// that block and kept there when read. False, with the reason logged,
// when the device's copy is missing, damaged or unfit for the mode.
bool ReadEepromCalibration(const FileSides& f, std::vector<BcfSide>* out,
                           EepromCopy* copy = nullptr);

// Loads the file of the mode in force into the correction information
// (already created for the mode's geometry). Falls back to the defaults
// when there is none or it is unusable. True when calibrated. A check
// reads and validates the file and changes nothing.
// A check reads the file of `checked`; a load always that of the
// settings in force.
enum class LoadUse : bool { Apply, Check };
bool LoadCalibration(LoadUse use = LoadUse::Apply,
                     const CalibrationSettings& checked = SettingsInForce(),
                     EepromCopy* copy = nullptr);
// Loads again only when the mode changed since the last load or `force`.
void EnsureCalibrationLoaded(bool force);
// Forgets what was loaded, so the next acquisition loads again.
void ForgetLoadedCalibration();

// Writes the file of the mode in force (`sides` in file order), through a
// temporary file renamed over the old one. KVX_ERR_WRITE on failure.
KVXResult WriteCalibrationFile(const std::string& name, const std::vector<BcfSide>& sides,
                               const BcfLayout& layout);
// An empty file: the calibration of this mode failed.
KVXResult WriteEmptyCalibrationFile(const std::string& name);

// The register file's cleaning request: written as "1" or "0".
void WriteCleaningRequired(bool required);
bool ReadCleaningRequired();

}  // namespace kovran::acquisition
