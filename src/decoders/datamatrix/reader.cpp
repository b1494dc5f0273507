#include "decoders/datamatrix/reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <new>

#include <opencv2/core.hpp>

#include "decoders/datamatrix/module_reading.h"
#include "decoders/datamatrix/qr_reader.h"
#include "decoders/datamatrix/symbol_search.h"
#include "imaging/mat_adapter.h"

namespace kovran::decoders::datamatrix {

namespace {

constexpr int kLeastZoneSide = 32;
constexpr int kDoubledResolution = 300;  // only zones at this resolution are doubled
constexpr int kLeastTrimmedSide = 200;
constexpr int kSearchSteps[] = {7, 14, 21};

enum class Copy { Whole, Trimmed };

struct Attempt {
    std::optional<std::string> text;
    bool reachedSampling = false;
};

class ZoneDecoder {
  public:
    ZoneDecoder(const DocumentContext& context, const MessageSink& log)
        : context_(context), log_(log) {}

    // One zone at resolution R: the searches, then once more with square
    // targets, then the zone doubled; without any blob, the trimmed zone or
    // the doubled one as the codeline's marks ask.
    std::optional<std::string> Decode(const cv::Mat& zone, int resolution,
                                      Copy copy = Copy::Whole) {
        const CandidateSearch first = SearchCandidate(zone, 0, resolution, context_.typeDoc);
        // The trimmed copy is not trimmed again: the whole zone's own
        // fallback (doubling) follows when it fails.
        if (!first.candidate)
            return copy == Copy::Trimmed ? std::nullopt : NoCandidate(zone, resolution);

        const int b = std::min(first.otsuThreshold + 30, 230);
        bool reachedSampling = false;
        for (Target target : {Target::AsFound, Target::Square}) {
            if (target == Target::Square && (!reachedSampling || context_.equalsMark)) break;
            Attempt attempt = Searches(zone, resolution, first, b, target);
            reachedSampling = reachedSampling || attempt.reachedSampling;
            if (attempt.text) return attempt.text;
        }
        if (reachedSampling) return Doubled(zone, resolution);
        return std::nullopt;
    }

  private:
    // The search at Otsu's threshold (reused) and at three fixed thresholds
    // below b; each candidate found is straightened and its modules read.
    Attempt Searches(const cv::Mat& zone, int resolution, const CandidateSearch& first, int b,
                     Target target) {
        Attempt attempt;
        std::optional<Corners> previous;
        const int lowest = std::max(b - 80, 10);
        const int highest = std::min(b + 80, 250);
        for (int search = 0; search <= 3; ++search) {
            CandidateSearch found;
            int threshold = b;
            if (search == 0) {
                found = first;
            } else {
                threshold = std::max(b - kSearchSteps[search - 1], 0);
                if (threshold < lowest || threshold > highest) continue;
                found = SearchCandidate(zone, threshold, resolution, context_.typeDoc);
            }
            if (!found.candidate) continue;
            const std::optional<cv::Mat> straight =
                Straighten(zone, *found.candidate, resolution, target, &previous);
            if (!straight) continue;
            const ModuleReadingOutcome read = ReadModules(
                *straight, {.resolution = resolution, .threshold = threshold, .context = context_},
                &failedGrids_, log_);
            attempt.reachedSampling = attempt.reachedSampling || read.reachedSampling;
            if (read.text) {
                attempt.text = read.text;
                return attempt;
            }
        }
        return attempt;
    }

    // No blob at all at Otsu's threshold.
    std::optional<std::string> NoCandidate(const cv::Mat& zone, int resolution) {
        if (context_.productId == 0 && context_.microperforationZone && context_.dataMatrixMark &&
            resolution <= 300) {
            // Images of alternative back-ends carry a dark frame that hides
            // the symbol's blob; cut it away.
            const int e = resolution * 12 / 300;
            const int width = zone.cols - 2 * e;
            const int height = zone.rows - 2 * e;
            if (width <= 0 || height <= 0 ||
                static_cast<long long>(std::min(width, height)) * resolution / 300 <
                    kLeastTrimmedSide)
                return Doubled(zone, resolution);
            cv::Mat trimmed;
            try {
                zone(cv::Rect(e, e, width, height)).copyTo(trimmed);
            } catch (const std::bad_alloc&) {
                return Doubled(zone, resolution);
            }
            std::optional<std::string> text = Decode(trimmed, resolution, Copy::Trimmed);
            if (text && !text->empty()) return text;
        }
        if (context_.dataMatrixMark) return Doubled(zone, resolution);
        return std::nullopt;
    }

