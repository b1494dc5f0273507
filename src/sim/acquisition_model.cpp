#include "sim/acquisition_model.h"

#include <algorithm>

#include "api/log.h"
#include "platform/clock.h"
#include "sim/mode_table_device.h"
#include "sim/scanner_model.h"
#include "sim/start_command.h"

namespace kovran::sim {

AcquisitionModel::AcquisitionModel() = default;
AcquisitionModel::~AcquisitionModel() = default;

void AcquisitionModel::AdvanceSheet() {
    if (!sheet_ || !stream_ || !streamOnSheet_) return;
    sheetInches_ += stream_->PaperInchesSent();
    streamOnSheet_ = false;
}

void AcquisitionModel::BeginStream(ScannerModel& model) {
    AdvanceSheet();
    stream_.reset();
    current_.reset();
    refusal_.clear();
    state_ = StreamState::Ended;
    sim::StartCommand start;
    StreamPlan plan;
    std::string why;
    std::vector<std::uint8_t> command = startCommand_;
    const bool older = FirmwareVersion(model.Firmware()) < 0x3000;
    if (older && !OlderStart(model, &command, &why)) {
        refusal_ = why;
    } else if (command.empty()) {
        refusal_ = "GO without a start command";
    } else if (!DecodeStartCommand(command, &start, &why) ||
               !PlanStream(model.Profile(), start, &plan, &why)) {
        refusal_ = why;
    }
    if (refusal_.empty() && older) {
        // Older firmware is told no line count: it sends the document and
        // 2.5 inches after it.
        const int trailing = plan.dpiV * (plan.channelLines + (plan.backlightPixels > 0)) * 5 / 2;
        plan.start.trailingLines = static_cast<std::uint16_t>(std::min(trailing, 0xFFFF));
    }
    // A refused GO moves no paper: the document and the faults armed for
    // it wait for the next acquisition.
    DocumentFaults faults;
    double offset = 0.0;
    const bool movement = plan.channelLines == 0 || plan.LineBytes() == 0;
    bool carriedOut = false;
    if (refusal_.empty() && sheet_ && (movement || sheetInches_ >= SheetLength(*sheet_))) {
        // A timed paper movement carries the sheet out; a passed sheet is
        // gone and the next document comes.
        carriedOut = movement;
        sheet_.reset();
    }
    if (carriedOut) {
        // Nothing else moves in with it.
    } else if (refusal_.empty() && sheet_) {
        current_ = *sheet_;
        offset = sheetInches_;
        streamOnSheet_ = true;
    } else if (refusal_.empty()) {
        SimDocument document;
        if (model.Feeder().Take(&document)) {
            if (document.staysInPath && !movement) {
                sheet_ = document;
                sheetInches_ = 0.0;
                streamOnSheet_ = true;
            }
            fed_.push_back(document.name);
            current_ = std::move(document);
        }
        if (model.Faults() != nullptr) faults = model.Faults()->TakeDocumentFaults();
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
        std::move(faults), platform::SteadyNowNs(), offset);
    state_ = StreamState::Streaming;
}

bool AcquisitionModel::SheetInPath() const {
    if (!sheet_) return false;
    const double sent = streamOnSheet_ && stream_ ? stream_->PaperInchesSent() : 0.0;
    return sheetInches_ + sent < SheetLength(*sheet_);
}

double AcquisitionModel::SheetLength(const SimDocument& d) {
    const double dpi = d.feed == FeedEdge::Left ? d.dpiX : d.dpiY;
    const int along = d.feed == FeedEdge::Left ? d.width : d.height;
    return dpi > 0.0 ? along / dpi : 0.0;
}

bool AcquisitionModel::ContinueStream(const ScannerModel& model) {
    if (!stream_ || FirmwareVersion(model.Firmware()) < 0x3000) return false;
    sim::StartCommand start;
    StreamPlan plan;
    std::string why;
    if (!DecodeStartCommand(startCommand_, &start, &why) ||
        !PlanStream(model.Profile(), start, &plan, &why) || !stream_->Continue(plan))
        return false;
    state_ = StreamState::Streaming;
    return true;
}

bool AcquisitionModel::OlderStart(const ScannerModel& model, std::vector<std::uint8_t>* out,
                                  std::string* why) const {
    int mode = -1;
    if (older_.forcedMode) {
        mode = *older_.forcedMode;
    } else if (modeCodes_.size() == 2) {
        // The mode command's parameters: the line code, then the
        // resolution code, each as the low byte of its value.
        for (int m = 0; m < 8 && mode < 0; ++m) {
            DeviceModeRequest r;
            r.firmware = FirmwareVersion(model.Firmware());
            r.pid = model.Profile().pid;
            r.highSpeed = model.Profile().highSpeed;
            r.colour = older_.colour;
            r.frontOn = older_.front;
            r.rearOn = older_.rear;
            r.mode = m;
            const std::optional<DeviceStream> s = DeviceModeStream(r);
            if (s && (s->lineCode & 0xFF) == modeCodes_[0] &&
                (s->resolutionCode & 0xFF) == modeCodes_[1])
                mode = m;
        }
    }
    if (mode < 0) {
        *why = "GO without an acquisition mode";
        return false;
    }
    std::vector<std::uint8_t> b(kStartCommandBytes, 0);
    b[0] = static_cast<std::uint8_t>(mode);
    b[1] = static_cast<std::uint8_t>((older_.colour ? 1 : 0) | (older_.front ? 2 : 0) |
                                     (older_.rear ? 4 : 0));
    b[10] = b[11] = 0xFF;
    *out = std::move(b);
    return true;
}

void AcquisitionModel::OnRearOff(ScannerModel& model, const CommandCall&) {
    model.Acquisition().older_.rear = false;
}

void AcquisitionModel::OnRearOn(ScannerModel& model, const CommandCall&) {
    model.Acquisition().older_.rear = true;
}

void AcquisitionModel::OnFrontOn(ScannerModel& model, const CommandCall&) {
    model.Acquisition().older_.front = true;
}

void AcquisitionModel::OnFrontOff(ScannerModel& model, const CommandCall&) {
    model.Acquisition().older_.front = false;
}

void AcquisitionModel::OnGrey(ScannerModel& model, const CommandCall&) {
    model.Acquisition().older_.colour = false;
}

void AcquisitionModel::OnColour(ScannerModel& model, const CommandCall&) {
    model.Acquisition().older_.colour = true;
}

void AcquisitionModel::OnForcedMode(ScannerModel& model, const CommandCall& call) {
    AcquisitionModel& a = model.Acquisition();
    a.older_.forcedMode = call.request.sub - 0x1F;
    a.modeCodes_.clear();
}

void AcquisitionModel::EndStream() {
    AdvanceSheet();
    stream_.reset();
    current_.reset();
    state_ = StreamState::Idle;
}

void AcquisitionModel::PowerLost() {
    EndStream();
    refusal_.clear();
    acquiring_ = false;
    startCommand_.clear();
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
    // GO takes the next document (firmware with the threaded acquisition;
    // the two-pipe firmware below 0x2100 is not modelled), unless the
    // document of the last GO is still in the path: without the end of
    // acquisition in between, GO goes on with it.
    if (FirmwareVersion(model.Firmware()) < 0x2100) return;
    if (!a.ContinueStream(model)) a.BeginStream(model);
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
    model.Acquisition().older_.forcedMode.reset();
    model.Acquisition().modeCodes_.clear();
    model.Acquisition().modeParameters_ = 2;
}

}  // namespace kovran::sim
