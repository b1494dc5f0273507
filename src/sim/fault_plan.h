// Typed fault injection for a simulated scanner. Faults are armed on a
// device (in code or by "fault =" lines of a profile) and consumed by the
// operations they hit; a count of kForever never runs out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/sys_error.h"

namespace kovran::sim {

inline constexpr int kForever = -1;

// Which operations a refusal hits.
enum class FaultSite : std::uint8_t { Control, Open };

// Restricts a fault to one command (class and, optionally, sub-code).
struct CommandMatch {
    std::optional<std::uint8_t> cls;
    std::optional<std::uint8_t> sub;
    bool Matches(std::optional<std::uint8_t> c, std::optional<std::uint8_t> s) const;
};

// The request is refused with 21 (not ready).
struct NotReady {
    int count = 1;
    FaultSite site = FaultSite::Control;
    CommandMatch only = {};
};

// The request is refused with 5 (access denied).
struct AccessDenied {
    int count = 1;
    FaultSite site = FaultSite::Open;
    CommandMatch only = {};
};

// The device disappears: at the atCall-th control transfer from now (1 is
// the next one, which then fails), when the bulk pipes have carried atByte
// more bytes (the transfer crossing it fails), or at the atOpen-th open
// (found in the enumeration, gone when opened). Exactly one is set.
// With `only`, atCall counts the transfers of that command only (a host
// action that sends it pulls the plug).
struct Unplug {
    std::uint64_t atCall = 0;
    std::uint64_t atByte = 0;
    std::uint64_t atOpen = 0;
    CommandMatch only = {};
};

// An unplugged device comes back after this many operations have found it
// missing (enumerations, opens, transfers on old handles); 0: at the next.
struct Replug {
    std::uint64_t afterCalls = 0;
};

// Status reads (0xD0/3) answer eight zero bytes.
struct ZeroStatus {
    int count = 1;
};

// Reads report delta more or fewer bytes than the device would send. A
// positive delta beyond the buffer is reported but never written: a driver
// that lies about its count.
struct WrongLength {
    int count = 1;
    int delta = -1;
    CommandMatch only = {};
};

// Control transfers take this long; one that takes longer than its time-out
// fails with 1460 and has no effect on the device.
struct SlowReply {
    unsigned ms = 0;
    int count = kForever;
    CommandMatch only = {};
};

// Reads answer with byte `offset` of the reply XORed with mask (a device
// that stores a block but hands back something else).
struct CorruptReply {
    int count = 1;
    std::size_t offset = 0;
    std::uint8_t mask = 0xFF;
    CommandMatch only = {};
};

// Bulk transfers longer than this are refused with 1450.
struct BulkTooLarge {
    std::size_t maxBytes = 0;
};

// ---- Faults of the bulk-in stream -------------------------------------------
// Byte positions count the stream's bytes from the device's power-on (all
// acquisitions), as Unplug{.atByte} does from the moment it is armed.

// A bulk-in read fails with `error` (21 not ready, 31 general failure, or
// any other) once the stream has passed atByte more bytes; the stream
// itself goes on with the next read.
struct BulkError {
    int error = platform::kErrorGenFailure;
    int count = 1;
    std::uint64_t atByte = 0;
};

// The stream stops once it has passed atByte more bytes: reads stay
// pending until the acquisition ends.
struct BulkStall {
    std::uint64_t atByte = 0;
    int count = 1;
};

// A read queued after the start command completes at once with no data,
// before GO.
struct EarlyCompletion {
    int count = 1;
};

// The next document's stream ends after this many scan lines, with a
// short read, as if the paper had ended there.
struct ShortDocument {
    std::uint32_t lines = 0;
    int count = 1;
};

// In the next document, channel line `channel` of scan line `line` comes
// one byte late (shift +1: a byte is inserted before it) or early (-1: its
// first byte is lost); every later byte keeps the shift.
struct AlignerGlitch {
    std::uint32_t line = 0;
    int shift = 1;
    int channel = 0;
    int count = 1;
};

// In the next document, front pixels [pixel, pixel + length) of every
// channel line of scan lines [line, line + lines) read dark.
struct NoiseDropout {
    std::uint32_t line = 0;
    std::uint32_t pixel = 0;
    std::uint32_t length = 64;
    std::uint32_t lines = 1;
    int count = 1;
};

// The stream delivers at most this many bytes per second of the installed
// clock.
struct RateLimit {
    std::uint64_t bytesPerSecond = 0;
};

using Fault = std::variant<NotReady, AccessDenied, Unplug, Replug, ZeroStatus, WrongLength,
                           SlowReply, CorruptReply, BulkTooLarge, BulkError, BulkStall,
                           EarlyCompletion, ShortDocument, AlignerGlitch, NoiseDropout, RateLimit>;

// What one document's stream is to suffer, taken from the plan at GO.
struct DocumentFaults {
    std::optional<std::uint32_t> shortLines;
    std::vector<AlignerGlitch> glitches;
    std::vector<NoiseDropout> dropouts;
};

// "not_ready 10", "access_denied 1 open", "unplug call 3",
// "unplug call 1 cmd 0xD0 0x23", "unplug byte 4096",
// "unplug open 1", "replug 0", "zero_status 11", "wrong_length 1 -2",
// "slow_reply 50", "slow_reply 50 3", "corrupt_reply 1 7 0x01",
// "bulk_limit 65536", "bulk_error 21 [count] [at <byte>]", "bulk_stall <byte>",
// "early_completion [count]", "short_document <lines> [count]",
// "aligner_glitch <line> <+1|-1> [channel]", "noise_dropout <line> <pixel>
// <length> [lines]", "rate_limit <bytes per second>"; refusals, wrong lengths, slow and corrupt
// replies may end with "cmd 0xD0 0x03" (or "cmd 0xD0") to hit one command only. Nothing, with
// *error set, when the text is not a fault.
std::optional<Fault> ParseFault(std::string_view text, std::string* error);

// What the armed faults do to one control transfer.
struct ControlFaults {
    bool unplug = false;                  // the device goes away now
    int error = platform::kErrorSuccess;  // refuse with this Windows error
    unsigned delayMs = 0;                 // the reply takes this long
    bool zeroStatus = false;
    int lengthDelta = 0;
    std::optional<std::size_t> corruptOffset;
    std::uint8_t corruptMask = 0;
};

class FaultPlan {
  public:
    void Arm(const Fault& fault);
    void Clear();
    bool Empty() const { return faults_.empty(); }
    std::size_t Size() const { return faults_.size(); }

