// The firmware of a simulated scanner: what each control command does to
// the device and what it answers. Not thread-safe; the simulated scanner
// that owns it serialises access.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "sim/command_table.h"
#include "sim/device_profile.h"
#include "sim/feeder.h"

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

// One tone of the buzzer: from its switch-on to the next buzzer command
// (installed clock, ms); open while it still sounds.
struct BuzzerTone {
    std::uint8_t tone = 0;
    std::int64_t startMs = 0;
    std::optional<std::int64_t> endMs;
};

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
    bool ExpectingModeParameter() const { return modeParameters_ > 0; }

    // Carries out a decoded request. 0 with *reply filled (reads), or 31
    // when the device stalls it (unknown command, wrong direction or
    // length).
    int Execute(const DecodedRequest& request, const std::uint8_t* outData,
                std::vector<std::uint8_t>* reply);

    // The 8-byte status block and the word it encodes.
    std::array<std::uint8_t, 8> StatusBlock() const;
    std::uint32_t StatusWord() const;
    // Bits forced on or off on top of the modelled state (tests).
    void ForceStatus(std::uint32_t set, std::uint32_t clear);

    FeederQueue& Feeder() { return feeder_; }
    const FeederQueue& Feeder() const { return feeder_; }

    bool Enabled() const { return enabled_; }
    bool Feeding() const { return feeding_; }
    bool Acquiring() const { return acquiring_; }
    bool StripeOn() const { return stripeOn_; }
    std::uint8_t BuzzerTone() const { return buzzerTone_; }
    // Every tone sounded, oldest first.
    const std::vector<sim::BuzzerTone>& BuzzerTones() const { return buzzerTones_; }
    std::uint32_t PageCounter() const { return pageCounter_; }
    std::uint32_t InkjetCounter() const { return inkjetCounter_; }
    const std::array<std::uint8_t, 8>& PhotoTuning() const { return photoTuning_; }
    const std::vector<std::uint8_t>& StartCommand() const { return startCommand_; }
    // Line code and resolution code of the last mode command (older firmware).
    const std::vector<std::uint8_t>& ModeParameters() const { return modeCodes_; }
    // The most recent commands, oldest first (at most kHistoryLength).
    const std::deque<ExecutedCommand>& History() const { return history_; }
    static constexpr std::size_t kHistoryLength = 1024;

  private:
    void Reply(const CommandSpec& spec, const DecodedRequest& request,
               std::vector<std::uint8_t>* reply);
    void Act(const DecodedRequest& request, const std::uint8_t* data);
    void Record(const DecodedRequest& request, const std::uint8_t* data);
    bool OldForm() const { return FirmwareVersion(Firmware()) < kRegisterFormFirmware; }
    bool Family3000() const { return FirmwareVersion(Firmware()) >= 0x3000; }

    DeviceProfile profile_;
    FeederQueue feeder_;
    bool enabled_ = false;
    bool feeding_ = false;
    bool acquiring_ = false;
    bool stripeOn_ = false;
    std::uint8_t buzzerTone_ = 0;
    std::vector<sim::BuzzerTone> buzzerTones_;
    void SwitchBuzzer(std::uint8_t tone);
    std::uint32_t pageCounter_ = 0;
    std::uint32_t inkjetCounter_ = 0;
    std::array<std::uint8_t, 8> photoTuning_{};
    std::array<std::uint8_t, 8> lampLevels_{};
    std::vector<std::uint8_t> startCommand_;
    std::vector<std::uint8_t> modeCodes_;
    int modeParameters_ = 0;
    std::uint32_t forceSet_ = 0;
    std::uint32_t forceClear_ = 0;
    std::deque<ExecutedCommand> history_;
};

}  // namespace kovran::sim
