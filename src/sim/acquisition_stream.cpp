#include "sim/acquisition_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kovran::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Light through no paper at all, and through paper without an image.
constexpr std::uint8_t kBacklightOpen = 250;

std::uint8_t Luminance(const SimImage& img, int x, int y) {
    if (img.channels != 3) return img.At(x, y, 0);
    return static_cast<std::uint8_t>(
        (img.At(x, y, 0) * 77 + img.At(x, y, 1) * 150 + img.At(x, y, 2) * 29) >> 8);
}

std::uint32_t Lines(double inches, int dpi) {
    const double v = std::ceil(inches * dpi);
    return v <= 0.0 ? 0u : v >= 4.0e9 ? 4000000000u : static_cast<std::uint32_t>(v);
}

}  // namespace

AcquisitionStream::AcquisitionStream(const StreamPlan& plan, const StreamSettings& settings,
                                     const SimDocument* document, const DocumentImages* images,
                                     DocumentFaults faults, std::int64_t startNs,
                                     double paperOffsetInches)
    : plan_(plan),
      settings_(settings),
      faults_(std::move(faults)),
      startNs_(startNs),
      paperOffset_(std::max(paperOffsetInches, 0.0)) {
    if (plan_.channelLines == 0 || plan_.LineBytes() == 0) return;  // a paper movement
    // A sheet already under the sensors has no gap before it.
    leadLines_ = paperOffset_ > 0.0 ? 0 : 1 + Lines(settings_.leadGap300 / 300.0, plan_.dpiV);
    frontDelayLines_ = plan_.frontPixels > 0 ? Lines(plan_.frontDelay300 / 300.0, plan_.dpiV) : 0;
    rearDelayLines_ = plan_.rearPixels > 0 ? Lines(plan_.rearDelay300 / 300.0, plan_.dpiV) : 0;
    documentEndLine_ = leadLines_;
    if (document != nullptr && images != nullptr && !images->front.Empty() &&
        document->dpiX > 0.0 && document->dpiY > 0.0) {
        hasDocument_ = true;
        document_ = *document;
        images_ = *images;
        const SimImage& f = images_.front;
        const bool left = document_.feed == FeedEdge::Left;
        lengthInches_ = left ? f.width / document_.dpiX : f.height / document_.dpiY;
        acrossInches_ = left ? f.height / document_.dpiY : f.width / document_.dpiX;
        const double a = document_.skewDegrees * kPi / 180.0;
        cosA_ = std::cos(a);
        sinA_ = std::sin(a);
        const double extent = std::max(
            lengthInches_ * std::abs(cosA_) + acrossInches_ * std::abs(sinA_) - paperOffset_, 0.0);
        documentEndLine_ = leadLines_ + Lines(extent, plan_.dpiV) + LastDelayLines();
    }
    std::uint64_t total = static_cast<std::uint64_t>(documentEndLine_) + plan_.TrailingScanLines();
    total = std::min<std::uint64_t>(total, plan_.RequestedScanLines());
    if (faults_.shortLines) total = std::min<std::uint64_t>(total, *faults_.shortLines);
    totalLines_ = static_cast<std::uint32_t>(total);

    const SensorModel sensor(settings_.sensor);
    // The raw value follows the lamp level of each colour channel; the
    // infrared and ultraviolet lines keep the nominal response.
    auto lamp = [&](SensorSide side, int channel) {
        if (side == SensorSide::Backlight || channel >= plan_.colourChannels) return 1.0;
        const std::uint8_t* levels =
            side == SensorSide::Rear ? plan_.start.rearLamp : plan_.start.frontLamp;
        const int lit = plan_.start.singleLamp ? std::max({levels[0], levels[1], levels[2]})
                                               : levels[plan_.colourChannels == 3 ? channel : 0];
        // The lamps give no more light than at the model's highest level.
        return static_cast<double>(std::min<int>(lit, kNominalLampLevel)) / kNominalLampLevel;
    };
    auto fill = [&](SensorSide side, int pixels, int dpi, int channels) {
        auto& d = dark_[static_cast<int>(side)];
        auto& g = gain_[static_cast<int>(side)];
        d.assign(static_cast<std::size_t>(channels), std::vector<float>(pixels));
        g.assign(static_cast<std::size_t>(channels), std::vector<float>(pixels));
        for (int c = 0; c < channels; ++c) {
            for (int p = 0; p < pixels; ++p) {
                d[c][p] = static_cast<float>(sensor.Dark(side, c, p, dpi));
                g[c][p] = static_cast<float>(sensor.Gain(side, c, p, dpi) * lamp(side, c));
            }
            if (side != SensorSide::Front) continue;
            for (int at : sensor.DustSpecks(pixels))
                for (int p = at; p < at + kDustSpeckPixels && p < pixels; ++p)
                    g[c][p] *= static_cast<float>(kDustTransmission);
        }
    };
    fill(SensorSide::Front, plan_.frontPixels, plan_.dpiH, plan_.channelLines);
    fill(SensorSide::Rear, plan_.rearPixels, plan_.rearDpiH, plan_.channelLines);
    fill(SensorSide::Backlight, plan_.backlightPixels, plan_.dpiH, 1);
}

