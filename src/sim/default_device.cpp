// The built-in default device, kept as profile text so that it goes through
// the same parser as every profile file.
#include <string>

#include "sim/profile_parser.h"
#include "sim/sim_backend.h"

namespace kovran::sim {

namespace {

// Configuration word 0x0A057982: rear camera (bit 1), status bit 0x40000
// (7), feeder (8), double-sheet status bits (11, 13), MICR head (12),
// external power sensing (14), double feed sensor (16), status bit 0x200000
// (18), status bit 0x400000 (25), photo tuning (27). Second word 0x0030:
// status bit 0x4000000 (4) and buzzer (5). Colour is what the sensors of
// this model acquire; no configuration bit tells it.
//
// MICR head block: byte 1 0x43 = usable (bit 0), on the front (bit 1),
// rotation 256 (bit 6); offset 400 / 2 = 200; grey line-rate limit 60 × 10 =
// 600; magnetic ratios 10 (one side) and 5 (both); colour limit 30 × 10 =
// 300; head image width 0x0510 = 1296 pixels.
constexpr const char* kDefaultProfile = R"(
[device]
name = default
vid = 0x7E51
pid = 3
serial = 123456
firmware = 0x5012
speed = high
location = 1-1
config_word = 0x0A057982
config_word2 = 0x0030
cis_voltage = 12
device_config = 0C 00 00 00 00 00 00 00
micr_block = 28 43 90 01 3C 0A 05 00 00 00 1E 00 00 10 05 00
sensor_options = 0x00
hardware_key = 4B 56 58 2D 53 49 4D 00
photo_tuning = 80 80 80 80 40 40 40 40
page_counter = 0
inkjet_counter = 0
external_power = yes
documents = 5
bulk_limit = 16777216
)";

}  // namespace

DeviceProfile DefaultDeviceProfile() {
    std::vector<DeviceProfile> devices;
    std::string error;
    // The text above is part of the program; a parse failure is a bug that
    // the tests catch.
    if (!ParseProfiles(kDefaultProfile, &devices, &error) || devices.size() != 1) {
        return DeviceProfile{};
    }
    return devices.front();
}

}  // namespace kovran::sim
