// One acquisition's bulk-in stream: the document laid on the sensors as
// the paper path moves it, turned into raw lines in the exact layout of
// the mode (planar channel lines, front and rear interleaved byte by byte,
// the CMC7 strip after each channel line, the backlight line, aligner
// bytes), through the per-pixel sensor model, followed by the trailing
// length and ended by a short read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/device_profile.h"
#include "sim/fault_plan.h"
#include "sim/feeder.h"
#include "sim/sensor_model.h"
#include "sim/start_command.h"

namespace kovran::sim {

// The byte an aligner glitch inserts; never 0, so the library's aligner
// search finds the real marker after it.
inline constexpr std::uint8_t kGlitchByte = 0x80;
// How far upstream of the front sensor the double-sheet sensors lie
// (1/300 inch).
inline constexpr int kDoubleSheetAhead300 = 472;
// What a noise dropout reads.
inline constexpr std::uint8_t kDropoutRaw = 3;

class AcquisitionStream {
  public:
    // `images` is null when the feeder was empty (the stream then carries
    // the background for the trailing length only). `startNs` is GO on the
    // installed clock.
    AcquisitionStream(const StreamPlan& plan, const StreamSettings& settings,
                      const SimDocument* document, const DocumentImages* images,
                      DocumentFaults faults, std::int64_t startNs, double paperOffsetInches = 0.0);

    // Moves up to `max` bytes that are due at `nowNs` into out; *ended when
    // the stream has nothing more to send.
    std::size_t Produce(std::uint8_t* out, std::size_t max, std::int64_t nowNs, bool* ended);

    // The host asks for more lines of the same document: the second part
    // of an acquisition in two parts, whose first part ended at the lines
    // it asked for. False when `next` lays its lines out otherwise.
    bool Continue(const StreamPlan& next);

    const StreamPlan& Plan() const { return plan_; }
    std::uint32_t TotalLines() const { return totalLines_; }
    std::uint32_t LinesSent() const { return nextLine_; }
    std::uint64_t BytesSent() const { return bytesSent_; }
    // GO on the installed clock.
    std::int64_t StartNs() const { return startNs_; }
    // The paper still covers the input sensor.
    bool DocumentAtInput() const { return hasDocument_ && nextLine_ < documentEndLine_; }
    // The scan line at which the document's leading edge reaches the
    // front sensor (before skew).
    std::uint32_t LeadLines() const { return leadLines_; }
    std::uint32_t RearDelayLines() const { return rearDelayLines_; }
    std::uint32_t FrontDelayLines() const { return frontDelayLines_; }
    // How far along the document the paper has moved past the front
    // sensor by the lines sent so far, counted from where this stream
    // started on it.
    double PaperInchesSent() const;
    // The document's own length along the paper path (0 without one).
    double DocumentInches() const { return hasDocument_ ? lengthInches_ : 0.0; }
    // The double-sheet sensors (bits 0 to 2) that see two sheets now: they
    // lie upstream of the front sensor and see the paper before it does.
    std::uint8_t DoubleSheetSensors() const;

    // The reflectance a side's sensor pixel sees at scan line `line`,
    // channel `channel` of the plan (tests compare against it).
    std::uint8_t Reflectance(SensorSide side, std::uint32_t line, int channel, int pixel) const;
    // Raw magnetic sample j of the strip, counted from the stream's start.
    std::uint8_t MagneticSample(std::uint64_t j) const;

  private:
    void ComposeLine(std::uint32_t k);
    void SampleSide(SensorSide side, std::uint32_t k, int pixels,
                    std::vector<std::uint8_t>* refl) const;
    bool OnPaper(double u, double v) const;
    // Which image a sensor sees, and how its described pixels are turned
    // onto the sensor's line order.
    enum class Face { Front, Rear, Backlight };
    struct Flips {
        bool x = false;
        bool y = false;
    };
    Flips FaceFlips(Face face) const;
    std::uint8_t SampleAt(const SimImage& img, Face face, double u, double v, int channel,
                          std::uint8_t outside) const;

    StreamPlan plan_;
    StreamSettings settings_;
    bool hasDocument_ = false;
    SimDocument document_;
    DocumentImages images_;
    DocumentFaults faults_;
    std::int64_t startNs_ = 0;
    std::uint32_t leadLines_ = 0;
    std::uint32_t frontDelayLines_ = 0;
    std::uint32_t rearDelayLines_ = 0;
    // The lines a side's sensor sees the paper after the first sensor does;
    // the backlight is taken with the front.
    std::uint32_t DelayLines(SensorSide side) const {
        return side == SensorSide::Rear ? rearDelayLines_ : frontDelayLines_;
    }
    // The paper has passed every sensor this many lines after the first.
    std::uint32_t LastDelayLines() const { return std::max(frontDelayLines_, rearDelayLines_); }
    std::uint32_t documentEndLine_ = 0;
    std::uint32_t totalLines_ = 0;
    double lengthInches_ = 0.0;
    double acrossInches_ = 0.0;
    double cosA_ = 1.0;
    double sinA_ = 0.0;
    // The document was already under the sensors by this much at GO.
    double paperOffset_ = 0.0;
    // Per side and channel: dark offset and gain of each pixel.
    std::vector<std::vector<float>> dark_[3];
    std::vector<std::vector<float>> gain_[3];

    std::vector<std::uint8_t> line_;
    std::size_t lineOffset_ = 0;
    std::uint32_t nextLine_ = 0;
    std::uint64_t bytesSent_ = 0;
    std::vector<std::uint8_t> reflScratch_[3];
};

}  // namespace kovran::sim