bool AcquisitionStream::Continue(const StreamPlan& next) {
    if (plan_.channelLines == 0 || next.LineBytes() != plan_.LineBytes() ||
        next.aligner != plan_.aligner)
        return false;
    std::uint64_t end = static_cast<std::uint64_t>(documentEndLine_) + plan_.TrailingScanLines();
    if (faults_.shortLines) end = std::min<std::uint64_t>(end, *faults_.shortLines);
    // A document that has passed whole leaves room for the next one.
    if (nextLine_ >= end) return false;
    totalLines_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        end, static_cast<std::uint64_t>(nextLine_) + next.RequestedScanLines()));
    return true;
}

bool AcquisitionStream::OnPaper(double u, double v) const {
    const double cu = lengthInches_ / 2.0;
    const double cv = acrossInches_ / 2.0;
    const double du = cu + cosA_ * (u - cu) + sinA_ * (v - cv);
    const double dv = cv - sinA_ * (u - cu) + cosA_ * (v - cv);
    return du >= 0.0 && dv >= 0.0 && du < lengthInches_ && dv < acrossInches_;
}

AcquisitionStream::Flips AcquisitionStream::FaceFlips(Face face) const {
    // The sheet goes in leading edge first, so the lines follow the paper
    // path in order. Across the path the two sensors face each other and
    // their pixels run opposite ways, so that each side, like the paper
    // seen from its own face, comes out turned, never mirrored: fed by its
    // left edge the front needs a quarter turn counter-clockwise to stand
    // upright (its top lies at the sensor's far end) and the rear, described
    // turned over about its vertical axis, one clockwise; fed by its top
    // edge both stand upright.
    const bool left = document_.feed == FeedEdge::Left;
    Flips flips;
    if (face == Face::Rear) {
        flips.x = left;
        return flips;
    }
    flips.y = left;
    // One model's front sensor reads from the other end of the line: its
    // front arrives mirrored across the paper and the library turns it back.
    // The backlight keeps the front's order as the library leaves it.
    if (face == Face::Front && plan_.frontMirrored) {
        if (left)
            flips.y = !flips.y;
        else
            flips.x = !flips.x;
    }
    return flips;
}

