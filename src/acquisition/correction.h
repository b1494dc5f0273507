// Line correction: what the correction thread shares with the acquisition
// that starts it, and the thread bodies. The acquisition thread writes raw
// lines into the working set's buffer and advances the received count; the
// correction thread follows it, splits each raw line into the planar image
// lines, copies the CMC7 strip out and applies the per-pixel calibration and
// the output curve.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "acquisition/acq_settings.h"
#include "acquisition/image_record.h"

namespace kovran::acquisition {

struct SequenceBlock;

// The flags a worker thread of an acquisition publishes. Each is written by
// the worker and read by the thread that waits for it.
struct WorkerFlags {
    std::atomic<bool> running{false};
    std::atomic<bool> ok{false};
    std::atomic<bool> error{false};
    std::atomic<bool> done{false};
};

// What the acquisition thread publishes while it streams.
struct StreamState {
    WorkerFlags acq;
    // Set to end the acquisition (stop, time-out, end of stream).
    std::atomic<bool> endFlag{false};
    // GO was sent and the first read is running.
    std::atomic<bool> dataFlowing{false};
    // Bytes of raw lines received so far; only whole lines below it are
    // complete.
    std::atomic<std::size_t> receivedBytes{0};
    // Bytes from the start of the target the device may have written:
    // the received ones, and the whole of any read that failed or was
    // cancelled (its bytes may have landed without being counted). Set by
    // the acquisition thread before it ends.
    std::atomic<std::size_t> touchedBytes{0};
    // False when the last read left more than an inch of its block empty.
    std::atomic<bool> documentComplete{true};
    // The sequence thread stopped the acquisition or reported an error.
    std::atomic<bool> sequenceStopped{false};
};

// Why paper moves: the correction thread behaves differently for each.
enum class CorrectionKind { Ordinary, Calibration, MoveByTime, Movement };

// The correction control block, filled by the acquisition before the
// threads start and read by the correction thread for the whole stream.
struct CorrectionBlock {
    WorkerFlags flags;
    // The working set's records (rear, front, backlight) at the start of
    // the acquisition: geometry and the lines to write.
    ImageSet records;
    // The first raw line as the device streams it.
    std::uint8_t* raw = nullptr;
    // Bytes the acquisition may receive, and the length of one raw line as
    // streamed (the scan line plus the CMC7 strip).
    std::size_t transferLength = 0;
    std::size_t rawLineLength = 0;
    // Milliseconds without new lines before the acquisition is ended.
    std::int64_t waitLimitMs = 120000;
    CorrectionKind kind = CorrectionKind::Ordinary;
    std::uint16_t firmware = 0;
    // Device capabilities that change the re-alignment.
    bool hardwareAligner = false;
    bool halfGlitchWindow = false;
    // Correction on (scan parameters) and the front mirrored (one model).
    bool correctionOn = true;
    bool mirrorFront = false;
    // The CMC7 strip: bytes of magnetic samples after each channel line (the
    // mode's magnetic ratio; a raw line is then stride + channels x
    // stripBytes), and the buffer they are appended to.
    std::size_t stripBytes = 0;
    std::uint8_t* cmc7 = nullptr;
    std::size_t cmc7Capacity = 0;
    // The acquisition thread's progress; never null while the thread runs.
    // Its thread stores receivedBytes (release) after the bytes are in the
    // buffer, and sets acq.done (with acq.error on failure) when it ends.
    const StreamState* stream = nullptr;
    // Filled by the acquisition: its end flag (&StreamState::endFlag), which
    // the correction raises when no line came within the wait limit, and
    // the stop flag of KVXStop. Either may be null.
    std::atomic<bool>* endRequest = nullptr;
    const std::atomic<bool>* stopFlag = nullptr;
    // Options of this acquisition (FillCorrectionOptions sets them from the
    // settings and the device; the acquisition calls it on its own thread).
    bool swGlitchDetection = false;
    bool swNoiseDetection = false;
    bool debugGlitch = false;
    std::string glitchDirectory;    // where the debug glitch images go
    std::int32_t msecValLines = 1;  // older thread: pause per arrived line
    // Filled by the sequence check when it watches the lines: on, the
    // correction runs every 5 ms and hands it fresh lines in small steps.
    bool lineCheck = false;
    void (*checkLines)(CorrectionBlock& block, std::int32_t firstLine,
                       std::int32_t lines) = nullptr;
    SequenceBlock* sequence = nullptr;  // what checkLines writes into
    // Written by the correction thread: lines and bytes finished per side,
    // and the magnetic samples appended so far.
    std::array<std::atomic<std::int32_t>, 3> lines{};
    std::array<std::atomic<std::int64_t>, 3> bytes{};
    std::atomic<std::size_t> cmc7Samples{0};
    // The read position's accumulated re-alignment (bytes gained less
    // bytes lost) when the thread ended; read after it was joined.
    int realignedBytes = 0;
    // With the hardware aligner: some line's marker could not be found
    // (read after the thread was joined).
    bool markerLost = false;
};

// The options of an acquisition from the settings in force and the device
// (firmware, aligner, mirrored front, correction flag, glitch and noise
// detection, debug glitch images); the block's kind must be set first.
void FillCorrectionOptions(CorrectionBlock& block, const AcqSettings& settings);
// The same from the settings in force (the host's thread).
void FillCorrectionOptions(CorrectionBlock& block);

// Writes one debug image of raw lines (grey, `lineLength` bytes per line)
// as a JPEG file; installed by a layer that has the encoder.
using GlitchImageWriter = void (*)(const char* path, const std::uint8_t* lines,
                                   std::size_t lineLength, std::int32_t count);
// Null: no debug glitch images are written.
void InstallGlitchImageWriter(GlitchImageWriter writer);

// Builds the per-side gain coefficients for this acquisition from the
// loaded references (1.0 without calibration). False when they cannot be
// allocated ("error creating correction coef").
bool PrepareCorrectionCoefficients(CorrectionKind kind, const AcqSettings& settings);
bool PrepareCorrectionCoefficients(CorrectionKind kind);
// Drops the coefficients at the end of the acquisition.
void FreeCorrectionCoefficients();

// Thread bodies: firmware 0x3000 and later, and the older firmware.
void ThrCor_0x3000(CorrectionBlock* block);
void ThrCorOld(CorrectionBlock* block);

}  // namespace kovran::acquisition
