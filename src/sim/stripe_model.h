// The magnetic stripe reader of a simulated scanner (command class 0xD2):
// switched on and off by the host, and the three tracks it hands out.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/command_table.h"

namespace kovran::sim {

class StripeModel {
  public:
    bool On() const { return on_; }
    void Enable() { on_ = true; }
    void Disable() { on_ = false; }
    // Forgets what the reader holds.
    void Reset() {}
    // The reply of a track read (sub-codes 0x02 to 0x04): byte 0 echoes the
    // sub-code, byte 1 is the count of bytes that follow; 64 bytes.
    std::vector<std::uint8_t> TrackReply(std::uint8_t sub) const;

    // Command handlers.
    static void OnReset(ScannerModel& model, const CommandCall& call);
    static void OnReadTrack(ScannerModel& model, const CommandCall& call);
    static void OnEnable(ScannerModel& model, const CommandCall& call);
    static void OnDisable(ScannerModel& model, const CommandCall& call);

  private:
    bool on_ = false;
};

}  // namespace kovran::sim
