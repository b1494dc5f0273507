// The panel side of a simulated scanner: enabled or not, the feeder motor,
// the buzzer, the documents waiting in the feeder and the status bits tests
// force on top of the modelled state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/command_table.h"
#include "sim/feeder.h"

namespace kovran::sim {

// One tone of the buzzer: from its switch-on to the next buzzer command
// (installed clock, ms); open while it still sounds.
struct BuzzerTone {
    std::uint8_t tone = 0;
    std::int64_t startMs = 0;
    std::optional<std::int64_t> endMs;
};

class StatusModel {
  public:
    bool Enabled() const { return enabled_; }
    bool Feeding() const { return feeding_; }
    std::uint8_t Tone() const { return buzzerTone_; }
    const std::vector<BuzzerTone>& Tones() const { return buzzerTones_; }
    FeederQueue& Feeder() { return feeder_; }
    const FeederQueue& Feeder() const { return feeder_; }

    void SetEnabled(bool on) { enabled_ = on; }
    void SetFeeding(bool on) { feeding_ = on; }
    void SwitchBuzzer(std::uint8_t tone);
    // "" keeps the tones in memory only.
    void SetBuzzerLog(std::string path) { buzzerLog_ = std::move(path); }
    void Force(std::uint32_t set, std::uint32_t clear);
    std::uint32_t Forced(std::uint32_t word) const { return (word | forceSet_) & ~forceClear_; }

    static void OnReadStatus(ScannerModel& model, const CommandCall& call);
    static void OnEnable(ScannerModel& model, const CommandCall& call);
    static void OnDisable(ScannerModel& model, const CommandCall& call);
    static void OnBuzzerOn(ScannerModel& model, const CommandCall& call);
    static void OnBuzzerOff(ScannerModel& model, const CommandCall& call);
    static void OnFeedStart(ScannerModel& model, const CommandCall& call);
    static void OnFeedStop(ScannerModel& model, const CommandCall& call);

  private:
    FeederQueue feeder_;
    bool enabled_ = false;
    bool feeding_ = false;
    std::uint8_t buzzerTone_ = 0;
    std::vector<BuzzerTone> buzzerTones_;
    std::string buzzerLog_;
    std::uint32_t forceSet_ = 0;
    std::uint32_t forceClear_ = 0;
};

}  // namespace kovran::sim
