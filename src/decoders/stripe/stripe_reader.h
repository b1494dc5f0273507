// The magnetic stripe reader beside the feeder: switching it on and off,
// waiting for a swipe through the status word, fetching the raw tracks
// from the reader's badge buffer and decoding them into the three track
// texts the host reads back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "KovranMS.h"
#include "decoders/stripe/track_decoder.h"
#include "device/connection_seams.h"

namespace kovran::decoders::stripe {

// Status bits of the reader.
inline constexpr std::uint32_t kStatusReaderOn = 0x1000;
inline constexpr std::uint32_t kStatusTrack1Data = 0x2000;
inline constexpr std::uint32_t kStatusTrackData = 0xE000;

// Sub-codes of command class 0xD2.
inline constexpr std::uint32_t kBadgeReset = 1;
inline constexpr std::uint32_t kTrack1Data = 2;  // tracks 2 and 3 follow
inline constexpr std::uint32_t kReaderOn = 5;
inline constexpr std::uint32_t kReaderOff = 6;

// The status word is read this often while waiting for a swipe.
inline constexpr unsigned kSwipePollMs = 100;

enum class ReaderState : std::uint8_t { Unknown, On, Off };

// Each track's text after the last read, 0-terminated; all zero when the
// track was empty or did not decode.
using StripeTrack = std::array<std::array<char, kTrackBytes>, kTrackCount>;

// The reader's part of the library state.
struct StripeRecord {
    StripeTrack tracks{};
    // The last switch request the reader accepted.
    ReaderState reader = ReaderState::Unknown;
    // The device refused the reader's commands: it has no stripe reader.
    bool absent = false;
};

StripeRecord& Stripe();

// Whether a switch-on request is sent when the library believes the reader
// is on already.
enum class Resend : bool { No, Yes };

// Switches the reader on or off. A device without a reader (it refuses the
// command) and the other vendors' devices make it a successful no-op.
KVXResult SwitchReader(device::StripeReader state, Resend resend);

// The initialise's step: the device may be another one than before, and
// its answer never changes the initialise's last result.
void SwitchReaderAtInitialise(device::StripeReader state);

// Empties the reader's badge buffer; the transport's error on failure,
// after `failureLine` is logged; KVX_ERR_HW_UNSUPPORTED without a reader.
KVXResult ResetBadgeBuffer(const char* failureLine);

// Waits for a swipe, fetches every track that holds data and decodes it;
// `flags` (kStrip*) say what each stored text keeps. The tracks that
// decode are stored also when another fails; the result is then the first
// failing track's.
KVXResult ReadTracks(unsigned flags);

// The stored text of a track (1 to 3); empty for any other number.
const char* TrackText(int track);

}  // namespace kovran::decoders::stripe
