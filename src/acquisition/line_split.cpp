#include "acquisition/line_split.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "api/log.h"
#include "device/acq_mode.h"

namespace kovran::acquisition {
namespace {

// A pixel is a dropout when it fell far below what the line before had.
bool Dropout(std::uint8_t now, std::uint8_t before) {
    return (now < 30 && before > 60) || (now < 60 && before > 120);
}
// Only runs longer than this are sensor dropouts; shorter ones are image.
constexpr std::size_t kDropoutRun = 32;
// The software detection needs at least this much disagreement to act.
constexpr std::int64_t kGlitchFloor = 50;
constexpr std::uint8_t kWhite = 255;

// Even bytes to the front, odd bytes to the rear. This runs over every byte
// of a duplex stream, so sixteen pairs go at once where the processor can.
void SplitPairs(const std::uint8_t* src, std::uint8_t* front, std::uint8_t* rear,
                std::size_t pairs) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i evenBytes = _mm_set1_epi16(0x00FF);
    for (; i + 16 <= pairs; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i + 16));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(front + i),
            _mm_packus_epi16(_mm_and_si128(a, evenBytes), _mm_and_si128(b, evenBytes)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rear + i),
                         _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
    }
#endif
    for (; i < pairs; ++i) {
        front[i] = src[2 * i];
        rear[i] = src[2 * i + 1];
    }
}

}  // namespace

LineSplitter::LineSplitter(CorrectionBlock& block, const SplitOptions& options)
    : block_(block), options_(options), lineLength_(block.rawLineLength) {
    const ImageRecord& front = block.records[kFront];
    const ImageRecord& rear = block.records[kRear];
    const ImageRecord& light = block.records[kBacklight];
    const ImageRecord& lead = front.stride != 0 ? front : rear;
    const std::size_t channels = std::max<std::size_t>(lead.channels, 1);
    const std::size_t pitch = lead.channelPitch;
    const std::size_t strip = block.stripBytes;

    for (std::size_t c = 0; c < channels; ++c)
        segments_.push_back({.start = c * (pitch + strip),
                             .pixels = pitch,
                             .strip = strip,
                             .channel = static_cast<int>(c)});
    const std::size_t afterChannels = channels * (pitch + strip);
    if (light.data != nullptr && light.sensorPixels != 0 &&
        afterChannels + light.sensorPixels <= lineLength_)
        segments_.push_back(
            {.start = afterChannels, .pixels = light.sensorPixels, .strip = 0, .channel = -1});

    interleaved_ = front.data != nullptr && rear.data != nullptr && front.sensorPixels != 0 &&
                   rear.sensorPixels != 0 &&
                   pitch >= std::size_t{front.sensorPixels} + rear.sensorPixels;
    singleSide_ = (front.data != nullptr && (front.enabled || !rear.enabled)) ? kFront : kRear;

    const std::size_t dpi = lead.dpiH;
    window_ = options.halfGlitchWindow ? dpi / 4 : dpi / 2;
    window_ = std::clamp<std::size_t>(window_, 1, std::max<std::size_t>(pitch / 2, 1));
    alignerSearch_ = std::size_t{2} * std::max<std::size_t>(lead.width, 1);

    for (int side : {kRear, kFront, kBacklight}) {
        const ImageRecord& r = block.records[static_cast<std::size_t>(side)];
        const auto s = static_cast<std::size_t>(side);
        lineSpan_[s] =
            static_cast<std::size_t>(std::max(r.channels - 1, 0)) * r.channelPitch + r.sensorPixels;
        if (r.data == nullptr || !r.alloc || block.raw == nullptr) continue;
        // Planar line y ends at data + y x stride + span; the raw line after
        // it starts at raw + (y + 1) x length, and the gap only grows with y.
        // Without room for the largest backward shift there (no lead), a
        // backward move would read bytes already split.
        const std::uint8_t* begin = r.alloc->Bytes();
        const bool sameMemory = block.raw >= begin && block.raw < begin + r.alloc->Size();
        if (sameMemory && block.raw + lineLength_ < r.data + lineSpan_[s] + kMaxGlitchOffset)
            backwardAllowed_ = false;
    }
    current_.assign(lineLength_, kWhite);
    previous_.assign(lineLength_, kWhite);
}

