// Stage two of the correction: the planar lines of one side get the
// per-pixel calibration and the output curve in one table look-up per
// pixel. Each column of each channel has its own 256-entry table folding
// its gain, its black and the curve, built once per acquisition, so a line
// costs one load and one store per pixel. Margins outside the image width
// read 10, and a mirrored front is turned the right way round.
#pragma once

#include <cstdint>
#include <vector>

#include "acquisition/image_record.h"
#include "acquisition/output_curve.h"

namespace kovran::acquisition {

// What the margins outside the image width read after correction.
inline constexpr std::uint8_t kMarginValue = 10;

// Whether the front is mirrored over the image width (one model's sensor).
enum class Mirror : bool { No, Yes };

// The output byte for a raw byte: v = gain x (raw - black) truncated
// towards zero, then curve[clamp(v, 0, 255)].
std::uint8_t CorrectPixel(std::uint8_t raw, float gain, std::uint8_t black,
                          const CurveTable& curve);

class SideCorrector {
  public:
    // `gain` and `black` are per pixel of the side's channel lines
    // (channel c of pixel x at c x sensorPixels + x); missing entries are
    // 1 and 0. Without `apply` the pixels keep their raw values.
    SideCorrector(const ImageRecord& record, const std::vector<float>& gain,
                  const std::vector<std::uint8_t>& black, const CurveTable& curve, bool apply,
                  Mirror mirror);

    // Corrects lines [first, first + count) in place.
    void Correct(std::int32_t first, std::int32_t count);

    // Lines the record's memory holds.
    std::int32_t LinesHeld() const { return linesHeld_; }

  private:
    ImageRecord record_;
    std::size_t channels_ = 1;
    std::size_t left_ = 0;
    std::size_t width_ = 0;
    bool apply_ = false;
    bool mirror_ = false;
    std::int32_t linesHeld_ = 0;
    std::vector<std::uint8_t> tables_;  // [channel][column][256]
};

}  // namespace kovran::acquisition
