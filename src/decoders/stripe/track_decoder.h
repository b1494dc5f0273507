// The decoding of one magnetic stripe track from the raw characters the
// swipe reader collected (ISO/IEC 7811 layout). A pure function of the
// bytes: the reader fetches them from the device and logs what the
// decoding reports.
//
// A track is all or nothing: a text comes back only when both sentinels,
// the parity of every character and the longitudinal redundancy check
// (LRC) agree. A wrong account number is worse than a clear error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "KovranMS.h"

namespace kovran::decoders::stripe {

inline constexpr int kTrackCount = 3;
// Raw bytes one track may hold, and the size of a track's text buffer.
inline constexpr std::size_t kTrackBytes = 128;

// How the card passed the head: forward, or reversed (characters last
// first, each with its bits mirrored).
enum class SwipeDirection : std::uint8_t { Forward, Reversed };

// A line the decoding asks its caller to write to the log.
struct DecodeNote {
    const char* prefix;  // "err - " or "war - "
    const char* text;
    std::optional<int> value;
};

struct TrackDecoding {
    KVXResult result = KVX_ERR_MS_READ;
    // Start sentinel through LRC character; empty unless result is KVX_OK.
    std::string text;
    SwipeDirection direction = SwipeDirection::Forward;
    // Bits the reversed stream was shifted by to find its characters.
    int realignedBits = 0;
    std::vector<DecodeNote> notes;
};

// Decodes track 1, 2 or 3 from its raw characters, one per byte, as the
// reader delivers them. Any other track number gives KVX_ERR_INV_PARAMETER.
TrackDecoding DecodeTrack(int track, std::span<const std::uint8_t> raw);

// Flags of a read: what to remove from a decoded text.
inline constexpr unsigned kStripStartSentinel = 0x1;
inline constexpr unsigned kStripEndSentinel = 0x2;
inline constexpr unsigned kStripLrc = 0x4;

// The text a host gets back for these flags. Removing the end sentinel but
// keeping the LRC puts the LRC character in the end sentinel's place.
std::string StripTrack(std::string_view text, unsigned flags);

}  // namespace kovran::decoders::stripe
