// The rules that turn what the scanner answers at open into capabilities:
// the firmware version digits, the configuration block of each firmware
// family, the bits of the configuration word and the firmware versions
// from which each one means something, the MICR head block, the sensor
// option byte and the feature flags that the firmware version alone
// decides. Pure functions (apart from their log lines), so each rule can be
// checked against its table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "device/capabilities.h"

namespace kovran::device {

// The version of a firmware reply: bytes 1 to 4 hold one hex digit each,
// most significant first. Bit 15 is a flag, not part of the version.
struct FirmwareReply {
    std::uint16_t version = 0;
    bool flag15 = false;
};
std::optional<FirmwareReply> FirmwareFromDigits(const std::uint8_t* reply, std::size_t length);

// The 0x3000 family: firmware above 0x2FFF.
inline constexpr bool Family3000(std::uint16_t fw) {
    return fw > 0x2FFF;
}
// The firmware range 0x2021 to 0x20FF behaves as one family.
inline constexpr bool InRange2021(std::uint16_t fw) {
    return fw >= 0x2021 && fw <= 0x20FF;
}

// Bytes of the configuration block (command 0xD0, 1) on this firmware.
unsigned ConfigurationBlockLength(std::uint16_t fw);
// Firmware that wants the device configuration (0xD0, 0x0C) read first.
inline constexpr bool ReadsDeviceConfigFirst(std::uint16_t fw) {
    return fw >= 0x4001 && fw <= 0x4008;
}

// The words of a configuration block in the firmware family's layout.
struct ConfigurationWords {
    std::uint32_t word = 0;
    std::uint16_t word2 = 0;
    std::uint8_t cisVoltage = 0;
};
ConfigurationWords DecodeConfigurationBlock(std::uint16_t fw, const std::uint8_t* block,
                                            std::size_t length);

// Who the device is, as far as the rules care.
struct DeviceFacts {
    std::uint16_t pid = 0;
    std::uint16_t firmware = 0;
    std::int32_t serialHigh = 0;
    std::int32_t serialLow = 0;
    bool highSpeed = true;
};

// Whether configuration bit `bit` means anything on this device (each bit
// has a first firmware, some a last one or a product condition).
bool ConfigurationBitApplies(int bit, const DeviceFacts& device);
// The same for the second configuration word.
bool Configuration2BitApplies(int bit, const DeviceFacts& device);

// Whether the ini switched the feeder off ("ADF"/"disable").
enum class AdfIni : bool { Enabled, Disabled };

// Sets the configuration words and every capability they decide, with the
// model and serial exceptions ("ADF diasbled by ini" and "EEPROM alligner
// fix" are logged here). The inkjets are only marked present: usable needs
// their configuration blocks (MarkInkjetsUsable).
void ApplyConfiguration(const DeviceFacts& device, const ConfigurationWords& words, AdfIni adf,
                        DeviceCapabilities* caps);

// An inkjet is usable when its configuration block can be read; logs the
// warning of each unusable one.
void MarkInkjetsUsable(bool type1BlockRead, bool type2BlockRead, DeviceCapabilities* caps);

// Whether the MICR head block is read at all.
inline constexpr bool ReadsMicrBlock(const DeviceCapabilities& caps, std::uint16_t fw) {
    return caps.micrHeadPresent && fw > 0x3006;
}
// The MICR head values of a block of `length` bytes (the warning and error
// lines of an unusable head are logged here).
MicrHead DecodeMicrHead(const DeviceFacts& device, const std::uint8_t* block, std::size_t length);

// Whether the sensor option byte (0xD1, 0x14) is read.
inline constexpr bool ReadsSensorOptions(std::uint16_t fw) {
    return fw > 0x3103;
}
// The five sensor option flags (index 1 to 5) and the sensor type code,
// from byte 1 of the sensor configuration; without a byte, all flags on.
struct SensorOptions {
    std::array<bool, 6> flag{false, true, true, true, true, true};
    std::uint16_t sensorType = 0;
};
SensorOptions DecodeSensorOptions(const DeviceFacts& device, std::optional<std::uint8_t> byte);

// The feature flags (index 1 to 11) of the main vendor's devices.
std::array<bool, 12> FeatureFlags(const DeviceFacts& device, const DeviceCapabilities& caps);

// The PID that the handle carries: vendor 0x0638's PID 0x1A2A counts as 5.
std::uint16_t HandlePid(std::uint16_t vid, std::uint16_t pid);
// The handle given to the host: serial low mod 1000000 + PID × 1000000;
// `random` replaces a 0 (and the PID a random 0); -1 becomes 1.
std::int32_t HandleFor(std::uint16_t handlePid, std::int32_t serialLow, int random);

}  // namespace kovran::device
