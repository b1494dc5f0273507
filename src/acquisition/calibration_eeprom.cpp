// The device's own copy of its calibration, read when a mode has no file.
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "acquisition/calibration.h"
#include "acquisition/eeprom_calib.h"
#include "api/log.h"
#include "device/acq_mode.h"
#include "device/control_request.h"
#include "device/device_record.h"
#include "device/refusable_command.h"

namespace kovran::acquisition {
namespace {

constexpr std::uint32_t kSelectCalibrationBlock = 0x11;
constexpr std::uint32_t kReadCalibrationBlock = 0x13;
// The sensor option byte that carries the flag is read from this firmware
// on; below it the flag is only its starting value.
constexpr std::uint16_t kFirstFirmwareWithSensorOptions = 0x3104;
constexpr int kEepromFlag = 5;

// One 64-byte read; a refusal or a short reply leaves the device usable
// (it answered) and fails only the EEPROM path.
bool ReadBlock(std::uint8_t* block) {
    return device::ControlMsgMayRefuse(device::kClassConfig, kReadCalibrationBlock, block,
                                       kEepromBlockBytes, device::Direction::In) ==
           static_cast<int>(kEepromBlockBytes);
}

}  // namespace

bool KeepsEepromCalibration() {
    const DeviceIdentity id = device::Identity();
    return id.firmware >= kFirstFirmwareWithSensorOptions &&
           id.capabilities.sensorOption[kEepromFlag];
}

namespace {

// The sides of the device's block `expect` names, read whole from the
// device and checked.
bool ReadEepromSides(std::uint8_t index, const EepromExpectation& expect,
                     std::vector<EepromSide>* sides) {
    std::array<std::uint8_t, kEepromBlockBytes> info{};
    if (device::ControlMsgMayRefuse(device::kClassConfig, kSelectCalibrationBlock, &index, 1,
                                    device::Direction::Out) != 1 ||
        !ReadBlock(info.data())) {
        LogText("calibration info read");
        return false;
    }
    std::uint32_t stored = 0;
    std::string error;
    if (!CheckEepromInfo(info, expect, &stored, &error)) {
        if (error == "invalid EEPROM calibration data - size")
            LogValue(error.c_str(), static_cast<int>(stored));
        else
            LogText(error);
        return false;
    }
    // The stored size equals the size this device's sensor gives: the
    // buffer below is bounded by the library's own geometry, not by the
    // device's word.
    const std::size_t size = EepromDataSize(expect);
    std::vector<std::uint8_t> data((size + kEepromBlockBytes - 1) / kEepromBlockBytes *
                                   kEepromBlockBytes);
    for (std::size_t at = 0; at < data.size(); at += kEepromBlockBytes) {
        if (!ReadBlock(data.data() + at)) {
            LogText("calibration data read");
            return false;
        }
    }
    if (!ParseEepromData(data, expect, sides, &error)) {
        LogText(error);
        return false;
    }
    return true;
}

}  // namespace

bool ReadEepromCalibration(const FileSides& f, std::vector<BcfSide>* out, EepromCopy* copy) {
    const DeviceIdentity id = device::Identity();
    const int dpiH = device::AcqMode().geometry[kFront].dpiH;
    const std::uint8_t index = EepromResolutionIndex(dpiH);
    if (index == 0) return false;
    EepromTarget target{.channels = f.channels, .pixels = f.pixels, .layout = f.layout, .rear = {}};
    for (int side : f.sides) {
        // The EEPROM holds the reflected light of the colour lamps only.
        if (side == kBacklight || f.layout.levels != 3) {
            LogText("invalid dpi or color in calibration update");
            return false;
        }
        target.rear.push_back(side == kRear);
    }
    const EepromExpectation expect{.serial = id.serialNumber,
                                   .resolutionIndex = index,
                                   .sides = id.capabilities.rearCamera ? 2 : 1,
                                   .pixels = SensorPixels(dpiH)};
    std::vector<EepromSide> read;
    const std::vector<EepromSide>* sides = &read;
    if (copy != nullptr && copy->index == index) {
        sides = &copy->sides;
    } else {
        if (!ReadEepromSides(index, expect, &read)) return false;
        if (copy != nullptr) {
            copy->index = index;
            copy->sides = std::move(read);
            sides = &copy->sides;
        }
    }
    std::string error;
    if (!EepromToFileSides(*sides, target, out, &error)) {
        LogText(error);
        return false;
    }
    return true;
}

}  // namespace kovran::acquisition
