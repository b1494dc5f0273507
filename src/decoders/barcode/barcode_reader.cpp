#include "decoders/barcode/barcode_reader.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <new>
#include <optional>

#include "KovranMS.h"
#include "api/frame_state.h"
#include "api/log.h"
#include "decoders/barcode/element_scan.h"
#include "decoders/barcode/print_quality.h"
#include "decoders/barcode/symbology.h"
#include "decoders/barcode/zone_reading.h"
#include "imaging/zone_cleaning.h"
#include "platform/sys_error.h"

namespace kovran::decoders::barcode {

namespace {

// Cleaning offsets, darkest first: the next is tried only while nothing was
// read but something looked like a barcode.
constexpr int kCleaningOffsets[] = {-40, 0, 40};

constexpr std::size_t kMaxListElements = 1000;
constexpr std::size_t kMinListElements = 12;
constexpr std::size_t kBarcodeLikeElements = 30;
constexpr std::size_t kBarcodeLikeTallRun = 60;
constexpr std::size_t kMinDecodedRun = 10;
constexpr std::size_t kMinMirrorElements = 26;
constexpr std::size_t kMaxBoundaries = 3000;
constexpr int kMinEdges = 16;
constexpr int kEvenRunRetries = 3;
constexpr int kBarcodeLikeContrast = 50;
// Beyond any scanner; a larger value is no resolution at all.
constexpr double kMaxResolution = 10000.0;

// Resolution-scaled lengths: r * numerator / denominator.
int Scaled(int r, int numerator, int denominator) {
    return static_cast<int>(static_cast<long long>(r) * numerator / denominator);
}

// Characters that a verified reading needs before its characters earn the
// verified level.
std::size_t MinVerifiedLength(Symbology s) {
    switch (s) {
        case Symbology::Code39:
            return 3;
        case Symbology::Interleaved2of5:
        case Symbology::Codabar:
            return 5;
        case Symbology::UpcA:
            return 6;
        default:
            return 1;
    }
}

enum class Direction { Forward, Reversed };

struct ListOutcome {
    bool verified = false;
    std::size_t chars = 0;
    int firstConfidence = 0;
};

class ZoneScanner {
  public:
    ZoneScanner(int r, int font, const BarcodeSettings& settings, ZoneReading& zone)
        : r_(r), font_(font), settings_(settings), zone_(zone) {}

    void ReadCleaned(imaging::ConstImageView image);
    bool BarcodeLike() const { return barcodeLike_; }

  private:
    void ScanBand(imaging::ConstImageView band, ConfidenceLevels preset);
    std::optional<ElementRun> WalkAgain(const std::vector<double>& profile, const ElementRun& run,
                                        double threshold) const;
    ListOutcome DecodeList(const ElementRun& run, imaging::ConstImageView band,
                           ConfidenceLevels preset);
    ListOutcome TrySymbologies(const std::vector<int>& widths, const ElementRun& run,
                               imaging::ConstImageView band, ConfidenceLevels levels,
                               Direction direction);