    // cls/sub are empty when the request could not be decoded.
    ControlFaults OnControl(std::optional<std::uint8_t> cls, std::optional<std::uint8_t> sub,
                            bool isStatusRead, bool isRead);
    // 0 or the error an open fails with; *unplug when the device goes away
    // instead.
    int OnOpen(bool* unplug);
    // True when the device goes away while these bytes pass.
    bool OnBulkBytes(std::uint64_t bytes);
    // 0 or 1450.
    int OnBulkSubmit(std::size_t length) const;
    // An operation found the device missing; true when it is back now.
    bool OnMissing();

    // ---- The bulk-in stream ----
    // Bytes the stream may still pass before an unplug, a stall or a read
    // error (whichever comes first); nothing when none is armed.
    std::optional<std::uint64_t> StreamBytesBeforeEvent() const;
    // The stream passed these bytes (moves every byte position on); true
    // when the device goes away on the way.
    bool OnStreamBytes(std::uint64_t bytes);
    // The read error due now (0: none), consumed.
    int TakeBulkError();
    // True when the stream is stalled now.
    bool Stalled() const;
    // A read queued before GO completes at once (consumed).
    bool TakeEarlyCompletion();
    // The faults of the next document (consumed).
    DocumentFaults TakeDocumentFaults();
    // Bytes per second the stream may pass; 0: no limit.
    std::uint64_t RateLimitBytesPerSecond() const;

  private:
    std::vector<Fault> faults_;
    void DropSpent();
};

}  // namespace kovran::sim
