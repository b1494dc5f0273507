#include "sim/feeder.h"

#include <algorithm>
#include <cmath>

#include "sim/image_file.h"

namespace kovran::sim {

namespace {

// A small deterministic generator: the same seed gives the same documents
// on every machine.
class Mixer {
  public:
    explicit Mixer(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Range(int lo, int hi) {  // [lo, hi]
        return lo + static_cast<int>(Next() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

  private:
    std::uint64_t state_;
};

void FillRect(SimImage& img, int x0, int y0, int x1, int y1, const std::uint8_t* colour) {
    x0 = std::max(0, x0);
    y0 = std::max(0, y0);
    x1 = std::min(img.width, x1);
    y1 = std::min(img.height, y1);
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* row =
            img.pixels.data() + static_cast<std::size_t>(y) * img.width * img.channels;
        for (int x = x0; x < x1; ++x) {
            for (int c = 0; c < img.channels; ++c) row[x * img.channels + c] = colour[c];
        }
    }
}

// Paper, border, lines of text-like bars and, on the front, a codeline of
// bars in the clear band whose magnetic track the head reads.
void RenderGenerated(const GeneratedLook& look, DocumentImages* out) {
    Mixer mix(look.seed);
    const int w = look.widthPx;
    const int h = look.heightPx;
    const int ch = look.colour ? 3 : 1;
    auto page = [&](std::uint8_t tintR, std::uint8_t tintG, std::uint8_t tintB) {
        SimImage img;
        img.width = w;
        img.height = h;
        img.channels = ch;
        img.pixels.resize(static_cast<std::size_t>(w) * h * ch);
        const std::uint8_t paper[3] = {tintR, tintG, tintB};
        const std::uint8_t grey[1] = {static_cast<std::uint8_t>((tintR + tintG + tintB) / 3)};
        FillRect(img, 0, 0, w, h, ch == 3 ? paper : grey);
        return img;
    };
    out->front = page(240, 236, 220);
    out->rear = page(245, 245, 245);
    const std::uint8_t ink[3] = {30, 30, 60};
    const std::uint8_t blue[3] = {40, 60, 160};
    const std::uint8_t inkGrey[1] = {40};
    const std::uint8_t* border = look.colour ? blue : inkGrey;
    const std::uint8_t* text = look.colour ? ink : inkGrey;
    // Border 4 px wide, 24 px inside the edge.
    const int in = 24;
    SimImage& f = out->front;
    FillRect(f, in, in, w - in, in + 4, border);
    FillRect(f, in, h - in - 4, w - in, h - in, border);
    FillRect(f, in, in, in + 4, h - in, border);
    FillRect(f, w - in - 4, in, w - in, h - in, border);
    // Lines of words.
    const int clearBand = h - 190;  // the codeline's clear band (5/8 inch)
    for (int y = 80; y + 30 < clearBand; y += 70 + mix.Range(0, 20)) {
        int x = 80 + mix.Range(0, 120);
        const int end = w - 100 - mix.Range(0, 500);
        while (x < end) {
            const int word = mix.Range(40, 180);
            FillRect(f, x, y, std::min(x + word, end), y + mix.Range(18, 30), text);
            x += word + mix.Range(18, 30);
        }
    }
    // Rear: an endorsement-like block.
    const std::uint8_t* rearInk = text;
    for (int y = 60; y < h / 2; y += 50) {
        FillRect(out->rear, w - 700, y, w - 100 - mix.Range(0, 200), y + 20, rearInk);
    }
    // Codeline: bars of characters in the clear band, with their magnetic
    // signal (a dip at the leading edge of each bar, a peak at its end).
    const double perInch = 3000.0;
    out->magnetic.rawPerInch = perInch;
    out->magnetic.baseline = 128;
    if (look.magnetic)
        out->magnetic.samples.assign(static_cast<std::size_t>(w * perInch / 300), 128);
    const int lineTop = h - 120;
    for (int x = 150; x < w - 250; x += 38) {
        if (mix.Range(0, 5) == 0) continue;  // a space
        const int barW = mix.Range(6, 14);
        FillRect(f, x, lineTop, x + barW, lineTop + 36, text);
        if (!look.magnetic) continue;
        auto pulse = [&](int px, int sign) {
            const auto centre = static_cast<std::size_t>(px * perInch / 300);
            for (int d = -12; d <= 12; ++d) {
                const auto i = static_cast<std::ptrdiff_t>(centre) + d;
                if (i < 0 || static_cast<std::size_t>(i) >= out->magnetic.samples.size()) continue;
                const int v = 128 + sign * (60 - std::abs(d) * 4);
                out->magnetic.samples[static_cast<std::size_t>(i)] =
                    static_cast<std::uint8_t>(std::clamp(v, 0, 255));
            }
        };
        pulse(x, -1);
        pulse(x + barW, +1);
    }
    if (look.backlight) {
        // Light through the paper: bright everywhere, darker under the ink.
        SimImage b;
        b.width = w;
        b.height = h;
        b.pixels.resize(static_cast<std::size_t>(w) * h);
        for (std::size_t i = 0; i < b.pixels.size(); ++i) {
            const std::uint8_t v = f.pixels[i * f.channels];
            b.pixels[i] = static_cast<std::uint8_t>(120 + v / 2);
        }
        out->backlight = std::move(b);
    }
}

}  // namespace

bool SimDocument::Render(DocumentImages* out, std::string* error) const {
    *out = DocumentImages{};
    if (uniform) {
        for (SimImage* side : {&out->front, &out->rear}) {
            side->width = width;
            side->height = height;
            side->pixels.assign(static_cast<std::size_t>(std::max(width, 0)) *
                                    static_cast<std::size_t>(std::max(height, 0)),
                                *uniform);
        }
        return true;
    }
    if (generated) {
        RenderGenerated(*generated, out);
        return true;
    }
    if (frontFile.empty()) {
        *error = name + ": no front image";
        return false;
    }
    if (!ReadImageFile(frontFile, &out->front, error)) return false;
    if (!rearFile.empty()) {
        if (!ReadImageFile(rearFile, &out->rear, error)) return false;
    } else {
        out->rear.width = out->front.width;
        out->rear.height = out->front.height;
        out->rear.pixels.assign(static_cast<std::size_t>(out->rear.width) * out->rear.height, 250);
    }
    if (!backlightFile.empty()) {
        SimImage b;
        if (!ReadImageFile(backlightFile, &b, error)) return false;
        out->backlight = std::move(b);
    }
    if (!magneticFile.empty()) {
        if (!ReadWholeFile(magneticFile, kMaxTrackBytes, &out->magnetic.samples, error))
            return false;
        if (!(magneticPerInch > 0.0 && magneticPerInch < 1e6)) {
            *error = name + ": magnetic samples per inch out of range";
            return false;
        }
        out->magnetic.rawPerInch = magneticPerInch;
        out->magnetic.baseline = magneticBaseline;
    }
    return true;
}

std::vector<std::uint8_t> SimDocument::RenderGrey() const {
    DocumentImages images;
    std::string error;
    if (!Render(&images, &error)) return {};
    const SimImage& f = images.front;
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(f.width) * f.height);
    for (std::size_t i = 0; i < grey.size(); ++i) {
        if (f.channels == 3) {
            const std::uint8_t* p = &f.pixels[i * 3];
            grey[i] = static_cast<std::uint8_t>((p[0] * 77 + p[1] * 150 + p[2] * 29) >> 8);
        } else {
            grey[i] = f.pixels[i];
        }
    }
    return grey;
}

std::vector<SimDocument> GeneratedCheques(unsigned count, bool colour, std::uint32_t seed) {
    std::vector<SimDocument> docs;
    docs.reserve(count);
    Mixer mix(seed);
    for (unsigned i = 0; i < count; ++i) {
        SimDocument d;
        d.name = std::string(colour ? "colour" : "grey") + " cheque " + std::to_string(i + 1);
        GeneratedLook look;
        look.seed = static_cast<std::uint32_t>(mix.Next());
        look.colour = colour;
        d.generated = look;
        d.width = look.widthPx;
        d.height = look.heightPx;
        // Up to 1.5 degrees either way, never exactly straight.
        d.skewDegrees = (mix.Unit() * 2.0 - 1.0) * 1.5;
        if (std::abs(d.skewDegrees) < 0.1) d.skewDegrees = 0.3;
        docs.push_back(std::move(d));
    }
    return docs;
}

std::vector<SimDocument> PlaceholderCheques(unsigned count) {
    return GeneratedCheques(count);
}

void FeederQueue::Load(const std::vector<SimDocument>& documents) {
    queue_.insert(queue_.end(), documents.begin(), documents.end());
}

bool FeederQueue::Take(SimDocument* out) {
    if (queue_.empty()) return false;
    if (out) *out = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

SimDocument CalibrationSheet(double lengthInches, std::uint8_t reflectance) {
    SimDocument d = UniformSheet(reflectance, lengthInches, 9.0);
    d.name = "calibration sheet";
    d.staysInPath = true;
    return d;
}

SimDocument UniformSheet(std::uint8_t reflectance, double lengthInches, double acrossInches) {
    SimDocument d;
    d.name = "uniform sheet";
    d.dpiX = 100.0;
    d.dpiY = 100.0;
    d.width = static_cast<int>(lengthInches * d.dpiX);
    d.height = static_cast<int>(acrossInches * d.dpiY);
    d.uniform = reflectance;
    return d;
}

}  // namespace kovran::sim
