// The vendors whose scanners the library looks for: its own (main) vendor,
// whose devices the transport serves, and the other vendors whose devices
// the enumeration recognises and routes to their own back-ends.
#pragma once

#include <array>
#include <cstdint>

namespace kovran::platform {

inline constexpr std::uint16_t kMainVendor = 0x7E51;

// The other vendors, in the order the enumeration tries them.
inline constexpr std::array<std::uint16_t, 3> kOtherVendors = {0x0638, 0x04C5, 0x055F};

// The other vendor's feeder scanner: its handle counts it as PID 5 and it
// reports a document in bit 0 of its status.
inline constexpr std::uint16_t kFeederScannerVendor = 0x0638;
inline constexpr std::uint16_t kFeederScannerPid = 0x1A2A;

inline constexpr bool IsFeederScanner(std::uint16_t vid, std::uint16_t pid) {
    return vid == kFeederScannerVendor && pid == kFeederScannerPid;
}

inline constexpr bool IsOtherVendor(std::uint16_t vid) {
    for (std::uint16_t v : kOtherVendors)
        if (v == vid) return true;
    return false;
}

// Every vendor the USB layer lists.
inline constexpr bool IsListedVendor(std::uint16_t vid) {
    return vid == kMainVendor || IsOtherVendor(vid);
}

}  // namespace kovran::platform
