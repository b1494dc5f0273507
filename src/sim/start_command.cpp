#include "sim/start_command.h"

#include <algorithm>

#include "platform/usb_vendors.h"
#include "sim/mode_table_device.h"

namespace kovran::sim {

namespace {

// Where the sensors lie along the paper path (1/300 inch): on most models
// the rear sensor behind the front one; on model 11 the front behind the
// rear.
constexpr int kRearDelay300 = 270;
constexpr int kModel11FrontDelay300 = 100;

}  // namespace

bool DecodeStartCommand(const std::vector<std::uint8_t>& b, StartCommand* out, std::string* why) {
    if (b.size() != kStartCommandBytes) {
        *why = "start command of " + std::to_string(b.size()) + " bytes";
        return false;
    }
    for (std::size_t i = 19; i < kStartCommandBytes; ++i) {
        if (b[i] != 0) {
            *why = "start command byte " + std::to_string(i) + " is not 0";
            return false;
        }
    }
    for (std::size_t i = 4; i <= 9; ++i) {
        // The host sends a full level as 254.
        if (b[i] == 255) {
            *why = "lamp level 255 in byte " + std::to_string(i);
            return false;
        }
    }
    StartCommand s;
    s.mode = b[0] & 0x7;
    s.slow = (b[0] & 0x40) != 0;
    s.colour = (b[1] & 0x01) != 0;
    s.front = (b[1] & 0x02) != 0;
    s.rear = (b[1] & 0x04) != 0;
    s.singleLamp = (b[1] & 0x08) != 0;
    s.ultraviolet = (b[1] & 0x10) != 0;
    s.infrared = (b[1] & 0x20) != 0;
    s.forward = (b[2] & 0x01) != 0;
    s.strip = (b[2] & 0x20) != 0;
    s.noWait = (b[3] & 0x03) == 0x03;
    s.timedMove = (b[3] & 0x08) != 0;
    s.backlight = (b[3] & 0x40) != 0;
    for (int i = 0; i < 3; ++i) {
        s.frontLamp[i] = b[4 + i];
        s.rearLamp[i] = b[7 + i];
    }
    s.channelLines = static_cast<std::uint16_t>(b[10] | (b[11] << 8));
    s.trailingLines = static_cast<std::uint16_t>(b[12] | (b[13] << 8));
    s.backlightLevel = b[18];
    *out = s;
    return true;
}

std::uint32_t StreamPlan::RequestedScanLines() const {
    const int perLine = channelLines + (backlightPixels > 0 ? 1 : 0);
    return perLine > 0 ? start.channelLines / static_cast<std::uint32_t>(perLine) : 0;
}

std::uint32_t StreamPlan::TrailingScanLines() const {
    const int perLine = channelLines + (backlightPixels > 0 ? 1 : 0);
    return perLine > 0 ? start.trailingLines / static_cast<std::uint32_t>(perLine) : 0;
}

bool PlanStream(const DeviceProfile& profile, const StartCommand& start, StreamPlan* out,
                std::string* why) {
    StreamPlan p;
    p.start = start;
    p.aligner = profile.stream.aligner;
    if (!start.front && !start.rear) {
        // A paper movement: the document moves, no lines come.
        p.frontPixels = p.rearPixels = 0;
        p.channelLines = 0;
        *out = p;
        return true;
    }
    DeviceModeRequest r;
    r.firmware = FirmwareVersion(profile.ProtocolFirmware());
    r.pid = profile.pid;
    r.highSpeed = profile.highSpeed;
    r.bit22 = (profile.configWord & (1u << 22)) != 0;
    r.colour = start.colour;
    r.infrared = start.infrared;
    r.ultraviolet = start.ultraviolet;
    r.frontOn = start.front;
    r.rearOn = start.rear;
    r.backlight = start.backlight;
    r.strip = start.strip;
    r.mode = start.mode;
    const std::optional<DeviceStream> s = DeviceModeStream(r);
    if (!s) {
        *why = "mode " + std::to_string(start.mode) + " refused for this acquisition";
        return false;
    }
    if (start.channelLines == 0) {
        *why = "no channel lines asked";
        return false;
    }
    p.colourChannels = start.colour ? 3 : 1;
    p.channelLines = p.colourChannels + (start.infrared ? 1 : 0) + (start.ultraviolet ? 1 : 0);
    p.dpiH = s->frontDpiH;
    p.rearDpiH = s->rearDpiH;
    p.dpiV = s->frontDpiV;
    const bool model11 = profile.vid == platform::kMainVendor && profile.pid == 11;
    p.lineRate = p.dpiV * (model11 ? p.channelLines : p.colourChannels);
    p.frontMirrored = model11;
    p.frontDelay300 = profile.stream.frontDelay300.value_or(model11 ? kModel11FrontDelay300 : 0);
    p.rearDelay300 = profile.stream.rearDelay300.value_or(model11 ? 0 : kRearDelay300);
    int frontPixels = s->frontPixels;
    int rearPixels = s->rearPixels;
    if (start.strip) {
        const auto& m = profile.micrBlock;
        if ((m[1] & 0x01) == 0 || !profile.highSpeed) {
            *why = "CMC7 strip without a usable magnetic head";
            return false;
        }
        p.stripPerChannelLine = (start.front && start.rear) ? m[6] : m[5];
        if (p.stripPerChannelLine == 0) {
            *why = "CMC7 strip with a magnetic ratio of 0";
            return false;
        }
        p.headOffset300 = static_cast<std::int16_t>(m[2] | (m[3] << 8)) / 2;
        // Head flag 1: the sensors deliver only the head's image width.
        if ((m[1] & 0x08) != 0 && FirmwareVersion(profile.ProtocolFirmware()) > 0x3104) {
            const int headWidth = m[13] | (m[14] << 8);
            // A width beyond the sensor is not one the sensor can deliver;
            // the host's line length stops at the sensor too.
            if (headWidth > 0) {
                frontPixels = std::min(frontPixels, headWidth * p.dpiH / 300);
                rearPixels = std::min(rearPixels, headWidth * p.rearDpiH / 300);
            }
        }
    }
    p.frontPixels = start.front ? frontPixels : 0;
    p.rearPixels = start.rear ? rearPixels : 0;
    p.backlightPixels = start.backlight ? frontPixels : 0;
    *out = p;
    return true;
}

}  // namespace kovran::sim
