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
    // A sheet that stays in the paper path still covers the input sensor.
    bool SheetInPath() const;
    // The names of the documents taken from the feeder, in the order taken
    // (what a host may check its images against: none lost, none twice).
    const std::vector<std::string>& Fed() const { return fed_; }
    // Why the last GO streams nothing (empty when it streams).
    const std::string& Refusal() const { return refusal_; }
    // The stream sent its last byte.
    void MarkEnded() { state_ = StreamState::Ended; }
    // Unplugged, the firmware loses its acquisition: the stream, GO and
    // the start command. The documents taken stay taken.
    void PowerLost();

    static void OnSensorConfiguration(ScannerModel& model, const CommandCall& call);
    static void OnStartCommand(ScannerModel& model, const CommandCall& call);
    static void OnStart(ScannerModel& model, const CommandCall& call);
    static void OnStop(ScannerModel& model, const CommandCall& call);
    static void OnLampLevels(ScannerModel& model, const CommandCall& call);
    static void OnModeCommand(ScannerModel& model, const CommandCall& call);
    // The set-up requests of older firmware (below 0x3000), which has no
    // start command: sides, colour and the forced mode.
    static void OnRearOff(ScannerModel& model, const CommandCall& call);
    static void OnRearOn(ScannerModel& model, const CommandCall& call);
    static void OnFrontOn(ScannerModel& model, const CommandCall& call);
    static void OnFrontOff(ScannerModel& model, const CommandCall& call);
    static void OnGrey(ScannerModel& model, const CommandCall& call);
    static void OnColour(ScannerModel& model, const CommandCall& call);
    static void OnForcedMode(ScannerModel& model, const CommandCall& call);

  private:
    struct OlderSetUp {
        bool front = true;
        bool rear = true;
        bool colour = false;
        std::optional<int> forcedMode;
    };
    void BeginStream(ScannerModel& model);
    // GO again without the end of acquisition: true when the stream under
    // way takes the new start command's lines.
    bool ContinueStream(const ScannerModel& model);
    // The start command older firmware would have had, from its set-up.
    bool OlderStart(const ScannerModel& model, std::vector<std::uint8_t>* out,
                    std::string* why) const;
    OlderSetUp older_;
    void EndStream();
    // A sheet that stays in the paper path (the calibration sheet) moves on
    // by what the stream on it scanned.
    void AdvanceSheet();
    static double SheetLength(const SimDocument& d);

    StreamState state_ = StreamState::Idle;
    std::unique_ptr<AcquisitionStream> stream_;
    std::optional<SimDocument> current_;
    std::vector<std::string> fed_;
    std::optional<SimDocument> sheet_;
    double sheetInches_ = 0.0;
    bool streamOnSheet_ = false;
    std::string refusal_;
    bool acquiring_ = false;
    std::vector<std::uint8_t> startCommand_;
    std::vector<std::uint8_t> modeCodes_;
    int modeParameters_ = 0;
    std::array<std::uint8_t, 8> lampLevels_{};
};

}  // namespace kovran::sim
