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

using Fault = std::variant<NotReady, AccessDenied, Unplug, Replug, ZeroStatus, WrongLength,
                           SlowReply, CorruptReply, BulkTooLarge>;

// "not_ready 10", "access_denied 1 open", "unplug call 3",
// "unplug call 1 cmd 0xD0 0x23", "unplug byte 4096",
// "unplug open 1", "replug 0", "zero_status 11", "wrong_length 1 -2",
// "slow_reply 50", "slow_reply 50 3", "corrupt_reply 1 7 0x01",
// "bulk_limit 65536"; refusals, wrong lengths, slow and corrupt replies may
// end with "cmd 0xD0 0x03" (or "cmd 0xD0") to hit one command only. Nothing, with
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

  private:
    std::vector<Fault> faults_;
    void DropSpent();
};

}  // namespace kovran::sim