std::uint8_t AcquisitionStream::SampleAt(const SimImage& img, Face face, double u, double v,
                                         int channel, std::uint8_t outside) const {
    // Back from the paper path to the document as it was described.
    const double cu = lengthInches_ / 2.0;
    const double cv = acrossInches_ / 2.0;
    const double du = cu + cosA_ * (u - cu) + sinA_ * (v - cv);
    const double dv = cv - sinA_ * (u - cu) + cosA_ * (v - cv);
    if (du < 0.0 || dv < 0.0 || du >= lengthInches_ || dv >= acrossInches_) return outside;
    int x = 0;
    int y = 0;
    if (document_.feed == FeedEdge::Left) {
        x = static_cast<int>(du * document_.dpiX);
        y = static_cast<int>(dv * document_.dpiY);
    } else {
        x = static_cast<int>(dv * document_.dpiX);
        y = static_cast<int>(du * document_.dpiY);
    }
    // Sides of another size than the front are scaled onto it.
    const SimImage& f = images_.front;
    if (img.width != f.width && f.width > 0)
        x = static_cast<int>(static_cast<long long>(x) * img.width / f.width);
    if (img.height != f.height && f.height > 0)
        y = static_cast<int>(static_cast<long long>(y) * img.height / f.height);
    const Flips flips = FaceFlips(face);
    if (flips.x) x = img.width - 1 - x;
    if (flips.y) y = img.height - 1 - y;
    x = std::clamp(x, 0, img.width - 1);
    y = std::clamp(y, 0, img.height - 1);
    if (channel < 0 || channel >= plan_.colourChannels || plan_.colourChannels == 1)
        return Luminance(img, x, y);
    return img.At(x, y, channel);
}

std::uint8_t AcquisitionStream::Reflectance(SensorSide side, std::uint32_t line, int channel,
                                            int pixel) const {
    const bool backlight = side == SensorSide::Backlight;
    const int dpiH = side == SensorSide::Rear ? plan_.rearDpiH : plan_.dpiH;
    const std::int64_t k = static_cast<std::int64_t>(line) - leadLines_ - DelayLines(side);
    const std::uint8_t outside = backlight ? kBacklightOpen : settings_.background;
    if (!hasDocument_) return outside;
    // Each line and pixel sees the paper at its centre.
    const double u = (static_cast<double>(k) + 0.5) / plan_.dpiV + paperOffset_;
    const double v =
        (static_cast<double>(pixel) + 0.5) / dpiH - settings_.documentOffset300 / 300.0;
    if (backlight) {
        if (images_.backlight && !images_.backlight->Empty())
            return SampleAt(*images_.backlight, Face::Backlight, u, v, -1, outside);
        // No backlight image: light through the paper, darker under ink.
        if (!OnPaper(u, v)) return outside;
        return static_cast<std::uint8_t>(100 +
                                         SampleAt(images_.front, Face::Backlight, u, v, -1, 0) / 2);
    }
    if (side == SensorSide::Rear) return SampleAt(images_.rear, Face::Rear, u, v, channel, outside);
    return SampleAt(images_.front, Face::Front, u, v, channel, outside);
}

std::uint8_t AcquisitionStream::DoubleSheetSensors() const {
    if (!hasDocument_ || !document_.doubleSheet) return 0;
    const std::uint64_t atSensors =
        std::uint64_t{nextLine_} + Lines(kDoubleSheetAhead300 / 300.0, plan_.dpiV);
    const std::uint32_t paperEnd = documentEndLine_ - LastDelayLines();
    return atSensors >= leadLines_ && atSensors < paperEnd ? document_.doubleSheetSensors : 0;
}

double AcquisitionStream::PaperInchesSent() const {
    if (plan_.dpiV <= 0 || nextLine_ <= leadLines_) return 0.0;
    return static_cast<double>(nextLine_ - leadLines_) / plan_.dpiV;
}

std::uint8_t AcquisitionStream::MagneticSample(std::uint64_t j) const {
    const MagneticTrack& t = images_.magnetic;
    const std::uint8_t baseline = t.samples.empty() ? 128 : t.baseline;
    if (!hasDocument_ || t.samples.empty() || plan_.stripPerChannelLine <= 0) return baseline;
    const double perInch = static_cast<double>(plan_.stripPerChannelLine) * plan_.lineRate;
    const double inches = static_cast<double>(j) / perInch + plan_.headOffset300 / 300.0 -
                          static_cast<double>(leadLines_) / plan_.dpiV;
    const double at = inches * t.rawPerInch;
    if (at < 0.0 || at > static_cast<double>(t.samples.size() - 1)) return baseline;
    const auto i = static_cast<std::size_t>(at);
    const double frac = at - static_cast<double>(i);
    const double a = t.samples[i];
    const double b = i + 1 < t.samples.size() ? t.samples[i + 1] : a;
    const double v = a + (b - a) * frac + 0.5;
    return static_cast<std::uint8_t>(std::min(v, static_cast<double>(kMaxRawSample)));
}

