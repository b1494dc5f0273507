// What one simulated scanner is: identity, firmware, the blocks it hands out
// at open, its counters and its standing faults. Profiles come from a text
// file (profile_parser.h) or are built in code by tests.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/usb_vendors.h"
#include "sim/card_swipe.h"
#include "sim/command_table.h"
#include "sim/fault_plan.h"
#include "sim/feeder.h"
#include "sim/sensor_model.h"

namespace kovran::sim {

enum class CartridgeState : std::uint8_t { Ok, Absent, Empty, WrongType, InvalidId };

struct PrinterSettings {
    std::string outputDir;
    CartridgeState cartridge = CartridgeState::Ok;
    std::uint32_t cartridgeId = 0x0A5A5A;  // 21 bits
    int tsr = 200;                         // a cold cartridge: a little warming due
    int tsrPerPulse = 4;                   // the thermistor rises with each warm pulse
    int ambient = 130;
    // The printer takes no more data of a document after this many bytes
    // (0: no stall).
    std::uint64_t stallAfterBytes = 0;
    // Each block of type 2 data is taken this long after it was sent.
    unsigned slowMs = 0;
    // The cartridge is pulled out after this many printed documents (0: never).
    unsigned removedAfter = 0;
};

// Longest text accepted for the serial number (the descriptor then holds
// 2 + 2 × 126 = 254 bytes).
inline constexpr std::size_t kMaxSerialChars = 126;
inline constexpr std::size_t kMaxDescriptorBytes = 255;
inline constexpr std::size_t kMaxPlaceholderDocuments = 1000;

// Configuration word bits the simulator itself looks at.
inline constexpr std::uint32_t kConfigRear = 1u << 1;
inline constexpr std::uint32_t kConfigFeeder = 1u << 8;
inline constexpr std::uint32_t kConfigMicr = 1u << 12;
inline constexpr std::uint32_t kConfigPowerSensing = 1u << 14;

// How the device streams its lines.
struct StreamSettings {
    // Marks every channel line with a leading 0 byte (a hardware aligner).
    bool aligner = false;
    // Paced: lines come at the mode's line rate as the installed clock
    // passes; free-running: as fast as the host reads.
    enum class Pace : std::uint8_t { FreeRunning, Paced };
    Pace pace = Pace::FreeRunning;
    double paperInchesPerSecond = 20.0;
    SensorSettings sensor;
    // Where the paper lies: its edge this far from the sensors' pixel 0
    // (1/300 inch).
    int documentOffset300 = 60;
    // How far each sensor lies downstream of the one the paper reaches
    // first (1/300 inch). Unset, the model's own: the rear 270 behind the
    // front; on model 11, whose front sensor faces the other way, the front
    // 100 behind the rear, so that its front image starts that much later.
    std::optional<int> frontDelay300;
    std::optional<int> rearDelay300;
    // Background before the document's leading edge reaches the front
    // sensor (1/300 inch).
    int leadGap300 = 30;
    // What the sensors see where there is no paper.
    std::uint8_t background = 20;
};

// Linux's default usbfs limit on one bulk transfer.
inline constexpr std::size_t kUsbfsDefaultLimit = 16u << 20;

struct DeviceProfile {
    std::string name;  // for messages only
    std::uint16_t vid = platform::kMainVendor;
    std::uint16_t pid = 3;
    std::string serial = "000001";  // UTF-8; sent as UTF-16LE
    // The raw descriptor bytes, when a test wants a malformed one; replaces
    // the one built from `serial`.
    std::optional<std::vector<std::uint8_t>> serialDescriptor;
    std::uint16_t firmware = 0x5012;  // raw register value, bit 15 included
    bool highSpeed = true;
    // Register-form firmware that also answers the old-form version read.
    bool answersOldForm = false;
    // "<bus>-<ports>" in the device path; empty: "1-<position + 1>".
    std::string location;

    // Configuration block 0xD0/1: built from the words below in the layout
    // of the firmware family, unless given raw.
    std::uint32_t configWord = 0;
    std::uint16_t configWord2 = 0;
    std::uint8_t cisVoltage = 12;
    std::optional<std::vector<std::uint8_t>> configBlock;  // up to 8 bytes

