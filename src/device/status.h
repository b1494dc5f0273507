// The device's status word: its assembly from the 8-byte status block, the
// remapping of the raw bits into the meanings the library and the host
// use, and the retries of an invalid (all-zero) word. Also the feed start
// and stop and the external power check, which live on the status.
#pragma once

#include <array>
#include <cstdint>

#include "device/device_record.h"

namespace kovran::device {

// Status bits with a meaning of their own.
inline constexpr std::uint32_t kStatusEnabled = 0x2;
inline constexpr std::uint32_t kStatusDocumentAtInput = 0x4;
inline constexpr std::uint32_t kStatusBusy = 0x8;
inline constexpr std::uint32_t kStatusExternalPower = 0x10000;
inline constexpr std::uint32_t kStatusPhotocell = 0x20000;

// Bits 0 to 7 byte 1, bits 8 to 15 byte 2, bits 16 to 31 the flag value:
// byte 4 × 256 + byte 3 above FW 0x30FF, byte 3 alone otherwise.
std::uint32_t AssembleStatus(const std::array<std::uint8_t, 8>& block, std::uint16_t firmware);

// The raw word as the library and the host read it: the double-sheet
// sensors moved down one bit, the bits the device does not report cleared,
// power and document presence completed.
std::uint32_t RemapStatus(std::uint32_t raw, const DeviceIdentity& device);

// The remapped status word; 0 when the device cannot be read (the last
// result says why) or kept answering an invalid word.
std::uint32_t ReadStatus();

enum class Feed : bool { Stop, Start };
// Starts or stops the document feed. Starting fails on a busy device
// ("Device is busy", last result -2); otherwise the command's own result
// does not matter.
bool SetFeed(Feed feed);
// A feed started and not stopped since.
bool FeedRunning();

// True on devices without power sensing; otherwise the status's power bit.
bool HasExternalPower();

}  // namespace kovran::device
