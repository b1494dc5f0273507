// What a simulated scanner keeps in its EEPROM and identification
// registers: configuration block, firmware versions, hardware key, MICR
// head block, device configuration, photocell tuning and the page counter.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/command_table.h"
#include "sim/device_profile.h"

namespace kovran::sim {

class EepromModel {
  public:
    explicit EepromModel(const DeviceProfile& profile)
        : pageCounter_(profile.pageCounter), photoTuning_(profile.photoTuning) {}

    std::uint32_t PageCounter() const { return pageCounter_; }
    const std::array<std::uint8_t, 8>& PhotoTuning() const { return photoTuning_; }

    static void OnReadConfiguration(ScannerModel& model, const CommandCall& call);
    static void OnReadFirmware(ScannerModel& model, const CommandCall& call);
    static void OnReadFirmware3000(ScannerModel& model, const CommandCall& call);
    static void OnReadHardwareKey(ScannerModel& model, const CommandCall& call);
    static void OnReadMicrBlock(ScannerModel& model, const CommandCall& call);
    static void OnReadDeviceConfiguration(ScannerModel& model, const CommandCall& call);
    static void OnWritePhotoTuning(ScannerModel& model, const CommandCall& call);
    static void OnReadPhotoTuning(ScannerModel& model, const CommandCall& call);
    static void OnReadPageCounter(ScannerModel& model, const CommandCall& call);
    static void OnIncrementPageCounter(ScannerModel& model, const CommandCall& call);
    // 0xD0/0x11 chooses the calibration block of a resolution; each
    // 0xD0/0x13 hands out its next 64 bytes (eeprom_calibration.h).
    static void OnSelectCalibration(ScannerModel& model, const CommandCall& call);
    static void OnReadCalibration(ScannerModel& model, const CommandCall& call);

  private:
    std::uint32_t pageCounter_ = 0;
    std::array<std::uint8_t, 8> photoTuning_{};
    std::vector<std::uint8_t> calibration_;
    std::size_t calibrationAt_ = 0;
};

// Helpers shared by the concerns' replies.
void ReplyDigits(std::uint16_t value, std::uint8_t first, std::vector<std::uint8_t>* out);
void ReplyLe32(std::uint32_t value, std::vector<std::uint8_t>* out);
void IncrementCounter(std::uint32_t& counter);

}  // namespace kovran::sim
