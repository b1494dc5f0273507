// How a control command of the scanner becomes a USB setup packet. The
// firmware changed protocol at 0x1006: older devices take the command class
// as the request code and the sub-code as its value; newer ones expose the
// commands as numbered registers read and written with one vendor request.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/usb_backend.h"

namespace kovran::device {

// Command classes.
inline constexpr std::uint8_t kClassConfig = 0xD0;
inline constexpr std::uint8_t kClassAcquisition = 0xD1;
inline constexpr std::uint8_t kClassStripe = 0xD2;

// Most data one control command carries.
inline constexpr unsigned kMaxControlData = 64;

// First firmware that takes register requests.
inline constexpr std::uint16_t kRegisterProtocolFirmware = 0x1006;

// The register number of a command on firmware 0x1006 and later: the
// sub-code for class 0xD0, its low byte + 10 for 0xD1, + 50 for 0xD2 (other
// classes: the sub-code). Nothing when it does not fit the 16-bit wValue.
std::optional<std::uint16_t> RegisterNumber(std::uint8_t cls, std::uint32_t subCode);

// Register read (0xC0) or write (0x40): bRequest 0x04 for more than one
// byte, else 0x0C; wValue the register, wIndex 0.
platform::UsbSetup RegisterSetup(platform::Direction direction, std::uint16_t reg,
                                 std::uint16_t length);

// The command request of firmware before 0x1006: always device-to-host,
// for writes too; bRequest the class, wValue the sub-code's low byte.
platform::UsbSetup CommandRequestSetup(std::uint8_t cls, std::uint32_t subCode,
                                       std::uint16_t length);

}  // namespace kovran::device
