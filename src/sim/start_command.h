// The 33-byte start command (0xD1/0x33) as the device reads it, and the
// stream it then sends, planned with the device's own mode table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/device_profile.h"

namespace kovran::sim {

inline constexpr std::size_t kStartCommandBytes = 33;

struct StartCommand {
    int mode = 0;              // byte 0, low 3 bits
    bool slow = false;         // byte 0 bit 6
    bool colour = false;       // byte 1 bit 0
    bool front = false;        // bit 1
    bool rear = false;         // bit 2
    bool singleLamp = false;   // bit 3
    bool ultraviolet = false;  // bit 4
    bool infrared = false;     // bit 5
    bool forward = false;      // byte 2 bit 0
    bool strip = false;        // byte 2 bit 5
    bool noWait = false;       // byte 3 bits 0 and 1
    bool timedMove = false;    // byte 3 bit 3
    bool backlight = false;    // byte 3 bit 6
    std::uint8_t frontLamp[3] = {};
    std::uint8_t rearLamp[3] = {};
    std::uint16_t channelLines = 0;   // bytes 10..11
    std::uint16_t trailingLines = 0;  // bytes 12..13, channel lines
    std::uint8_t backlightLevel = 0;  // byte 18
};

// False with *why when the bytes are not a start command the device takes
// (length, reserved bytes 19..32 not zero, a lamp level of 255, byte 3
// bit 2 clear on an ordinary acquisition is allowed).
bool DecodeStartCommand(const std::vector<std::uint8_t>& bytes, StartCommand* out,
                        std::string* why);

// The layout of the stream for one acquisition.
struct StreamPlan {
    StartCommand start;
    int colourChannels = 1;
    int channelLines = 1;  // colour channels + infrared + ultraviolet
    int frontPixels = 0;   // sensor pixels of a channel line (0: side off)
    int rearPixels = 0;
    int backlightPixels = 0;
    int dpiH = 300;  // front
    int rearDpiH = 300;
    int dpiV = 300;               // scan lines per inch of paper
    int lineRate = 300;           // channel lines per inch of paper
    int stripPerChannelLine = 0;  // magnetic samples after each channel line
    int headOffset300 = 0;        // head to sensor, 1/300 inch
    bool aligner = false;         // a leading 0 byte on every channel line
    // The front sensor reads its line from the same edge of the paper as
    // the rear one (model 11): the front arrives mirrored and the library
    // reverses its lines.
    bool frontMirrored = false;
    // Each sensor downstream of the first one the paper reaches (1/300
    // inch).
    int frontDelay300 = 0;
    int rearDelay300 = 0;

    int ChannelPitch() const { return frontPixels + rearPixels; }
    // Bytes of one scan line of the stream.
    std::size_t LineBytes() const {
        return static_cast<std::size_t>(channelLines) * (ChannelPitch() + stripPerChannelLine) +
               static_cast<std::size_t>(backlightPixels);
    }
    // Scan lines the host asked for (bytes 10..11 count channel lines, the
    // backlight's included).
    std::uint32_t RequestedScanLines() const;
    // The trailing length (bytes 12..13) in scan lines.
    std::uint32_t TrailingScanLines() const;
};

// The plan for a start command on this device; false with *why when the
// firmware refuses it (a mode the table refuses, a strip without a usable
// magnetic head, no line count).
bool PlanStream(const DeviceProfile& profile, const StartCommand& start, StreamPlan* out,
                std::string* why);

}  // namespace kovran::sim
