// What the simulated scanner's firmware does with an acquisition mode: the
// modes each firmware family accepts and the lines it then streams. Written
// from the device's side, apart from the library's mode set-up, so that a
// test comparing the two finds a disagreement instead of sharing it.
#pragma once

#include <cstdint>
#include <optional>

namespace kovran::sim {

// The device and the acquisition asked of it.
struct DeviceModeRequest {
    std::uint16_t firmware = 0x5012;
    std::uint16_t pid = 3;
    std::int32_t serialLow = 1;
    bool highSpeed = true;
    bool bit22 = false;  // configuration word bit 22
    bool colour = false;
    bool infrared = false;
    bool ultraviolet = false;
    bool frontOn = true;
    bool rearOn = true;
    bool backlight = false;
    bool strip = false;  // magnetic head samples with the lines
    int mode = 0;
};

// The stream the device sends for an accepted mode.
struct DeviceStream {
    std::uint16_t resolutionCode = 0;
    std::uint16_t lineCode = 0;
    std::uint16_t frontDpiH = 0;
    std::uint16_t rearDpiH = 0;
    std::uint16_t frontDpiV = 0;
    std::uint16_t rearDpiV = 0;
    std::uint16_t frontPixels = 0;  // sensor pixels of a channel line
    std::uint16_t rearPixels = 0;
    std::uint32_t lineBytes = 0;  // bytes of one scan line of a stream
    bool twoStreams = false;      // front and rear in streams of their own
};

// Nothing when the firmware refuses the mode.
std::optional<DeviceStream> DeviceModeStream(const DeviceModeRequest& request);

}  // namespace kovran::sim
