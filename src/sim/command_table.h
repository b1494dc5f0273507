// The control commands a simulated scanner understands, and how they travel
// in a setup packet. Firmware from 0x1006 on carries a command as a register
// number (class 0xD0: the sub-code; 0xD1: low byte + 10; 0xD2: low byte +
// 50); older firmware puts the class in bRequest and the sub-code's low byte
// in wValue. Which commands exist, their direction and their reply length
// depend on the firmware family, and the table is laid out so that no two
// commands of one family share a register.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/usb_backend.h"

namespace kovran::sim {

inline constexpr std::uint8_t kClassD0 = 0xD0;
inline constexpr std::uint8_t kClassD1 = 0xD1;
inline constexpr std::uint8_t kClassD2 = 0xD2;

// The largest data stage of a vendor command.
inline constexpr std::uint16_t kMaxCommandBytes = 64;

// Firmware from this version on uses register numbers.
inline constexpr std::uint16_t kRegisterFormFirmware = 0x1006;

// The version without the flag in bit 15.
inline constexpr std::uint16_t FirmwareVersion(std::uint16_t raw) {
    return raw & 0x7FFF;
}

enum class DataKind : std::uint8_t {
    None,  // no data stage (sent as a read of 0 or 1 bytes, or a write of 0)
    In,    // the device answers with data
    Out,   // the host sends exactly `length` bytes
};

// Who decides the length of a reply.
enum class ReplyLength : std::uint8_t {
    Fixed,   // the command's own length
    Caller,  // as long as the read asks (up to kMaxCommandBytes)
};

class ScannerModel;
struct DecodedRequest;

// One command as the device carries it out: the request, the bytes the
// host wrote (null for reads and for the old request form, whose data never
// reaches the device) and the reply a read fills.
struct CommandCall {
    const DecodedRequest& request;
    const std::uint8_t* data;
    std::vector<std::uint8_t>* reply;
};

// What the device does for a command: acts on the concern that owns it
// and, for a read, fills the reply (the model trims it to the command's
// length afterwards).
using CommandHandler = void (*)(ScannerModel& model, const CommandCall& call);

struct CommandSpec {
    std::uint8_t cls = 0;
    std::uint8_t sub = 0;
    DataKind kind = DataKind::None;
    // In: the length of the device's reply (a read asking more gets a short
    // reply); Out: the exact data length. Unused for None.
    std::uint16_t length = 0;
    ReplyLength replyLength = ReplyLength::Fixed;
    const char* name = "";
    // Null: the device accepts the command and does nothing with it.
    CommandHandler handler = nullptr;
};

// Device features that decide whether optional commands exist.
struct CommandFeatures {
    bool fw3000Version = false;  // 0xD0 0x3C answers
    bool pageCounter = true;     // 0xD0 0x2A / 0x2B answer (firmware above 0x3100)
    bool inkjetCounter = true;   // 0xD0 0x2D / 0x2E answer (firmware above 0x3100)
    bool inkjet1Config = false;  // 0xD0 0x51 answers
    bool inkjet2Config = false;  // 0xD0 0x55 answers
    // A register-form device that still answers the firmware version read
    // in the old request form (older register-form firmware kept it for
    // the hosts that guess the oldest protocol first); others stall it.
    bool oldFormVersion = false;
    bool stripeReader = true;  // class 0xD2 answers
};

// The command, or nothing when the firmware does not know it. `firmware`
// is the raw version (bit 15 is ignored).
std::optional<CommandSpec> FindCommand(std::uint16_t firmware, const CommandFeatures& features,
                                       std::uint8_t cls, std::uint8_t sub);

// Every command of the firmware family (for tests and for decoding).
std::vector<CommandSpec> CommandsOf(std::uint16_t firmware, const CommandFeatures& features);

// The register number of a command in the register form.
std::uint16_t RegisterOf(std::uint8_t cls, std::uint8_t sub);

// A command as it arrives: the class and sub-code recovered from the setup
// packet, the direction of the data stage and its length.
struct DecodedRequest {
    std::uint8_t cls = 0;
    std::uint8_t sub = 0;
    bool in = true;
    std::uint16_t length = 0;
};

// The setup packet the transport sends for a command on this firmware.
platform::UsbSetup EncodeCommand(std::uint16_t firmware, std::uint8_t cls, std::uint8_t sub,
                                 platform::Direction direction, std::uint16_t length);

// Recovers the command of a vendor setup packet on this firmware: the form
// (register or request code), the bRequest length rule and wIndex 0 must
// hold, and the register must name a command of the family. `extraD1`
// lists D1 sub-codes accepted beyond the table (the parameters that follow
// the acquisition mode command of older firmware). Nothing when the device
// would stall the request.
std::optional<DecodedRequest> DecodeVendorRequest(std::uint16_t firmware,
                                                  const CommandFeatures& features,
                                                  const platform::UsbSetup& setup,
                                                  bool acceptAnyD1 = false);

// "0xD1/0x36" for messages.
std::string CommandName(std::uint8_t cls, std::uint8_t sub);

}  // namespace kovran::sim
