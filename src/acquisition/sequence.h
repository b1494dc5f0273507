// The sequence thread of an acquisition: it watches the double-sheet
// sensors through the device status while the document passes, lines their
// samples up with the image lines the correction thread hands over, and
// ends the acquisition with a double feed when a sensor sees two sheets for
// too long. The correction thread marks the lines where the document itself
// is dark under a sensor (dark print fools it).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "KovranMS.h"
#include "acquisition/acq_settings.h"
#include "acquisition/correction.h"
#include "acquisition/double_feed.h"
#include "acquisition/scan_state.h"
#include "acquisition/thr_acq.h"

namespace kovran::acquisition {

// Where the status comes from: the device on the thread's own handle, or a
// test's stand-in. Nothing when the status cannot be read.
using StatusSource = std::function<std::optional<std::uint32_t>()>;
// Sounds the buzzer (tone 0 switches it off) and waits the duration.
using BuzzerSink = std::function<void(std::uint8_t tone, std::uint16_t durationMs)>;

// The remapped status word's double-sheet sensors 1 to 3.
inline constexpr std::uint32_t kStatusDoubleSheetShift = 23;

// The sequence control block, filled by the acquisition before its threads
// start. The sequence thread writes only the flags and the result; the
// correction thread writes the dark marks and then the checked count.
struct SequenceBlock {
    WorkerFlags flags;
    std::atomic<bool> run{false};
    std::atomic<KVXResult> result{KVX_OK};

    // ---- What applies to this acquisition.
    // Not an ordinary forward scan (movement, calibration, backward).
    bool notApplicable = false;
    bool sequenceOption = false;     // the sequence option of the CMC7 strip
    bool doubleFeedApplies = false;  // the double feed is evaluated
    bool darkWindows = false;        // the correction marks dark windows
    bool background = false;         // the feeder's acquisition: not the host's last result
    int frontDpiV = 300;
    std::array<DarkThresholds, 2> thresholds{};  // rear, front
    // The buzzer for a double feed (tone 0: none) and the trace file ("":
    // none).
    bool buzzer = false;
    std::uint8_t buzzerTone = 0;
    std::uint16_t buzzerMs = 0;
    std::string tracePath;
    // Milliseconds to wait for the correction's first lines.
    std::int64_t firstLinesWaitMs = 1000;

    // ---- The acquisition's other threads.
    StreamState* stream = nullptr;
    const CorrectionBlock* correction = nullptr;
    const std::atomic<bool>* stopFlag = nullptr;
    StatusSource status;  // null: the device's, on an own handle
    BuzzerSink buzz;      // null: the device's buzzer

    // ---- Written by the correction thread: the dark-window marks of each
    // line (bit n: sensor n + 1), then the count of lines checked.
    std::array<std::atomic<std::uint8_t>, kSequenceLines> darkFront{};
    std::array<std::atomic<std::uint8_t>, kSequenceLines> darkRear{};
    std::atomic<std::int32_t> linesChecked{0};

    std::thread thread;
};

// Fills what applies from the call, the settings and the device. False on
// the models without the sensors (no thread runs there).
struct SequenceCall {
    AcqPurpose purpose = AcqPurpose::Ordinary;
    ScanDirection direction = ScanDirection::Forward;
    bool background = false;
};
bool PrepareSequence(SequenceBlock& block, const SequenceCall& call, const AcqSettings& settings,
                     const ImageSet& records);

// Whether the thread has anything to watch in this acquisition. Without,
// no thread is started: the acquisition logs the thread's end line itself
// and goes on with its two workers.
bool SequenceHasWork(const SequenceBlock& block);
void EndSequenceUnstarted(SequenceBlock& block);

// Hooks the dark-window check into the correction (before it starts).
void AttachLineCheck(SequenceBlock& block, CorrectionBlock& correction);

// Starts and joins the thread; `active` is the flag KVXStop waits on.
bool StartSequenceThread(SequenceBlock& block, std::atomic<bool>& active);
void JoinSequenceThread(SequenceBlock& block, std::atomic<bool>& active);

// The thread body.
void ThrSeq_0x3000(SequenceBlock* block);

// The correction's hook: marks the dark windows of lines [first, first +
// lines) and publishes them as checked.
void CheckDarkWindows(CorrectionBlock& correction, std::int32_t first, std::int32_t lines);

}  // namespace kovran::acquisition