std::uint8_t* LineSplitter::LineOf(int side, std::int32_t y, int channel) const {
    const ImageRecord& r = block_.records[static_cast<std::size_t>(side)];
    if (r.data == nullptr || !r.alloc || y < 0) return nullptr;
    const std::uint8_t* begin = r.alloc->Bytes();
    if (r.data < begin || r.data > begin + r.alloc->Size()) return nullptr;
    const std::size_t room = r.alloc->Size() - static_cast<std::size_t>(r.data - begin);
    const std::size_t at = static_cast<std::size_t>(y) * r.stride;
    if (at + lineSpan_[static_cast<std::size_t>(side)] > room) return nullptr;
    return r.data + at + static_cast<std::size_t>(channel) * r.channelPitch;
}

bool LineSplitter::MoveAllowed(int next, std::size_t nominal) const {
    if (std::abs(next) > kMaxGlitchOffset) return false;
    if (next >= 0) return true;
    return backwardAllowed_ && nominal >= static_cast<std::size_t>(-next);
}

void LineSplitter::Split(std::int32_t y, std::size_t limit) {
    if (y < 0 || lineLength_ == 0) return;
    // A count past the transfer does not make the bytes after it part of
    // the stream: the raw buffer may end there.
    limit = std::min(limit, block_.transferLength);
    const std::size_t lineStart = static_cast<std::size_t>(y) * lineLength_;
    for (const Segment& s : segments_) {
        if (options_.realign && y >= 1) Realign(y, s, limit);
        const std::size_t pos =
            static_cast<std::size_t>(static_cast<std::ptrdiff_t>(lineStart + s.start) + offset_);
        CopyRaw(s, pos, limit);
    }
    for (const Segment& s : segments_) {
        if (s.channel < 0) {
            std::uint8_t* dst = LineOf(kBacklight, y, 0);
            if (dst != nullptr)
                std::memcpy(
                    dst, current_.data() + s.start,
                    std::min<std::size_t>(s.pixels, block_.records[kBacklight].sensorPixels));
            continue;
        }
        if (options_.softwareNoise && havePrevious_) RepairNoise(s);
        Deinterleave(y, s);
        AppendStrip(s);
    }
    std::swap(current_, previous_);
    havePrevious_ = true;
}

void LineSplitter::Realign(std::int32_t y, const Segment& s, std::size_t limit) {
    const std::size_t nominal = static_cast<std::size_t>(y) * lineLength_ + s.start;
    const std::size_t pos =
        static_cast<std::size_t>(static_cast<std::ptrdiff_t>(nominal) + offset_);
    if (options_.hardwareAligner)
        AlignerResync(y, pos, limit);
    else if (options_.softwareGlitch)
        SoftwareGlitch(y, s, pos, limit);
}

void LineSplitter::AlignerResync(std::int32_t y, std::size_t pos, std::size_t limit) {
    const std::uint8_t* raw = block_.raw;
    if (pos >= limit) return;
    // Whether the latest line checked is in place: a line missed and found
    // again further on leaves the rest of the document whole.
    markerLost_ = raw[pos] != 0;
    if (!markerLost_) return;
    const std::size_t nominal =
        static_cast<std::size_t>(static_cast<std::ptrdiff_t>(pos) - offset_);
    // The nearest marker wins, whichever way it lies: a byte lost by the
    // device puts this line's marker one byte back, while the next channel
    // line's marker may lie within the forward window, and taking it would
    // drop a whole channel line.
    for (std::size_t d = 1; d <= alignerSearch_; ++d) {
        const bool ahead = pos + d < limit;
        const bool behind = d <= pos;
        if (!ahead && !behind) break;
        if (ahead && raw[pos + d] == 0) {
            const int next = offset_ + static_cast<int>(d);
            if (!MoveAllowed(next, nominal)) {
                LogText("alligner detected glitch offset too large");
                return;
            }
            LogValue("alligner detected positive glith at", y);
            offset_ = next;
            markerLost_ = false;
            return;
        }
        if (behind && raw[pos - d] == 0) {
            const int next = offset_ - static_cast<int>(d);
            if (!MoveAllowed(next, nominal)) {
                LogText("glitch offset too large");
                return;
            }
            LogValue("alligner detected negative glith at", y);
            offset_ = next;
            markerLost_ = false;
            return;
        }
    }
}

