#include "sim/card_swipe.h"

#include <algorithm>
#include <bit>

namespace kovran::sim {
namespace {

// A track's data may not pass this many raw characters.
constexpr std::size_t kReaderBytes = 128;
// A stray bit on the card before the start sentinel: the reader begins
// its first character there.
constexpr std::array<int, 8> kNoiseBits = {1, 0, 0, 0, 0, 0, 0, 0};
constexpr int kSlipBits = 2;

int Width(int track) {
    return track == 1 ? 7 : 5;
}

unsigned ValueOf(int track, char c) {
    const unsigned v = static_cast<unsigned char>(c) - (track == 1 ? 0x20u : 0x30u);
    return v & ((1u << (Width(track) - 1)) - 1);
}

unsigned WithParity(int track, unsigned v) {
    return (std::popcount(v) & 1) != 0 ? v : v | (1u << (Width(track) - 1));
}

bool Hits(const CardSwipe& swipe, int track, SwipeFault fault) {
    return swipe.fault == fault && (swipe.faultTrack == 0 || swipe.faultTrack == track);
}

}  // namespace

bool InTrackSet(int track, std::string_view text) {
    return std::all_of(text.begin(), text.end(), [track](char c) {
        return track == 1 ? c >= 0x20 && c <= 0x5F : c >= '0' && c <= '?';
    });
}

std::vector<std::uint8_t> SwipeBytes(const CardSwipe& swipe, int track) {
    if (track < 1 || track > kStripeTracks) return {};
    std::string text = swipe.tracks[static_cast<std::size_t>(track - 1)];
    if (text.empty()) return {};
    const int w = Width(track);
    if (Hits(swipe, track, SwipeFault::MissingStart)) text.erase(0, 1);
    if (Hits(swipe, track, SwipeFault::MissingEnd) && !text.empty()) text.pop_back();
    if (Hits(swipe, track, SwipeFault::TooLong) && text.size() < kReaderBytes + 1)
        text.insert(text.empty() ? 0 : text.size() - 1, kReaderBytes + 1 - text.size(), '0');

    std::vector<unsigned> chars;
    unsigned lrc = 0;
    for (const char c : text) {
        chars.push_back(WithParity(track, ValueOf(track, c)));
        lrc ^= ValueOf(track, c);
    }
    if (Hits(swipe, track, SwipeFault::WrongLrc)) lrc ^= 1u;
    chars.push_back(WithParity(track, lrc));
    if (Hits(swipe, track, SwipeFault::FlippedParity) && chars.size() > 2)
        chars[1] ^= 1u << (w - 1);

    std::vector<int> bits;
    if (Hits(swipe, track, SwipeFault::NoiseBeforeStart))
        bits.assign(kNoiseBits.begin(), kNoiseBits.end());
    for (const unsigned c : chars)
        for (int m = 0; m < w; ++m) bits.push_back(static_cast<int>((c >> m) & 1u));
    if (swipe.direction == SwipeDirection::Reversed) std::reverse(bits.begin(), bits.end());

    // The reader waits for the first one bit and stops after the last.
    auto first = std::find(bits.begin(), bits.end(), 1);
    const auto last = std::find(bits.rbegin(), bits.rend(), 1).base();
    if (first == bits.end()) return {};
    if (Hits(swipe, track, SwipeFault::BitSlip))
        first += std::min<std::ptrdiff_t>(kSlipBits, last - first);
    std::vector<std::uint8_t> out;
    for (auto it = first; it < last; it += std::min<std::ptrdiff_t>(w, last - it)) {
        unsigned c = 0;
        for (int m = 0; m < w && it + m < last; ++m)
            if (*(it + m) != 0) c |= 1u << m;
        out.push_back(static_cast<std::uint8_t>(c));
    }
    return out;
}

std::optional<CardSwipe> ParseSwipe(std::string_view value, std::string* why) {
    CardSwipe swipe;
    std::array<std::string_view, kStripeTracks + 1> parts{};
    std::size_t count = 0;
    for (;;) {
        const std::size_t bar = value.find('|');
        if (count == parts.size()) {
            *why = "a swipe has three tracks and its options";
            return std::nullopt;
        }
        parts[count++] = value.substr(0, bar);
        if (bar == std::string_view::npos) break;
        value.remove_prefix(bar + 1);
    }
    if (count < kStripeTracks) {
        *why = "a swipe needs three tracks separated by '|'";
        return std::nullopt;
    }
    for (int t = 1; t <= kStripeTracks; ++t) {
        const std::string_view text = parts[static_cast<std::size_t>(t - 1)];
        if (!InTrackSet(t, text)) {
            *why = "track " + std::to_string(t) + " holds a character it cannot carry";
            return std::nullopt;
        }
        swipe.tracks[static_cast<std::size_t>(t - 1)] = std::string(text);
    }
    std::string_view options = count > kStripeTracks ? parts[kStripeTracks] : std::string_view();
    struct Name {
        std::string_view name;
        SwipeFault fault;
    };
    static constexpr Name kFaults[] = {
        {"parity", SwipeFault::FlippedParity}, {"no_start", SwipeFault::MissingStart},
        {"no_end", SwipeFault::MissingEnd},    {"lrc", SwipeFault::WrongLrc},
        {"too_long", SwipeFault::TooLong},     {"noise", SwipeFault::NoiseBeforeStart},
        {"slip", SwipeFault::BitSlip}};
    while (!options.empty()) {
        const std::size_t blank = options.find(' ');
        const std::string_view word = options.substr(0, blank);
        options = blank == std::string_view::npos ? std::string_view() : options.substr(blank + 1);
        if (word.empty()) continue;
        if (word == "reversed") {
            swipe.direction = SwipeDirection::Reversed;
            continue;
        }
        if (word.substr(0, 6) != "fault=" || swipe.fault != SwipeFault::None) {
            *why = "unknown swipe option \"" + std::string(word) + "\" (one fault at most)";
            return std::nullopt;
        }
        std::string_view name = word.substr(6);
        const std::size_t at = name.find('@');
        if (at != std::string_view::npos) {
            const std::string_view t = name.substr(at + 1);
            if (t.size() != 1 || t[0] < '1' || t[0] > '3') {
                *why = "a swipe fault names track 1, 2 or 3";
                return std::nullopt;
            }
            swipe.faultTrack = t[0] - '0';
            name = name.substr(0, at);
        }
        const auto f = std::find_if(std::begin(kFaults), std::end(kFaults),
                                    [&](const Name& n) { return n.name == name; });
        if (f == std::end(kFaults)) {
            *why = "unknown swipe fault \"" + std::string(name) + "\"";
            return std::nullopt;
        }
        swipe.fault = f->fault;
    }
    return swipe;
}

}  // namespace kovran::sim
