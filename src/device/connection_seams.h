// The steps of the open, the close and the reset that belong to the scan,
// the line correction, the stripe reader, the inkjet and the calibration.
// Those live in layers above the device link; they install their steps
// here. Until they do, each step keeps the default noted with it.
#pragma once

#include <cstdint>

namespace kovran::device {

enum class StripeReader : bool { Off, On };
enum class InkjetType : std::uint8_t { One = 1, Two = 2 };
enum class CalibrationState : bool { Missing, Present };

struct ConnectionSeams {
    // The line correction back to its initial values (no-op).
    void (*resetLineCorrection)() = nullptr;
    // The magnetic stripe reader switched off or on (no-op).
    void (*switchStripeReader)(StripeReader) = nullptr;
    // Reads an inkjet's 64-byte configuration block; true when it arrived.
    // Default: the block is read (0xD0, 0x51 or 0x55) and thrown away.
    bool (*readInkjetInformation)(InkjetType) = nullptr;
    // Whether the calibration of the device is present (default: present).
    CalibrationState (*calibrationState)() = nullptr;
    // Whether the register file asks for a cleaning; may set the warning
    // KVX_WAR_DIRTY (default: no).
    bool (*cleaningRequired)() = nullptr;
    // Clears the stop request of the scan (no-op).
    void (*clearStopRequest)() = nullptr;
    // Stops the acquisition and waits for the feeder thread to end (no-op).
    void (*stopAcquisition)() = nullptr;
    // True while the feeder acquisition thread runs (default: false).
    bool (*feederAcquisitionRunning)() = nullptr;
    // Stops both inkjets (no-op).
    void (*stopInkjets)() = nullptr;
    // Stops the type 2 inkjet's printing when it runs (no-op).
    void (*stopInkjetType2)() = nullptr;
    // A 1 ms feeder movement with the scan settings kept (no-op).
    void (*moveFeederBriefly)() = nullptr;
    // The inkjet's minimum fire count (default 1).
    int (*inkjetMinimumFireCount)() = nullptr;
    // "MICR tracing" and "MICR disabling ADF" are on (default: off).
    bool (*micrTracing)() = nullptr;
    bool (*micrDisablingAdf)() = nullptr;
};

// Installs the steps (the composition root; tests). Null members keep
// their defaults.
void InstallConnectionSeams(const ConnectionSeams& seams);

void ResetLineCorrection();
void SwitchStripeReader(StripeReader state);
bool ReadInkjetInformation(InkjetType type);
CalibrationState CurrentCalibrationState();
bool CleaningRequired();
void ClearStopRequest();
void StopAcquisition();
bool FeederAcquisitionRunning();
void StopInkjets();
void StopInkjetType2();
void MoveFeederBriefly();
int InkjetMinimumFireCount();
bool MicrTracing();
bool MicrDisablingAdf();

}  // namespace kovran::device