void AcquisitionStream::SampleSide(SensorSide side, std::uint32_t k, int pixels,
                                   std::vector<std::uint8_t>* refl) const {
    const int channels = side == SensorSide::Backlight ? 1 : plan_.channelLines;
    refl->resize(static_cast<std::size_t>(channels) * pixels);
    const bool rear = side == SensorSide::Rear;
    const SimImage& img = rear ? images_.rear : images_.front;
    const SimImage& front = images_.front;
    if (side != SensorSide::Backlight && hasDocument_ && img.width == front.width &&
        img.height == front.height) {
        // The same sampling as Reflectance(), one pixel position for all
        // channels: the stream's hot path.
        const std::int64_t line = static_cast<std::int64_t>(k) - leadLines_ - DelayLines(side);
        const int dpiH = rear ? plan_.rearDpiH : plan_.dpiH;
        const double u = (static_cast<double>(line) + 0.5) / plan_.dpiV + paperOffset_;
        const double cu = lengthInches_ / 2.0;
        const double cv = acrossInches_ / 2.0;
        const bool leftFirst = document_.feed == FeedEdge::Left;
        const Flips flips = FaceFlips(rear ? Face::Rear : Face::Front);
        std::uint8_t* out = refl->data();
        for (int p = 0; p < pixels; ++p) {
            const double v =
                (static_cast<double>(p) + 0.5) / dpiH - settings_.documentOffset300 / 300.0;
            const double du = cu + cosA_ * (u - cu) + sinA_ * (v - cv);
            const double dv = cv - sinA_ * (u - cu) + cosA_ * (v - cv);
            if (du < 0.0 || dv < 0.0 || du >= lengthInches_ || dv >= acrossInches_) {
                for (int c = 0; c < channels; ++c)
                    out[static_cast<std::size_t>(c) * pixels + p] = settings_.background;
                continue;
            }
            int x = static_cast<int>((leftFirst ? du : dv) * document_.dpiX);
            int y = static_cast<int>((leftFirst ? dv : du) * document_.dpiY);
            if (flips.x) x = img.width - 1 - x;
            if (flips.y) y = img.height - 1 - y;
            x = std::clamp(x, 0, img.width - 1);
            y = std::clamp(y, 0, img.height - 1);
            const std::uint8_t grey = Luminance(img, x, y);
            for (int c = 0; c < channels; ++c) {
                const bool colour = c < plan_.colourChannels && plan_.colourChannels == 3;
                out[static_cast<std::size_t>(c) * pixels + p] = colour ? img.At(x, y, c) : grey;
            }
        }
        return;
    }
    for (int c = 0; c < channels; ++c) {
        // Infrared and ultraviolet see the grey of the page.
        for (int p = 0; p < pixels; ++p)
            (*refl)[static_cast<std::size_t>(c) * pixels + p] = Reflectance(side, k, c, p);
    }
}

