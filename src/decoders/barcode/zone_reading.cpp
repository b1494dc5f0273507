#include "decoders/barcode/zone_reading.h"

#include <algorithm>
#include <cstdlib>

#include "api/log.h"

namespace kovran::decoders::barcode {

namespace {

// The final acceptance: a character needs this much confidence, or the lower
// value when its check verified.
constexpr int kAcceptUnverified = 40;
constexpr int kAcceptVerified = 20;

bool SamePlace(const Stretch& a, const Stretch& b) {
    return a.symbology == b.symbology && std::abs(a.left - b.left) <= kMergeDistance &&
           std::abs(a.right - b.right) <= kMergeDistance;
}

bool Better(const Stretch& candidate, const Stretch& current) {
    if (candidate.Verified() != current.Verified()) return candidate.Verified();
    return candidate.MeanConfidence() > current.MeanConfidence();
}

}  // namespace

bool Stretch::Verified() const {
    return std::any_of(chars.begin(), chars.end(), [](const ReadChar& c) { return c.verified; });
}

double Stretch::MeanConfidence() const {
    if (chars.empty()) return 0.0;
    double sum = 0.0;
    for (const ReadChar& c : chars) sum += c.confidence;
    return sum / static_cast<double>(chars.size());
}

std::size_t ZoneReading::Length(const std::vector<Stretch>& stretches) const {
    std::size_t n = 0;
    for (const Stretch& s : stretches) n += s.chars.size();
    // One blank between two barcodes.
    if (!stretches.empty()) n += stretches.size() - 1;
    return n;
}

MergeResult ZoneReading::Merge(const Stretch& reading) {
    std::vector<Stretch> next = stretches_;
    auto same = std::find_if(next.begin(), next.end(),
                             [&](const Stretch& s) { return SamePlace(s, reading); });
    if (same == next.end()) {
        auto at = std::find_if(next.begin(), next.end(),
                               [&](const Stretch& s) { return s.left > reading.left; });
        next.insert(at, reading);
    } else if (same->chars.size() == reading.chars.size()) {
        for (std::size_t i = 0; i < reading.chars.size(); ++i) {
            ReadChar& old = same->chars[i];
            const ReadChar& now = reading.chars[i];
            if (old.ch == now.ch) {
                const int cap = old.verified || now.verified ? kFullConfidence : kUnverifiedCap;
                old.confidence =
                    std::max(old.confidence, std::min(cap, old.confidence + now.confidence));
                old.verified = old.verified || now.verified;
            } else if (now.confidence > old.confidence || (now.verified && !old.verified)) {
                old = now;
            }
        }
    } else if (Better(reading, *same)) {
        *same = reading;
    }
    if (Length(next) > static_cast<std::size_t>(maxChars_)) {
        LogText("barcode reading - too many char");
        return MergeResult::TooManyChars;
    }
    stretches_ = std::move(next);
    return MergeResult::Merged;
}

bool ZoneReading::Complete() const {
    if (stretches_.empty()) return false;
    for (const Stretch& s : stretches_)
        for (const ReadChar& c : s.chars)
            if (c.confidence < kFullConfidence) return false;
    return true;
}

int ZoneReading::Finish(BarcodeReading& out) const {
    out = {};
    int symbology = kNoSymbologyRead;
    for (const Stretch& s : stretches_) {
        CharBox box;
        box.values[1] = static_cast<std::uint16_t>(std::clamp(s.left, 0, 65535));
        box.values[2] = static_cast<std::uint16_t>(std::clamp(s.right, 0, 65535));
        box.values[3] = 0;
        box.values[4] = static_cast<std::uint16_t>(std::clamp(s.bottom, 0, 65535));
        box.values[kBoxSymbology] = static_cast<std::uint16_t>(s.symbology);
        box.values[kBoxReversed] = s.reversed ? 1 : 0;
        // A barcode with a character too weak to keep is not returned in
        // part: the text without that character would be another text.
        const bool weak = std::any_of(s.chars.begin(), s.chars.end(), [](const ReadChar& c) {
            return c.confidence < (c.verified ? kAcceptVerified : kAcceptUnverified);
        });
        if (weak || s.chars.empty()) continue;
        if (!out.text.empty()) {
            out.text.push_back(' ');
            out.confidence.push_back(kFullConfidence);
            out.boxes.push_back(box);
        }
        for (const ReadChar& c : s.chars) {
            CharBox charBox = box;
            charBox.values[kBoxVerified] = c.verified ? 1 : 0;
            out.text.push_back(c.ch);
            out.confidence.push_back(
                static_cast<std::uint8_t>(std::clamp(c.confidence, 1, kFullConfidence)));
            out.boxes.push_back(charBox);
        }
        if (symbology == kNoSymbologyRead) symbology = static_cast<int>(s.symbology);
    }
    return symbology;
}

}  // namespace kovran::decoders::barcode
