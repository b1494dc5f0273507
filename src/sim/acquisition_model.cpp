#include "sim/acquisition_model.h"

#include <algorithm>

#include "api/log.h"
#include "platform/clock.h"
#include "sim/scanner_model.h"
#include "sim/start_command.h"

namespace kovran::sim {

AcquisitionModel::AcquisitionModel() = default;
AcquisitionModel::~AcquisitionModel() = default;

void AcquisitionModel::BeginStream(ScannerModel& model) {
    stream_.reset();
    current_.reset();
    refusal_.clear();
    SimDocument document;
    if (model.Feeder().Take(&document)) {
        fed_.push_back(document.name);
        current_ = std::move(document);
    }
    DocumentFaults faults;
    if (model.Faults() != nullptr) faults = model.Faults()->TakeDocumentFaults();
    state_ = StreamState::Ended;
    sim::StartCommand start;
    StreamPlan plan;
    std::string why;
    if (startCommand_.empty()) {
        refusal_ = "GO without a start command";
    } else if (!DecodeStartCommand(startCommand_, &start, &why) ||
               !PlanStream(model.Profile(), start, &plan, &why)) {
        refusal_ = why;
    }
    DocumentImages images;
    if (refusal_.empty() && current_ && !current_->Render(&images, &why)) refusal_ = why;
    if (!refusal_.empty()) {
        // The firmware streams nothing; the host sees an empty document.
        LogPair("war - ", ("sim: " + refusal_).c_str());
        return;
    }
    stream_ = std::make_unique<AcquisitionStream>(
        plan, model.Profile().stream, current_ ? &*current_ : nullptr, current_ ? &images : nullptr,
        std::move(faults), platform::SteadyNowNs());
    state_ = StreamState::Streaming;
}

void AcquisitionModel::EndStream() {
    stream_.reset();
    current_.reset();
    state_ = StreamState::Idle;
}

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
    AcquisitionModel& a = model.Acquisition();
    if (call.data) a.startCommand_.assign(call.data, call.data + 33);
    // The old request form carries no data: the device keeps what it had.
    if (a.state_ != StreamState::Streaming) a.state_ = StreamState::Armed;
}

void AcquisitionModel::OnStart(ScannerModel& model, const CommandCall&) {
    AcquisitionModel& a = model.Acquisition();
    a.acquiring_ = true;
    // GO of the streaming firmware takes the next document.
    if (FirmwareVersion(model.Firmware()) >= 0x3000) a.BeginStream(model);
}

void AcquisitionModel::OnStop(ScannerModel& model, const CommandCall&) {
    AcquisitionModel& a = model.Acquisition();
    a.acquiring_ = false;
    a.EndStream();
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