void AcquisitionStream::ComposeLine(std::uint32_t k) {
    line_.clear();
    const int fp = plan_.frontPixels;
    const int rp = plan_.rearPixels;
    if (fp > 0) SampleSide(SensorSide::Front, k, fp, &reflScratch_[1]);
    if (rp > 0) SampleSide(SensorSide::Rear, k, rp, &reflScratch_[0]);
    const auto& fd = dark_[static_cast<int>(SensorSide::Front)];
    const auto& fg = gain_[static_cast<int>(SensorSide::Front)];
    const auto& rd = dark_[static_cast<int>(SensorSide::Rear)];
    const auto& rg = gain_[static_cast<int>(SensorSide::Rear)];
    std::vector<bool> dark(static_cast<std::size_t>(std::max(fp, 0)), false);
    for (const NoiseDropout& n : faults_.dropouts) {
        if (k < n.line || k - n.line >= n.lines) continue;
        for (std::uint32_t p = n.pixel; p < n.pixel + n.length && p < dark.size(); ++p)
            dark[p] = true;
    }
    const int pairs = std::max(fp, rp);
    const SensorModel sensor(settings_.sensor);
    auto noise = [&](int c, int i) {
        return settings_.sensor.noise > 0
                   ? static_cast<float>(sensor.Noise(k * 8u + static_cast<std::uint32_t>(c), i))
                   : 0.0f;
    };
    for (int c = 0; c < plan_.channelLines; ++c) {
        bool dropFirst = false;
        for (const AlignerGlitch& g : faults_.glitches) {
            if (g.line != k || g.channel != c) continue;
            if (g.shift > 0)
                line_.push_back(kGlitchByte);
            else
                dropFirst = true;
        }
        const std::size_t segment = line_.size();
        const std::uint8_t* fr =
            fp > 0 ? &reflScratch_[1][static_cast<std::size_t>(c) * fp] : nullptr;
        const std::uint8_t* rr =
            rp > 0 ? &reflScratch_[0][static_cast<std::size_t>(c) * rp] : nullptr;
        for (int i = 0; i < pairs; ++i) {
            if (i < fp) {
                line_.push_back(dark[i]
                                    ? kDropoutRaw
                                    : SensorModel::Raw(fd[c][i] + noise(c, i), fg[c][i], fr[i]));
            }
            if (i < rp)
                line_.push_back(SensorModel::Raw(rd[c][i] + noise(c, pairs + i), rg[c][i], rr[i]));
        }
        if (plan_.aligner && line_.size() > segment) line_[segment] = 0;
        const std::uint64_t first =
            (static_cast<std::uint64_t>(k) * plan_.channelLines + c) * plan_.stripPerChannelLine;
        for (int s = 0; s < plan_.stripPerChannelLine; ++s)
            line_.push_back(MagneticSample(first + s));
        if (dropFirst && line_.size() > segment)
            line_.erase(line_.begin() + static_cast<std::ptrdiff_t>(segment));
    }
    if (plan_.backlightPixels > 0) {
        SampleSide(SensorSide::Backlight, k, plan_.backlightPixels, &reflScratch_[2]);
        const auto& bd = dark_[static_cast<int>(SensorSide::Backlight)][0];
        const auto& bg = gain_[static_cast<int>(SensorSide::Backlight)][0];
        for (int i = 0; i < plan_.backlightPixels; ++i)
            line_.push_back(SensorModel::Raw(bd[i], bg[i], reflScratch_[2][i]));
    }
    lineOffset_ = 0;
}

std::size_t AcquisitionStream::Produce(std::uint8_t* out, std::size_t max, std::int64_t nowNs,
                                       bool* ended) {
    std::uint32_t released = totalLines_;
    if (settings_.pace == StreamSettings::Pace::Paced) {
        const double seconds =
            static_cast<double>(std::max<std::int64_t>(0, nowNs - startNs_)) / 1e9;
        const double due = seconds * settings_.paperInchesPerSecond * plan_.dpiV;
        released = static_cast<std::uint32_t>(std::min<double>(due, totalLines_));
    }
    std::size_t n = 0;
    while (n < max) {
        if (lineOffset_ == line_.size()) {
            if (nextLine_ >= released) break;
            ComposeLine(nextLine_++);
            if (line_.empty()) continue;
        }
        const std::size_t take = std::min(max - n, line_.size() - lineOffset_);
        std::memcpy(out + n, line_.data() + lineOffset_, take);
        lineOffset_ += take;
        n += take;
    }
    bytesSent_ += n;
    *ended = nextLine_ >= totalLines_ && lineOffset_ == line_.size();
    return n;
}

}  // namespace kovran::sim
