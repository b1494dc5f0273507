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
