// Stage one of the correction: one raw line as the device streams it
// becomes the planar lines of the sides. Per channel line the read position
// is re-aligned when the stream slipped by a few bytes (the hardware
// aligner's leading 0 byte, or the software comparison with the previous
// line), front and rear are de-interleaved, the magnetic strip is appended
// to the CMC7 buffer and noise dropouts are repaired from the previous line.
//
// The hardware aligner's 0 byte is the first byte of each channel line (the
// first front pixel, in the sensor margin).
//
// The raw line is always copied into a scratch line first: on layouts
// without a lead the planar line overwrites the raw bytes it comes from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "acquisition/correction.h"

namespace kovran::acquisition {

// How the line is re-aligned; the hardware aligner wins over the software
// detection.
struct SplitOptions {
    bool realign = false;  // ordinary scans only
    bool hardwareAligner = false;
    bool softwareGlitch = false;
    bool softwareNoise = false;
    bool halfGlitchWindow = false;
};

// Largest accumulated re-alignment in bytes.
inline constexpr int kMaxGlitchOffset = 127;

class LineSplitter {
  public:
    LineSplitter(CorrectionBlock& block, const SplitOptions& options);

    // Splits raw line y. Only raw bytes below `limit` (the received count)
    // and below the transfer length are read; a line cut short is
    // completed with white.
    void Split(std::int32_t y, std::size_t limit);

    // The read position's accumulated shift (bytes), signed.
    int Offset() const { return offset_; }
    // A noise dropout was repaired in this acquisition.
    bool NoiseFound() const { return noiseFound_; }
    // The last channel line checked had its aligner marker neither in place
    // nor within reach of an allowed move: the stream ends read torn.
    bool MarkerLost() const { return markerLost_; }
    // Bytes past a line's nominal end that its re-aligned read may need.
    // A move inside a batch (or inside the line itself) can raise the
    // offset up to its largest value, so while the stream runs a line waits
    // for that much; reading fewer would complete it with white for good.
    std::size_t ReadAhead() const {
        const bool realigning =
            options_.realign && (options_.hardwareAligner || options_.softwareGlitch);
        return realigning ? static_cast<std::size_t>(kMaxGlitchOffset) : 0;
    }

  private:
    struct Segment {
        std::size_t start = 0;   // within the raw line
        std::size_t pixels = 0;  // bytes of pixels (front and rear interleaved)
        std::size_t strip = 0;   // magnetic bytes after them
        int channel = 0;         // -1: the backlight line
    };

    void Realign(std::int32_t y, const Segment& s, std::size_t limit);
    void AlignerResync(std::int32_t y, std::size_t pos, std::size_t limit);
    void SoftwareGlitch(std::int32_t y, const Segment& s, std::size_t pos, std::size_t limit);
    bool MoveAllowed(int next, std::size_t nominal) const;
    void CopyRaw(const Segment& s, std::size_t pos, std::size_t limit);
    void RepairNoise(const Segment& s);
    void Deinterleave(std::int32_t y, const Segment& s);
    void AppendStrip(const Segment& s);
    std::uint8_t* LineOf(int side, std::int32_t y, int channel) const;

    CorrectionBlock& block_;
    SplitOptions options_;
    bool markerLost_ = false;
    std::size_t lineLength_ = 0;
    std::vector<Segment> segments_;
    bool interleaved_ = false;
    int singleSide_ = 1;
    std::size_t window_ = 0;  // bytes compared at each end of a line
    std::size_t alignerSearch_ = 0;
    // Negative shifts would read bytes the planar lines already overwrote.
    bool backwardAllowed_ = true;
    std::array<std::size_t, 3> lineSpan_{};  // last byte written in a line, per side
    std::vector<std::uint8_t> current_;
    std::vector<std::uint8_t> previous_;
    bool havePrevious_ = false;
    int offset_ = 0;
    bool noiseFound_ = false;
};

}  // namespace kovran::acquisition
