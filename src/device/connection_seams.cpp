#include "device/connection_seams.h"

#include "device/control_request.h"
#include "device/transport.h"

namespace kovran::device {

namespace {

constexpr std::uint32_t kInkjet1Configuration = 0x51;
constexpr std::uint32_t kInkjet2Configuration = 0x55;
constexpr unsigned kInkjetConfigurationBytes = 64;

// Installed once by the composition root before any export runs, or by a
// test before it opens a device.
ConnectionSeams& Seams() {
    static ConnectionSeams seams;
    return seams;
}

bool ReadInkjetBlock(InkjetType type) {
    std::uint8_t block[kInkjetConfigurationBytes] = {};
    const std::uint32_t sub =
        type == InkjetType::One ? kInkjet1Configuration : kInkjet2Configuration;
    return ControlMsg(kClassConfig, sub, block, sizeof block, Direction::In) ==
           static_cast<int>(sizeof block);
}

}  // namespace

void InstallConnectionSeams(const ConnectionSeams& seams) {
    Seams() = seams;
}

void ResetLineCorrection() {
    if (Seams().resetLineCorrection) Seams().resetLineCorrection();
}
void SwitchStripeReader(StripeReader state) {
    if (Seams().switchStripeReader) Seams().switchStripeReader(state);
}
bool ReadInkjetInformation(InkjetType type) {
    return Seams().readInkjetInformation ? Seams().readInkjetInformation(type)
                                         : ReadInkjetBlock(type);
}
CalibrationState CurrentCalibrationState() {
    return Seams().calibrationState ? Seams().calibrationState() : CalibrationState::Present;
}
bool CleaningRequired() {
    return Seams().cleaningRequired && Seams().cleaningRequired();
}
void ClearStopRequest() {
    if (Seams().clearStopRequest) Seams().clearStopRequest();
}
void StopAcquisition() {
    if (Seams().stopAcquisition) Seams().stopAcquisition();
}
bool FeederAcquisitionRunning() {
    return Seams().feederAcquisitionRunning && Seams().feederAcquisitionRunning();
}
void StopInkjets() {
    if (Seams().stopInkjets) Seams().stopInkjets();
}
void StopInkjetType2() {
    if (Seams().stopInkjetType2) Seams().stopInkjetType2();
}
void MoveFeederBriefly() {
    if (Seams().moveFeederBriefly) Seams().moveFeederBriefly();
}
int InkjetMinimumFireCount() {
    return Seams().inkjetMinimumFireCount ? Seams().inkjetMinimumFireCount() : 1;
}
bool MicrTracing() {
    return Seams().micrTracing && Seams().micrTracing();
}
bool MicrDisablingAdf() {
    return Seams().micrDisablingAdf && Seams().micrDisablingAdf();
}

}  // namespace kovran::device