    std::array<std::uint8_t, 8> deviceConfig{};              // 0xD0/0x0C
    std::array<std::uint8_t, 16> micrBlock{};                // 0xD0/0x28
    std::uint8_t sensorOptions = 0;                          // byte 1 of 0xD1/0x14
    std::optional<std::uint16_t> fw3000Version;              // 0xD0/0x3C, four digits
    std::vector<std::uint8_t> hardwareKey;                   // 0xD0/8, up to 64 bytes
    std::array<std::uint8_t, 8> photoTuning{};               // 0xD0/0x15
    std::optional<std::vector<std::uint8_t>> inkjet1Config;  // 0xD0/0x51, 64 bytes
    std::optional<std::vector<std::uint8_t>> inkjet2Config;  // 0xD0/0x55, 64 bytes

    // The endorsement printer (printer_model.h): where each document's
    // print is written ("printer_output", a folder; empty: nowhere), the
    // cartridge's state and identity, its thermistor and ambient readings,
    // and its faults.
    PrinterSettings printer;

    // The calibration kept in the EEPROM (eeprom_calibration.h), made from
    // the sensor model; without it the blocks read blank. The faults: a
    // stored data size other than the true one, and the data block (1: the
    // first after the information block) that answers nothing.
    bool eepromCalibration = false;
    std::optional<std::uint32_t> eepromCalibrationSize;
    std::uint32_t eepromCalibrationFailBlock = 0;

    bool pageCounterRegister = true;    // 0xD0/0x2A answers (firmware above 0x3100)
    bool inkjetCounterRegister = true;  // 0xD0/0x2D answers (firmware above 0x3100)
    std::uint32_t pageCounter = 0;
    std::uint32_t inkjetCounter = 0;

    bool externalPower = true;  // status flag bit 0
    bool plugged = true;        // present at start
    unsigned documents = 0;     // generated cheques in the feeder at start
    bool documentsColour = false;
    std::uint32_t documentsSeed = 1;
    // Documents from files or a corpus, after the generated ones.
    std::vector<SimDocument> feeder;
    // Feeder events: the documents (numbered from 1 in the feeder's order,
    // generated ones first) that go in as two sheets stuck together, and
    // the sensors each covers.
    struct DoubleFeed {
        unsigned document = 0;
        std::uint8_t sensors = 0x7;
    };
    std::vector<DoubleFeed> doubleFeeds;
    // Every buzzer command appends "tone <n>" or "off" to this file, which
    // another process (a host's test) can read.
    std::string buzzerLog;
    StreamSettings stream;
    // Bulk transfers above this many bytes are refused with 1450 (0: none).
    std::size_t bulkLimit = kUsbfsDefaultLimit;
    // A swipe reader (commands of class 0xD2), and the cards waiting for it.
    bool stripeReader = true;
    std::vector<CardSwipe> swipes;

    // Cross-process tracing of control transfers (transfer_log.h): every
    // transfer appends a begin and an end line to this file.
    std::string transferLog;

    // Faults armed when the device is created.
    std::vector<Fault> faults;

    CommandFeatures Features() const;
    // The firmware whose commands the device speaks: a FW 0x2207 unit that
    // carries a newer version block runs that version (the version read
    // still answers `firmware`).
    std::uint16_t ProtocolFirmware() const {
        return fw3000Version && FirmwareVersion(*fw3000Version) > FirmwareVersion(firmware)
                   ? *fw3000Version
                   : firmware;
    }
};

// The configuration block as the firmware family lays it out (8 bytes; the
// firmware hands out the first 2, 3, 4 or 8).
std::array<std::uint8_t, 8> EncodeConfigBlock(const DeviceProfile& profile);

// The serial number string descriptor: length byte, type 3, UTF-16LE text.
std::vector<std::uint8_t> SerialDescriptor(const DeviceProfile& profile);

// Checks the values that the parser cannot check one key at a time. Empty
// when the profile is usable, else the reason.
std::string ValidateProfile(const DeviceProfile& profile);

}  // namespace kovran::sim
