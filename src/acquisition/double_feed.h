// The double-feed check's arithmetic, apart from its thread: the dark
// windows that excuse the sensors where the document itself is dark, and
// the line tables that line the double-sheet sensors' samples up with the
// image lines and count how long each sensor saw two sheets.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "acquisition/image_record.h"

namespace kovran::acquisition {

// The double-sheet sensors ahead of the image sensors, numbered 1 to 3 in
// the log; index 0 to 2 here and bit 0 to 2 in the masks.
inline constexpr int kDoubleSheetSensors = 3;
// Lines the tables follow; later lines are neither sampled nor counted.
inline constexpr std::int32_t kSequenceLines = 8192;

enum class SensorFace : std::uint8_t { Rear, Front };

// The columns a sensor sees on one face, in pixels of the side's
// horizontal resolution from the image's left edge: [first, last).
struct SensorWindow {
    int first = 0;
    int last = 0;
};
SensorWindow WindowOf(SensorFace face, int sensor, int dpiH);

// Per channel, pixels below `dark` count towards a dark column and pixels
// above `bright` count against it.
struct DarkThresholds {
    std::array<std::uint8_t, 5> dark{};
    std::array<std::uint8_t, 5> bright{};
};
// From the calibration's black and white levels; without a calibration the
// fixed pair 10 and 128.
DarkThresholds ThresholdsFrom(const std::array<std::uint8_t, 5>& black,
                              const std::array<std::uint8_t, 5>& white, bool calibrated);

// How far a column's count must rise for a block of `lines` new lines.
int RunLimit(int lines);

// The sensors (bit 0 to 2) whose window holds a dark column in lines
// [first, first + lines) of the side's planar lines.
std::uint8_t DarkWindows(const ImageRecord& side, SensorFace face, std::int32_t first,
                         std::int32_t lines, const DarkThresholds& thresholds);

// The sensor distances and the double-sheet limit at the front's vertical
// resolution.
struct SequenceGeometry {
    std::int32_t sensorDistance = 472;  // sensors ahead of the image line
    std::int32_t rearDistance = 272;    // rear dark flags behind the front line
    std::int32_t limit = 100;           // lines of double sheet that are a double feed
    int dpiV = 300;
};
SequenceGeometry GeometryFor(int frontDpiV);

// A double feed: the sensor (0 to 2) and its count at the front's dpi.
struct DoubleFeedFound {
    int sensor = 0;
    std::int32_t count = 0;
};

// The line tables of one acquisition, owned by the sequence thread.
class DoubleFeedLines {
  public:
    explicit DoubleFeedLines(const SequenceGeometry& geometry) : g_(geometry) {}

    // Records the sensor bits sampled while line `line` was new, and counts
    // the line that lies under the image sensors now. `darkFront` and
    // `darkRear` give the dark-window masks of a line; `evaluate` off keeps
    // the counts at 0 (the check only watches). A count above the limit is
    // a double feed.
    template <class FrontDark, class RearDark>
    std::optional<DoubleFeedFound> Take(std::int32_t line, std::uint8_t bits, FrontDark darkFront,
                                        RearDark darkRear, bool evaluate);

    const SequenceGeometry& Geometry() const { return g_; }
    // The highest count each sensor reached.
    std::int32_t Highest(int sensor) const { return highest_[static_cast<std::size_t>(sensor)]; }
    // The table row of a line, for the trace.
    struct Row {
        std::uint8_t bits = 0;
        std::uint8_t darkFront = 0;
        std::uint8_t darkRear = 0;
        std::array<std::int32_t, kDoubleSheetSensors> count{};
    };
    const Row& At(std::int32_t line) const { return rows_[static_cast<std::size_t>(line)]; }

  private:
    SequenceGeometry g_;
    std::array<Row, kSequenceLines> rows_{};
    std::array<std::int32_t, kDoubleSheetSensors> count_{};
    std::array<std::int32_t, kDoubleSheetSensors> highest_{};
};

// Lines at the front's dpi as lines at 300 dpi.
inline std::int32_t At300(std::int32_t lines, int dpiV) {
    return dpiV > 0 ? lines * 300 / dpiV : lines;
}

template <class FrontDark, class RearDark>
std::optional<DoubleFeedFound> DoubleFeedLines::Take(std::int32_t line, std::uint8_t bits,
                                                     FrontDark darkFront, RearDark darkRear,
                                                     bool evaluate) {
    if (line < 0 || line >= kSequenceLines) return std::nullopt;
    Row& row = rows_[static_cast<std::size_t>(line)];
    row.bits = bits;
    if (line < g_.sensorDistance) return std::nullopt;
    // The sample of D lines ago saw the paper that lies under the image
    // sensors now.
    const std::uint8_t seen = rows_[static_cast<std::size_t>(line - g_.sensorDistance)].bits;
    row.darkFront = darkFront(line);
    row.darkRear = darkRear(line - g_.rearDistance);
    std::optional<DoubleFeedFound> found;
    for (int s = 0; s < kDoubleSheetSensors; ++s) {
        const auto i = static_cast<std::size_t>(s);
        const std::uint8_t bit = static_cast<std::uint8_t>(1u << s);
        if ((seen & bit) == 0) {
            count_[i] = 0;
        } else if ((row.darkFront & bit) == 0 && (row.darkRear & bit) == 0 && evaluate) {
            ++count_[i];
            highest_[i] = std::max(highest_[i], count_[i]);
            if (count_[i] > g_.limit && !found) found = DoubleFeedFound{s, count_[i]};
        }
        row.count[i] = count_[i];
    }
    return found;
}

}  // namespace kovran::acquisition