    // A 300 dpi zone read again at twice the size, as a 600 dpi zone: small
    // symbols then make blobs above the least candidate area.
    std::optional<std::string> Doubled(const cv::Mat& zone, int resolution) {
        if (resolution != kDoubledResolution || context_.equalsMark) return std::nullopt;
        if (static_cast<double>(zone.cols) * zone.rows * 4 >
            static_cast<double>(imaging::kMaxBufferBytes))
            return std::nullopt;
        cv::Mat doubled(zone.rows * 2, zone.cols * 2, CV_8UC1);
        for (int y = 0; y < zone.rows; ++y) {
            const std::uint8_t* source = zone.ptr<std::uint8_t>(y);
            std::uint8_t* target = doubled.ptr<std::uint8_t>(2 * y);
            for (int x = 0; x < zone.cols; ++x) target[2 * x] = target[2 * x + 1] = source[x];
            std::memcpy(doubled.ptr<std::uint8_t>(2 * y + 1), target, doubled.cols);
        }
        return Decode(doubled, 2 * resolution);
    }

    const DocumentContext& context_;
    const MessageSink& log_;
    FailedGrids failedGrids_;
};

void Log(const MessageSink& log, std::string_view line) {
    if (log) log(line);
}

}  // namespace

int ReturnText(std::string_view decoded, char* text, int* maxLength) {
    const int count = static_cast<int>(std::min<std::size_t>(decoded.size(), *maxLength - 1));
    std::memcpy(text, decoded.data(), count);
    text[count] = '\0';
    *maxLength = count;
    return count;
}

int KDataMatrixDecode(const imaging::ConstImageView* zone, char* text, int* maxLength,
                      const DocumentContext& context, const MessageSink& log) {
    if (zone == nullptr || zone->Data() == nullptr) {
        Log(log, "DataMatrix - null pointer");
        return -1;
    }
    if (text == nullptr || maxLength == nullptr || *maxLength <= 0) {
        Log(log, "DataMatrix - invalid parameter");
        if (maxLength != nullptr) *maxLength = 0;
        return -1;
    }
    try {
        text[0] = '\0';
        std::optional<std::string> decoded;
        if (zone->Width() >= kLeastZoneSide && zone->Height() >= kLeastZoneSide &&
            zone->Channels() == 1) {
            // The zone's resolution is a 16-bit whole number of dpi.
            const int resolution =
                static_cast<int>(std::clamp(std::lround(zone->Res().x), 0L, 65535L));
            decoded = ZoneDecoder(context, log).Decode(imaging::ToMat(*zone), resolution);
        }
        if (!decoded || decoded->empty()) {
            *maxLength = 0;
            return 0;
        }
        return ReturnText(*decoded, text, maxLength);
    } catch (...) {
        Log(log, "KDataMatrixDecode exception");
        return -1;
    }
}

int KQrCodeDecode(const imaging::ConstImageView* zone, char* text, int* maxLength,
                  const MessageSink& log) {
    if (text == nullptr || maxLength == nullptr || *maxLength <= 0) {
        Log(log, "QrCode - invalid parameter");
        if (maxLength != nullptr) *maxLength = 0;
        return -1;
    }
    text[0] = '\0';
    if (zone == nullptr || zone->Data() == nullptr) {
        Log(log, "DataMatrix - null pointer");
        return -1;
    }
    try {
        const std::optional<std::string> decoded = ReadQrSymbol(*zone);
        if (!decoded || decoded->empty()) {
            *maxLength = 0;
            return 0;
        }
        return ReturnText(*decoded, text, maxLength);
    } catch (...) {
        Log(log, "KQrCodeDecode exception");
        return -1;
    }
}

}  // namespace kovran::decoders::datamatrix
