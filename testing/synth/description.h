// The document description that kvx-synth renders, read from JSON. Reading
// is strict: an unknown field, a value of the wrong type or out of range is
// refused with the field's path and the reason, so that a typo in a corpus
// description cannot silently produce a different document.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "testing/synth/image.h"
#include "testing/synth/synth_error.h"

namespace kovran::synth {

// A refused description: `field` is a JSON path such as
// "front.elements[2].text".
struct DescriptionError : SynthError {
    DescriptionError(std::string f, std::string r)
        : SynthError(f + ": " + r), field(std::move(f)), reason(std::move(r)) {}
    std::string field;
    std::string reason;
};

enum class Side { Front, Rear };

struct Background {
    enum class Kind { Waves, Lines, Dots, Gradient } kind = Kind::Waves;
    Rgb colour{200, 215, 230};
    Rgb colour2{255, 255, 255};
    double periodMm = 2.0;
    double amplitudeMm = 1.0;
    double lineMm = 0.15;
    double angleDeg = 0.0;
};

struct Element {
    enum class Kind {
        Text,
        Codeline,
        OcrbLine,
        Barcode,
        Microperforation,
        Photo,
        MagneticNoise,
        Rect
    };
    Kind kind = Kind::Text;
    std::string path;  // JSON path, for error reports
    std::string text;
    std::string font;              // fontconfig pattern, file path, or codeline font name
    std::string fontFile;          // explicit file (codeline E13B override)
    std::string glyphs = "synth";  // codeline/microperforation: "synth" or "project"
    // CMC7 bar drawing (synth glyphs): bar width and bar-to-bar intervals
    double cmc7BarMm = 0.15, cmc7ShortMm = 0.30, cmc7LongMm = 0.50;
    std::optional<double> xMm, yMm;
    double widthMm = 0.0, heightMm = 0.0;
    double sizePt = 10.0;
    double pitchMm = 0.0;
    Rgb colour{20, 20, 30};
    bool magnetic = false;
    double strength = 1.0;  // magnetic load of the ink
    // barcodes
    std::string symbology;
    std::string generator = "zint";
    double moduleMm = 0.33;
    // microperforation
    double holeMm = 0.4;
    double holePitchMm = 0.7;
    // photo / rect / noise
    double darkness = 0.8;
    double lineMm = 0.3;
    bool fill = false;
    bool visible = false;
    double level = 0.3;
};

struct SideDescription {
    std::vector<Background> background;
    std::vector<Element> elements;
};

inline constexpr int kMaxDegradationLevel = 4;

struct Degradation {
    int level = 0;
    std::uint64_t seed = 1;
    std::optional<double> skewDeg, blur, opticsBlur, noise, contrast, brightness, inkSpread;
    std::optional<int> jpegQuality;
    // Codeline print: stroke growth (mm, < 0 light print), ink darkness
    // (1 black, lower grey), per-character pitch and baseline jitter (mm),
    // local defects and clear-band intrusions (counts).
    std::optional<double> strokeMm, inkDarkness, pitchJitterMm, baselineJitterMm;
    std::optional<int> defects, intrusions;
    // Wear of the OCR lines: patch fade (share), dot-matrix grid (mm, 0
    // solid), pitch tightening (share), per-character ink spread (share).
    std::optional<double> fadeDepth, dotPitchMm, pitchSqueeze, charInkSd;
};

struct MagneticDescription {
    int ratio = 10;
    int decimation = 1;
    double noise = 1.0;
    double edgeLevel = 60.0;
    double gapInch = 0.002;
    double spacingInch = 0.003;
    bool reversedPolarity = false;
    double strength = 1.0;        // the document's ink load against nominal
    double charStrengthSd = 0.0;  // per-character spread of the load (share)
    double speedJitter = 0.0;
    double driftCounts = 0.0;
    double humCounts = 0.0;
    double humPerInch = 0.0;
    int spikes = 0;
    double spikeCounts = 0.0;
};

struct Description {
    std::string name = "document";
    double widthMm = 175.0, heightMm = 80.0;
    Rgb paper{246, 242, 232};
    double transmission = 0.45;  // share of the backlight that passes blank paper
    SideDescription front, rear;
    double dpiX = 300.0, dpiY = 300.0;
    bool colour = false;
    bool wantFront = true, wantRear = true, wantBacklight = false;
    std::string format = "png";
    Degradation degradation;
    MagneticDescription magnetic;
};

// Throws DescriptionError for anything that is refused.
Description ParseDescription(const nlohmann::json& json);
Description ParseDescription(const std::string& text);

}  // namespace kovran::synth
