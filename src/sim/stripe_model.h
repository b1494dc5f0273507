// The magnetic stripe reader of a simulated scanner (command class 0xD2):
// switched on and off by the host, and the cards swiped through it. Cards
// wait in a queue like the documents of the feeder; while the reader is on
// the first of them passes the head and its tracks fill the reader's badge
// buffer, which the host reads in pieces and then resets for the next card.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "sim/card_swipe.h"
#include "sim/command_table.h"

namespace kovran::sim {

// Status bits of the reader.
inline constexpr std::uint32_t kStatusStripeTrack1 = 0x2000;

class StripeModel {
  public:
    bool On() const { return on_; }
    void Enable();
    void Disable() { on_ = false; }
    // Forgets what the reader holds; the next card may pass.
    void Reset();
    // A card for the reader; it passes as soon as the reader is on and empty.
    void Queue(const CardSwipe& swipe);
    std::size_t Queued() const { return queue_.size(); }
    // The track bits of the status word: a track that holds data.
    std::uint32_t TrackBits() const;
    // The reply of a track read (sub-codes 0x02 to 0x04): byte 0 echoes the
    // sub-code, byte 1 is the count of bytes that follow, up to
    // kTrackPiece of them; 64 bytes. A count of 0 once the track is read.
    std::vector<std::uint8_t> TrackReply(std::uint8_t sub);

    // Bytes a track read hands out at most, so that longer tracks take
    // several reads as on the device.
    static constexpr std::size_t kTrackPiece = 32;

    // Command handlers.
    static void OnReset(ScannerModel& model, const CommandCall& call);
    static void OnReadTrack(ScannerModel& model, const CommandCall& call);
    static void OnEnable(ScannerModel& model, const CommandCall& call);
    static void OnDisable(ScannerModel& model, const CommandCall& call);

  private:
    void Pass();

    bool on_ = false;
    std::deque<CardSwipe> queue_;
    // The badge buffer: what the last card left on each track and how much
    // of it the host has read.
    std::array<std::vector<std::uint8_t>, kStripeTracks> tracks_;
    std::array<std::size_t, kStripeTracks> read_{};
    bool holding_ = false;
};

}  // namespace kovran::sim
