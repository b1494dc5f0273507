#include "sim/acquisition_model.h"

#include <algorithm>

#include "sim/scanner_model.h"

namespace kovran::sim {

void AcquisitionModel::TakeModeParameter(std::uint8_t code) {
    if (modeParameters_ == 0) return;
    --modeParameters_;
    modeCodes_.push_back(code);
}

void AcquisitionModel::OnSensorConfiguration(ScannerModel& model, const CommandCall& call) {
    // Only byte 1 (the option byte) is defined.
    call.reply->assign(8, 0);
    (*call.reply)[0] = 0x14;
    (*call.reply)[1] = model.Profile().sensorOptions;
}

void AcquisitionModel::OnStartCommand(ScannerModel& model, const CommandCall& call) {
    if (call.data) model.Acquisition().startCommand_.assign(call.data, call.data + 33);
}

void AcquisitionModel::OnStart(ScannerModel& model, const CommandCall&) {
    model.Acquisition().acquiring_ = true;
}

void AcquisitionModel::OnStop(ScannerModel& model, const CommandCall&) {
    model.Acquisition().acquiring_ = false;
}

void AcquisitionModel::OnLampLevels(ScannerModel& model, const CommandCall& call) {
    auto& levels = model.Acquisition().lampLevels_;
    if (call.data) std::copy_n(call.data, levels.size(), levels.begin());
}

void AcquisitionModel::OnModeCommand(ScannerModel& model, const CommandCall&) {
    model.Acquisition().modeCodes_.clear();
    model.Acquisition().modeParameters_ = 2;
}

}  // namespace kovran::sim