void LineSplitter::SoftwareGlitch(std::int32_t y, const Segment& s, std::size_t pos,
                                  std::size_t limit) {
    if (!havePrevious_ || pos < 1 || pos + s.pixels + 1 > limit || s.pixels < 2) return;
    const std::uint8_t* raw = block_.raw + pos;
    const std::uint8_t* prev = previous_.data() + s.start;
    const std::size_t a = std::min(window_, s.pixels / 2);
    std::int64_t f = 0, g = 0, h = 0;
    auto add = [&](std::size_t i) {
        const int p = prev[i];
        f += std::abs(int{raw[i]} - p);
        g += std::abs(int{raw[static_cast<std::ptrdiff_t>(i) - 1]} - p);
        h += std::abs(int{raw[i + 1]} - p);
    };
    for (std::size_t i = 0; i < a; ++i) add(i);
    for (std::size_t i = s.pixels - a; i < s.pixels; ++i) add(i);

    const std::int64_t floor = std::min<std::int64_t>(kGlitchFloor, static_cast<std::int64_t>(a));
    int step = 0;
    const char* form = nullptr;
    if (g * 5 < f * 3 && g >= floor && g < h) {
        step = -1;
        form = "negative glith \t%d\t%d\t%d";
    } else if (h * 5 < f * 3 && h >= floor && h < g) {
        step = 1;
        form = "positive glith \t%d\t%d\t%d";
    }
    if (step == 0) return;
    const std::size_t nominal =
        static_cast<std::size_t>(static_cast<std::ptrdiff_t>(pos) - offset_);
    if (!MoveAllowed(offset_ + step, nominal)) {
        LogText("glitch offset too large");
        return;
    }
    char text[96];
    std::snprintf(text, sizeof text, form, static_cast<int>(f), static_cast<int>(g),
                  static_cast<int>(h));
    LogPairValue(text, "at", y);
    offset_ += step;
}

void LineSplitter::CopyRaw(const Segment& s, std::size_t pos, std::size_t limit) {
    const std::size_t n = s.pixels + s.strip;
    std::uint8_t* dst = current_.data() + s.start;
    const std::size_t have = pos < limit ? std::min(n, limit - pos) : 0;
    if (have != 0) std::memcpy(dst, block_.raw + pos, have);
    if (have < n) std::memset(dst + have, kWhite, n - have);
}

void LineSplitter::RepairNoise(const Segment& s) {
    std::uint8_t* now = current_.data() + s.start;
    const std::uint8_t* before = previous_.data() + s.start;
    auto repair = [&](std::size_t first, std::size_t step, std::size_t count) {
        std::size_t run = 0;
        auto close = [&](std::size_t end) {
            if (run > kDropoutRun) {
                for (std::size_t k = end - run; k < end; ++k) {
                    const std::size_t at = first + k * step;
                    now[at] = before[at];
                }
                if (!noiseFound_) LogText("noise detected");
                noiseFound_ = true;
            }
            run = 0;
        };
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t at = first + k * step;
            if (Dropout(now[at], before[at]))
                ++run;
            else
                close(k);
        }
        close(count);
    };
    if (interleaved_) {
        const std::size_t pairs = s.pixels / 2;
        repair(0, 2, pairs);  // front
        repair(1, 2, pairs);  // rear
    } else {
        repair(0, 1, s.pixels);
    }
}

void LineSplitter::Deinterleave(std::int32_t y, const Segment& s) {
    const std::uint8_t* src = current_.data() + s.start;
    if (interleaved_) {
        std::uint8_t* front = LineOf(kFront, y, s.channel);
        std::uint8_t* rear = LineOf(kRear, y, s.channel);
        if (front == nullptr || rear == nullptr) return;
        const std::size_t pairs =
            std::min({s.pixels / 2, std::size_t{block_.records[kFront].sensorPixels},
                      std::size_t{block_.records[kRear].sensorPixels}});
        SplitPairs(src, front, rear, pairs);
        return;
    }
    std::uint8_t* dst = LineOf(singleSide_, y, s.channel);
    if (dst == nullptr) return;
    const std::size_t n = std::min<std::size_t>(
        s.pixels, block_.records[static_cast<std::size_t>(singleSide_)].sensorPixels);
    std::memcpy(dst, src, n);
}

void LineSplitter::AppendStrip(const Segment& s) {
    if (s.strip == 0 || block_.cmc7 == nullptr) return;
    const std::size_t have = block_.cmc7Samples.load(std::memory_order_relaxed);
    if (have >= block_.cmc7Capacity) return;
    const std::size_t n = std::min(s.strip, block_.cmc7Capacity - have);
    std::memcpy(block_.cmc7 + have, current_.data() + s.start + s.pixels, n);
    block_.cmc7Samples.store(have + n, std::memory_order_release);
}

}  // namespace kovran::acquisition
