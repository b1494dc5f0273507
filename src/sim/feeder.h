// The documents waiting in a simulated scanner's feeder. Each document is
// a description (generated, or image files on disk) that is turned into
// pixels when the scanner takes it for an acquisition, so a long queue
// costs no memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kovran::sim {

// An 8-bit image, row by row, grey (1 channel) or RGB (3, interleaved).
// Values are reflectances: 255 white paper, 0 black ink.
struct SimImage {
    int width = 0;
    int height = 0;
    int channels = 1;
    std::vector<std::uint8_t> pixels;

    bool Empty() const { return width <= 0 || height <= 0; }
    // Channel c of pixel (x, y); grey images answer their one value for
    // every channel. No bounds check: callers stay inside.
    std::uint8_t At(int x, int y, int c) const {
        const std::size_t i = (static_cast<std::size_t>(y) * width + x) * channels;
        return pixels[i + (channels == 3 ? c : 0)];
    }
};

// The magnetic head's raw samples along the document: sample 0 at the
// leading edge, `rawPerInch` samples per inch, `baseline` where no ink is.
struct MagneticTrack {
    std::vector<std::uint8_t> samples;
    double rawPerInch = 3000.0;
    std::uint8_t baseline = 128;
};

// Which edge of the front image reaches the sensors first. The sensor
// line lies across the paper path, so the image axis that runs along the
// path becomes the stream's line order.
enum class FeedEdge : std::uint8_t {
    Left,  // the image's width runs along the paper path (cheques, landscape)
    Top,   // its height does (a page fed portrait)
};

// A document's pixels as the scanner takes it.
struct DocumentImages {
    SimImage front;
    SimImage rear;  // seen from its own face: mirrored left to right
    std::optional<SimImage> backlight;
    MagneticTrack magnetic;
};

// How a generated document looks.
struct GeneratedLook {
    std::uint32_t seed = 1;
    bool colour = false;
    int widthPx = 1800;  // 6 inches at 300 dpi
    int heightPx = 825;  // 2.75 inches
    bool backlight = false;
    bool magnetic = true;
};

struct SimDocument {
    std::string name;
    // Size in pixels of the images at dpiX (along the width) and dpiY.
    int width = 0;
    int height = 0;
    double dpiX = 300.0;
    double dpiY = 300.0;
    // The document's turn about its centre as it lies on the paper path:
    // positive turns its top edge (the side towards sensor pixel 0) to
    // higher pixels as the lines go on.
    double skewDegrees = 0.0;
    FeedEdge feed = FeedEdge::Left;
    // Two sheets stuck together: the double-sheet sensors see it while it
    // passes; which of the three (bit 0 sensor 1 to bit 2 sensor 3) depends
    // on where the sheets overlap.
    bool doubleSheet = false;
    std::uint8_t doubleSheetSensors = 0x7;
    // A sheet that stays in the paper path across acquisitions (the
    // calibration sheet): each GO scans on from where the last one ended,
    // until the sheet has passed or a paper movement carries it out.
    bool staysInPath = false;
    // Both faces one even reflectance (a calibration or test sheet).
    std::optional<std::uint8_t> uniform;

    // Where the pixels come from: a generated look, or files.
    std::optional<GeneratedLook> generated;
    std::string frontFile;
    std::string rearFile;       // empty: a blank rear
    std::string backlightFile;  // empty: none
    std::string magneticFile;   // raw u8 samples; empty: none
    double magneticPerInch = 3000.0;
    std::uint8_t magneticBaseline = 128;

    // The pixels; false with *error set when a file cannot be used.
    bool Render(DocumentImages* out, std::string* error) const;
    // The front as 8-bit grey (tests).
    std::vector<std::uint8_t> RenderGrey() const;
};

// Cheque-sized documents (6 x 2.75 inches at 300 dpi) with a border, lines
// of text-like bars, a codeline band with a magnetic track, each slightly
// skewed and different from the others; grey or colour. They need no files.
std::vector<SimDocument> GeneratedCheques(unsigned count, bool colour = false,
                                          std::uint32_t seed = 1);
// A calibration sheet: an even white sheet, wider than the sensors, that
// stays in the paper path while the calibration scans it in passes.
SimDocument CalibrationSheet(double lengthInches = 11.0, std::uint8_t reflectance = 250);
// An even grey sheet of a cheque's size, fed like any document.
SimDocument UniformSheet(std::uint8_t reflectance, double lengthInches = 6.0,
                         double acrossInches = 2.75);
// The documents of the `documents = N` profile key: grey generated cheques.
std::vector<SimDocument> PlaceholderCheques(unsigned count);

class FeederQueue {
  public:
    void Load(const std::vector<SimDocument>& documents);
    void Clear() { queue_.clear(); }
    std::size_t Size() const { return queue_.size(); }
    bool Empty() const { return queue_.empty(); }
    const SimDocument& Front() const { return queue_.front(); }
    // Removes the front document; false when the feeder is empty.
    bool Take(SimDocument* out);

  private:
    std::deque<SimDocument> queue_;
};

}  // namespace kovran::sim
