// The acquisition side of a simulated scanner's firmware: the start
// command, the acquisition switch, the lamp levels and (older firmware) the
// mode command whose two parameters follow as sub-codes of the next D1
// commands.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/command_table.h"

namespace kovran::sim {

class AcquisitionModel {
  public:
    bool Acquiring() const { return acquiring_; }
    void SetAcquiring(bool on) { acquiring_ = on; }
    const std::vector<std::uint8_t>& StartCommand() const { return startCommand_; }
    const std::vector<std::uint8_t>& ModeCodes() const { return modeCodes_; }
    bool ExpectingModeParameter() const { return modeParameters_ > 0; }
    void TakeModeParameter(std::uint8_t code);

    static void OnSensorConfiguration(ScannerModel& model, const CommandCall& call);
    static void OnStartCommand(ScannerModel& model, const CommandCall& call);
    static void OnStart(ScannerModel& model, const CommandCall& call);
    static void OnStop(ScannerModel& model, const CommandCall& call);
    static void OnLampLevels(ScannerModel& model, const CommandCall& call);
    static void OnModeCommand(ScannerModel& model, const CommandCall& call);

  private:
    bool acquiring_ = false;
    std::vector<std::uint8_t> startCommand_;
    std::vector<std::uint8_t> modeCodes_;
    int modeParameters_ = 0;
    std::array<std::uint8_t, 8> lampLevels_{};
};

}  // namespace kovran::sim
