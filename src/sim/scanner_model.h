// The firmware of a simulated scanner: checks each control command against
// the command table and hands it to the handler the table names, which acts
// on the concern that owns the command (status and feeder, acquisition,
// stripe, EEPROM, printer). Not thread-safe; the simulated scanner that
// owns it serialises access.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "sim/acquisition_model.h"
#include "sim/command_table.h"
#include "sim/device_profile.h"
#include "sim/eeprom_model.h"
#include "sim/feeder.h"
#include "sim/printer_model.h"
#include "sim/status_model.h"
#include "sim/stripe_model.h"

namespace kovran::sim {

// Status word bits as the device sends them (bits 16 to 31 are the flag
// value of bytes 3 and 4).
inline constexpr std::uint32_t kStatusEnabled = 0x2;
inline constexpr std::uint32_t kStatusDocumentAtInput = 0x4;
inline constexpr std::uint32_t kStatusBusy = 0x8;
inline constexpr std::uint32_t kStatusStripeOn = 0x1000;
inline constexpr std::uint32_t kStatusExternalPower = 0x10000;  // flag bit 0
inline constexpr std::uint32_t kStatusPhotocell = 0x20000;      // flag bit 1
// The three double-sheet sensors: bits 0 to 2 of status byte 4.
inline constexpr std::uint32_t kStatusDoubleSheet = 0x7000000;
inline constexpr int kDoubleSheetShift = 24;

// One command the device carried out.
struct ExecutedCommand {
    std::uint8_t cls = 0;
    std::uint8_t sub = 0;
    bool in = true;
    std::vector<std::uint8_t> data;  // the bytes written (OUT)
};

class ScannerModel {
  public:
    explicit ScannerModel(const DeviceProfile& profile);

    const DeviceProfile& Profile() const { return profile_; }
    // The firmware whose protocol and commands the device has.
    std::uint16_t Firmware() const { return profile_.ProtocolFirmware(); }
    CommandFeatures Features() const { return profile_.Features(); }

    // After the acquisition mode command of older firmware, the next two D1
    // commands carry the line code and the resolution code as sub-codes.
    bool ExpectingModeParameter() const { return acquisition_.ExpectingModeParameter(); }

    // Carries out a decoded request. 0 with *reply filled (reads), or 31
    // when the device stalls it (unknown command, wrong direction or
    // length).
    int Execute(const DecodedRequest& request, const std::uint8_t* outData,
                std::vector<std::uint8_t>* reply);

    // The 8-byte status block and the word it encodes.
    std::array<std::uint8_t, 8> StatusBlock() const;
    std::uint32_t StatusWord() const;
    // Bits forced on or off on top of the modelled state (tests).
    void ForceStatus(std::uint32_t set, std::uint32_t clear) { status_.Force(set, clear); }

    // The concerns.
    StatusModel& Status() { return status_; }
    const StatusModel& Status() const { return status_; }
    AcquisitionModel& Acquisition() { return acquisition_; }
    const AcquisitionModel& Acquisition() const { return acquisition_; }
    StripeModel& Stripe() { return stripe_; }
    const StripeModel& Stripe() const { return stripe_; }
    EepromModel& Eeprom() { return eeprom_; }
    const EepromModel& Eeprom() const { return eeprom_; }
    PrinterModel& Printer() { return printer_; }
    const PrinterModel& Printer() const { return printer_; }

    // The fault plan the stream takes its document faults from (owned by
    // the simulated scanner; null in a model alone).
    void SetFaults(FaultPlan* faults) { faults_ = faults; }
    FaultPlan* Faults() { return faults_; }

    FeederQueue& Feeder() { return status_.Feeder(); }
    const FeederQueue& Feeder() const { return status_.Feeder(); }

    bool Enabled() const { return status_.Enabled(); }
    bool Feeding() const { return status_.Feeding(); }
    bool Acquiring() const { return acquisition_.Acquiring(); }
    bool StripeOn() const { return stripe_.On(); }
    std::uint8_t BuzzerTone() const { return status_.Tone(); }
    // Every tone sounded, oldest first.
    const std::vector<sim::BuzzerTone>& BuzzerTones() const { return status_.Tones(); }
    std::uint32_t PageCounter() const { return eeprom_.PageCounter(); }
    std::uint32_t InkjetCounter() const { return printer_.InkjetCounter(); }
    const std::array<std::uint8_t, 8>& PhotoTuning() const { return eeprom_.PhotoTuning(); }
    const std::vector<std::uint8_t>& StartCommand() const { return acquisition_.StartCommand(); }
    // Line code and resolution code of the last mode command (older firmware).
    const std::vector<std::uint8_t>& ModeParameters() const { return acquisition_.ModeCodes(); }
    // The most recent commands, oldest first (at most kHistoryLength).
    const std::deque<ExecutedCommand>& History() const { return history_; }
    static constexpr std::size_t kHistoryLength = 1024;

  private:
    void Record(const DecodedRequest& request, const std::uint8_t* data);
    bool OldForm() const { return FirmwareVersion(Firmware()) < kRegisterFormFirmware; }

    DeviceProfile profile_;
    StatusModel status_;
    AcquisitionModel acquisition_;
    StripeModel stripe_;
    EepromModel eeprom_;
    PrinterModel printer_;
    std::deque<ExecutedCommand> history_;
    FaultPlan* faults_ = nullptr;
};

}  // namespace kovran::sim
