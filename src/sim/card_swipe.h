// A card swiped through the simulated scanner's stripe reader, and the raw
// bytes the reader collects from it: the texts written on the card's
// tracks (ISO/IEC 7811 characters with odd parity and the LRC the
// simulator works out), the direction of the swipe, and the faults a worn
// card or a clumsy swipe brings.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kovran::sim {

inline constexpr int kStripeTracks = 3;

enum class SwipeDirection : std::uint8_t { Forward, Reversed };

enum class SwipeFault : std::uint8_t {
    None,
    FlippedParity,     // the parity bit of the first data character
    MissingStart,      // the start sentinel is not on the card
    MissingEnd,        // the end sentinel is not on the card
    WrongLrc,          // one data bit of the LRC is wrong (its parity right)
    TooLong,           // data past 128 characters
    NoiseBeforeStart,  // stray bits before the start sentinel
    BitSlip,           // the reader starts two bits late
};

struct CardSwipe {
    // As written on the card: start sentinel, data, end sentinel; no LRC.
    // Empty: the track holds nothing.
    std::array<std::string, kStripeTracks> tracks;
    SwipeDirection direction = SwipeDirection::Forward;
    SwipeFault fault = SwipeFault::None;
    int faultTrack = 0;  // 1 to 3; 0: every track that holds data
};

// The bytes the reader holds for a track (1 to 3) after the swipe: the bits
// in the order they passed the head, from the first one bit on, grouped into
// characters (first bit in bit 0) up to the last one bit. Empty for an
// empty track.
std::vector<std::uint8_t> SwipeBytes(const CardSwipe& swipe, int track);

// Whether every character of text belongs to the track's set (track 1:
// space to '_'; tracks 2 and 3: '0' to '?').
bool InTrackSet(int track, std::string_view text);

// A profile's "swipe" value: "<track 1>|<track 2>|<track 3>" and, after a
// fourth '|', words: "reversed", "fault=<name>" or "fault=<name>@<track>"
// with the names parity, no_start, no_end, lrc, too_long, noise, slip.
// Track texts are taken as written, blanks included.
std::optional<CardSwipe> ParseSwipe(std::string_view value, std::string* why);

}  // namespace kovran::sim
