// The acquisition side of a simulated scanner's firmware: the start
// command, the acquisition switch, the lamp levels and (older firmware) the
// mode command whose two parameters follow as sub-codes of the next D1
// commands.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/acquisition_stream.h"
#include "sim/command_table.h"
#include "sim/fault_plan.h"
#include "sim/feeder.h"

namespace kovran::sim {

// Where the bulk-in stream stands.
enum class StreamState : std::uint8_t {
    Idle,       // no acquisition: a read ends at once with nothing
    Armed,      // start command taken: reads wait for GO
    Streaming,  // after GO: reads fill from the stream
    Ended,      // the stream was sent (or refused): reads end with nothing
};

class AcquisitionModel {
  public:
    AcquisitionModel();
    ~AcquisitionModel();
    AcquisitionModel(const AcquisitionModel&) = delete;
    AcquisitionModel& operator=(const AcquisitionModel&) = delete;

    bool Acquiring() const { return acquiring_; }
    void SetAcquiring(bool on) { acquiring_ = on; }
    const std::vector<std::uint8_t>& StartCommand() const { return startCommand_; }
    const std::vector<std::uint8_t>& ModeCodes() const { return modeCodes_; }
    bool ExpectingModeParameter() const { return modeParameters_ > 0; }
    void TakeModeParameter(std::uint8_t code);

    StreamState State() const { return state_; }
    AcquisitionStream* Stream() { return stream_.get(); }
    const AcquisitionStream* Stream() const { return stream_.get(); }
    // The document moving through the device (from GO to the end).
    const std::optional<SimDocument>& Current() const { return current_; }
    // The names of the documents taken from the feeder, in the order taken
    // (what a host may check its images against: none lost, none twice).
    const std::vector<std::string>& Fed() const { return fed_; }
    // Why the last GO streams nothing (empty when it streams).
    const std::string& Refusal() const { return refusal_; }
    // The stream sent its last byte.
    void MarkEnded() { state_ = StreamState::Ended; }

    static void OnSensorConfiguration(ScannerModel& model, const CommandCall& call);
    static void OnStartCommand(ScannerModel& model, const CommandCall& call);
    static void OnStart(ScannerModel& model, const CommandCall& call);
    static void OnStop(ScannerModel& model, const CommandCall& call);
    static void OnLampLevels(ScannerModel& model, const CommandCall& call);
    static void OnModeCommand(ScannerModel& model, const CommandCall& call);

  private:
    void BeginStream(ScannerModel& model);
    void EndStream();

    StreamState state_ = StreamState::Idle;
    std::unique_ptr<AcquisitionStream> stream_;
    std::optional<SimDocument> current_;
    std::vector<std::string> fed_;
    std::string refusal_;
    bool acquiring_ = false;
    std::vector<std::uint8_t> startCommand_;
    std::vector<std::uint8_t> modeCodes_;
    int modeParameters_ = 0;
    std::array<std::uint8_t, 8> lampLevels_{};
};

}  // namespace kovran::sim