    int r_;
    int font_;
    const BarcodeSettings& settings_;
    ZoneReading& zone_;
    bool barcodeLike_ = false;
};

void ZoneScanner::ReadCleaned(imaging::ConstImageView image) {
    const int width = image.Width();
    const int height = image.Height();
    if (width <= Scaled(r_, 128, 75) && height <= Scaled(r_, 64, 75)) {
        ScanBand(image, kWholeZoneLevels);
        if (zone_.Complete()) return;
    }
    int g = Scaled(r_, 8, 75);
    if (g >= height) g /= 2;
    if (g < 1) return;
    do {
        for (int y = 0; y < height; y += g) {
            ScanBand(image.Crop(0, y, width, std::min(g, height - y)), kBandLevels);
            if (zone_.Complete()) return;
        }
        g /= 2;
    } while (g >= 9);
}

void ZoneScanner::ScanBand(imaging::ConstImageView band, ConfidenceLevels preset) {
    const int height = band.Height();
    if (band.Width() < Scaled(r_, 64, 75) || height < Scaled(r_, 2, 75) || height < 1) return;
    int window = height < 8 ? 4 : std::min(Scaled(r_, 16, 75), height - 4);
    window = std::clamp(window, 1, height);

    const std::vector<double> profile = ColumnProfile(band, window);
    const double threshold = EdgeThreshold(profile, window);
    const std::vector<Edge> edges = FindEdges(profile, threshold);
    if (edges.size() < static_cast<std::size_t>(kMinEdges)) return;
    double mean = 0.0;
    for (const Edge& e : edges) mean += e.strength;
    mean /= static_cast<double>(edges.size());
    const double boundaryThreshold = std::max(threshold, mean / 4.0);
    const std::vector<Edge> boundaries = FindEdges(profile, boundaryThreshold);
    if (boundaries.size() > kMaxBoundaries) {
        if (settings_.calibrationLoaded)
            LogPairValue("err - ", "too many bars", static_cast<int>(boundaries.size()));
        return;
    }

    const bool tallBand = height > Scaled(r_, 2, 15);
    for (const ElementRun& found : CutRuns(boundaries)) {
        if (found.widths.size() <= kMinRunElements) continue;
        std::optional<ElementRun> run = found;
        if (run->widths.size() % 2 == 0) run = WalkAgain(profile, found, boundaryThreshold);
        if (!run) continue;
        if (tallBand && run->widths.size() > kBarcodeLikeTallRun) barcodeLike_ = true;
        for (const ElementRun& piece : SplitAtQuietZones(*run)) {
            const std::size_t count = piece.widths.size();
            if (count < kMinDecodedRun || piece.end - piece.start < Scaled(r_, 32, 75)) continue;
            const ListOutcome outcome = DecodeList(piece, band, preset);
            if (outcome.chars > 5 || outcome.firstConfidence > 50) return;
        }
    }
}

// An even element count means a spurious or a lost boundary: the run's
// stretch of the profile is walked again with a higher edge threshold.
std::optional<ElementRun> ZoneScanner::WalkAgain(const std::vector<double>& profile,
                                                 const ElementRun& run, double threshold) const {
    const auto from = static_cast<std::size_t>(std::max(0.0, std::floor(run.start) - 2));
    const auto to = std::min(profile.size(), static_cast<std::size_t>(std::ceil(run.end)) + 3);
    if (to <= from) return std::nullopt;
    const std::vector<double> part(profile.begin() + static_cast<std::ptrdiff_t>(from),
                                   profile.begin() + static_cast<std::ptrdiff_t>(to));
    for (int attempt = 0; attempt < kEvenRunRetries; ++attempt) {
        threshold = std::max(threshold * 1.1, threshold + 1.0);
        std::vector<ElementRun> runs = CutRuns(FindEdges(part, threshold));
        auto longest = std::max_element(runs.begin(), runs.end(), [](const auto& a, const auto& b) {
            return a.widths.size() < b.widths.size();
        });
        if (longest == runs.end() || longest->widths.size() <= kMinRunElements) return std::nullopt;
        if (longest->widths.size() % 2 == 1) {
            longest->start += static_cast<double>(from);
            longest->end += static_cast<double>(from);
            return *longest;
        }
    }
    return std::nullopt;
}

ListOutcome ZoneScanner::DecodeList(const ElementRun& run, imaging::ConstImageView band,
                                    ConfidenceLevels preset) {
    const std::size_t count = run.widths.size();
    if (count > kMaxListElements) {
        LogPair("war - ", "too many bars, ignored");
        return {};
    }
    if (count < kMinListElements) return {};
    if (count > kBarcodeLikeElements) barcodeLike_ = true;

    const double module = (run.end - run.start) / (static_cast<double>(count - 1) / 2.0);
    const PrintQuality quality = AnalysePrintQuality(
        band, static_cast<int>(std::floor(run.start / kSamplesPerPixel)),
        static_cast<int>(std::ceil(run.end / kSamplesPerPixel)), module, preset);
    if (quality.contrast > kBarcodeLikeContrast) barcodeLike_ = true;

    ListOutcome outcome = TrySymbologies(run.widths, run, band, quality.levels, Direction::Forward);
    if (settings_.mirror && !outcome.verified && count >= kMinMirrorElements) {
        std::vector<int> reversed;
        try {
            reversed.assign(run.widths.rbegin(), run.widths.rend());
        } catch (const std::bad_alloc&) {
            platform::SetLastSystemError(platform::kErrorNotEnoughMemory);
            LogPairValue("err - ", "barcode with invalid memory allocation - skipper rotation",
                         platform::LastSystemError());
            return outcome;
        }
        const ListOutcome mirrored =
            TrySymbologies(reversed, run, band, quality.levels, Direction::Reversed);
        if (mirrored.chars > 0 && outcome.chars == 0) outcome = mirrored;
    }
    return outcome;
}

ListOutcome ZoneScanner::TrySymbologies(const std::vector<int>& widths, const ElementRun& run,
                                        imaging::ConstImageView band, ConfidenceLevels levels,
                                        Direction direction) {
    ListOutcome outcome;
    for (Symbology symbology : kDecodeOrder) {
        if (font_ != kFontAllBarcodes && font_ - kFontFirstBarcode != static_cast<int>(symbology))
            continue;
        std::optional<SymbolText> read = DecodeSymbology(symbology, widths);
        if (!read || read->text.empty()) continue;
        const bool verified = read->verified && read->text.size() >= MinVerifiedLength(symbology);
        int confidence = verified ? levels.verified : levels.unverified;
        if (symbology == Symbology::Code39 && settings_.pharmaceutical && read->text.size() == 6) {
            const std::optional<std::string> code32 = TranscodeCode32(read->text);
            if (!code32) {
                LogPair("err - ", "wrong decoding");
                LogText(read->text);
                continue;
            }
            // Every digit gets the mean confidence of the six characters,
            // no more than the verified level.
            confidence = std::min(levels.verified, confidence);
            read->text = *code32;
        }
        Stretch stretch;
        stretch.symbology = symbology;
        stretch.reversed = direction == Direction::Reversed;
        stretch.left = static_cast<int>(run.start / kSamplesPerPixel);
        stretch.right = static_cast<int>(run.end / kSamplesPerPixel);
        stretch.bottom = band.Height();
        for (char c : read->text)
            stretch.chars.push_back({.ch = c, .confidence = confidence, .verified = verified});
        zone_.Merge(stretch);
        if (outcome.chars == 0) {
            outcome.chars = read->text.size();
            outcome.firstConfidence = confidence;
        }
        if (read->verified) {
            outcome.verified = true;
            break;
        }
    }
    return outcome;
}

bool KnownFont(int font) {
    if (font == kFontAllBarcodes) return true;
    if (font < kFontFirstBarcode || font > kFontLastBarcode) return false;
    const int index = font - kFontFirstBarcode;
    // Indexes 2 and 5 name no decoder.
    return index != 2 && index != 5;
}

}  // namespace

int ReadBarcodes(imaging::ConstImageView zone, int font, int maxChars,
                 const BarcodeSettings& settings, BarcodeState& state, BarcodeReading& out) {
    out = {};
    state.lastSymbology = kNoSymbologyRead;
    const double dpi = zone.Res().x;
    if (!(dpi >= 1.0 && dpi <= kMaxResolution)) return 0;
    const int r = static_cast<int>(std::lround(dpi));
    if (maxChars <= 0 || !KnownFont(font) || zone.Empty()) return 0;
    if (zone.Width() < Scaled(r, 64, 75) || zone.Height() < Scaled(r, 2, 75)) return 0;

    // Each cleaning is read afresh: the same bars seen again at another
    // brightness are no new evidence for a reading that did not stand.
    for (int offset : kCleaningOffsets) {
        imaging::ImageBuffer cleaned;
        try {
            cleaned = imaging::CleanZone(zone, offset);
        } catch (const std::exception&) {
            // No memory, or more than a buffer may hold.
            platform::SetLastSystemError(platform::kErrorNotEnoughMemory);
            LogPairValue("err - ", "duplicating ocr image", platform::LastSystemError());
            SetLastResult(KVX_ERR_OUT_OF_MEMORY);
            return kBarcodeAllocationFailed;
        }
        ZoneReading reading(maxChars);
        ZoneScanner scanner(r, font, settings, reading);
        try {
            scanner.ReadCleaned(cleaned.View());
        } catch (const std::bad_alloc&) {
            platform::SetLastSystemError(platform::kErrorNotEnoughMemory);
            LogPairValue("err - ", "read barcode with invalid memory allocation",
                         platform::LastSystemError());
            SetLastResult(KVX_ERR_OUT_OF_MEMORY);
            out = {};
            return 0;
        }
        state.lastSymbology = reading.Finish(out);
        if (!out.text.empty() || !scanner.BarcodeLike()) break;
    }
    return static_cast<int>(out.text.size());
}

}  // namespace kovran::decoders::barcode
