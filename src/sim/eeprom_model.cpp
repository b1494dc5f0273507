#include "sim/eeprom_model.h"

#include "sim/eeprom_calibration.h"

#include <algorithm>

#include "sim/scanner_model.h"

namespace kovran::sim {

void ReplyDigits(std::uint16_t value, std::uint8_t first, std::vector<std::uint8_t>* out) {
    out->assign({first, static_cast<std::uint8_t>((value >> 12) & 0xF),
                 static_cast<std::uint8_t>((value >> 8) & 0xF),
                 static_cast<std::uint8_t>((value >> 4) & 0xF),
                 static_cast<std::uint8_t>(value & 0xF)});
}

void ReplyLe32(std::uint32_t v, std::vector<std::uint8_t>* out) {
    out->assign({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

void IncrementCounter(std::uint32_t& counter) {
    if (counter < 0xFFFFFFFFu) ++counter;
}

void EepromModel::OnReadConfiguration(ScannerModel& model, const CommandCall& call) {
    auto block = EncodeConfigBlock(model.Profile());
    call.reply->assign(block.begin(), block.end());
}

void EepromModel::OnReadFirmware(ScannerModel& model, const CommandCall& call) {
    ReplyDigits(model.Profile().firmware, 0x02, call.reply);
}

void EepromModel::OnReadFirmware3000(ScannerModel& model, const CommandCall& call) {
    ReplyDigits(model.Profile().fw3000Version.value_or(0), 0x3C, call.reply);
}

void EepromModel::OnReadHardwareKey(ScannerModel& model, const CommandCall& call) {
    *call.reply = model.Profile().hardwareKey;
    call.reply->resize(kMaxCommandBytes, 0);
}

void EepromModel::OnReadMicrBlock(ScannerModel& model, const CommandCall& call) {
    const auto& block = model.Profile().micrBlock;
    call.reply->assign(block.begin(), block.end());
}

void EepromModel::OnReadDeviceConfiguration(ScannerModel& model, const CommandCall& call) {
    const auto& block = model.Profile().deviceConfig;
    call.reply->assign(block.begin(), block.end());
}

void EepromModel::OnWritePhotoTuning(ScannerModel& model, const CommandCall& call) {
    auto& tuning = model.Eeprom().photoTuning_;
    if (call.data) std::copy_n(call.data, tuning.size(), tuning.begin());
}

void EepromModel::OnReadPhotoTuning(ScannerModel& model, const CommandCall& call) {
    const auto& tuning = model.Eeprom().photoTuning_;
    call.reply->assign(tuning.begin(), tuning.end());
}

void EepromModel::OnSelectCalibration(ScannerModel& model, const CommandCall& call) {
    EepromModel& e = model.Eeprom();
    e.calibration_ = EepromCalibrationImage(model.Profile(), call.data ? call.data[0] : 0);
    e.calibrationAt_ = 0;
}

void EepromModel::OnReadCalibration(ScannerModel& model, const CommandCall& call) {
    EepromModel& e = model.Eeprom();
    const std::size_t block = e.calibrationAt_ / kEepromCalibrationBlock;
    const std::uint32_t failing = model.Profile().eepromCalibrationFailBlock;
    // A failing block answers nothing: the host sees a short reply.
    if (failing != 0 && block == failing) return;
    if (e.calibrationAt_ >= e.calibration_.size()) {
        call.reply->assign(kEepromCalibrationBlock, 0xFF);
        return;
    }
    const auto from = e.calibration_.begin() + static_cast<std::ptrdiff_t>(e.calibrationAt_);
    call.reply->assign(from, from + kEepromCalibrationBlock);
    e.calibrationAt_ += kEepromCalibrationBlock;
}

void EepromModel::OnReadPageCounter(ScannerModel& model, const CommandCall& call) {
    ReplyLe32(model.Eeprom().pageCounter_, call.reply);
}

void EepromModel::OnIncrementPageCounter(ScannerModel& model, const CommandCall&) {
    IncrementCounter(model.Eeprom().pageCounter_);
}

}  // namespace kovran::sim
