// The acquisition's parameters as the device takes them: the start command
// of firmware 0x3000 and later, and the single requests of older firmware.
#include <algorithm>

#include "acquisition/acquire.h"
#include "acquisition/calibration.h"
#include "acquisition/corr_info.h"
#include "acquisition/images.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/acq_mode.h"
#include "device/control_request.h"
#include "device/transport.h"
#include "platform/usb_vendors.h"

namespace kovran::acquisition {
namespace {

constexpr std::uint8_t kModeBits = 0x07;
constexpr std::uint8_t kSlowAcquisition = 0x40;
constexpr std::int32_t kColourPartMask = ~0x18;
constexpr std::int32_t kColour = 2;
constexpr std::int32_t kFirstSingleLamp = 3;
constexpr std::int32_t kLastSingleLamp = 5;
constexpr std::int32_t kInfraredBit = 0x08;
constexpr std::int32_t kUltravioletBit = 0x10;
constexpr std::uint8_t kHighestLevelSent = 254;
constexpr std::size_t kLinesLimit = 65535;
constexpr std::uint16_t kFirmware3100 = 0x3100;
constexpr std::uint16_t kLastFirmwareWithRequest2 = 0x200F;
constexpr std::uint16_t kFirmware2009 = 0x2009;
// Without calibration the lamps run at the model's highest level; the
// backlight and ultraviolet levels are the built-in ones.
constexpr std::uint16_t kDefaultLampLevel = 63;
constexpr std::uint16_t kDefaultUltravioletLevel = 254;

bool Moving(AcqPurpose p) {
    return p == AcqPurpose::MoveByTime || p == AcqPurpose::Movement;
}

bool InkjetModel(const DeviceIdentity& id) {
    if (id.vid != platform::kMainVendor) return false;
    return id.pid == 3 || id.pid == 4 || id.pid == 8 || id.pid == 9 || id.pid == 14;
}

std::uint8_t Level(std::uint16_t v) {
    return static_cast<std::uint8_t>(std::min<std::uint16_t>(v, kHighestLevelSent));
}

// A level request is capped at the model's maximum (1000 asks for it).
std::uint8_t LampLevel(std::uint16_t v) {
    return Level(std::min(v, kDefaultLampLevel));
}

void Put16(StartCommand& c, std::size_t at, std::size_t v) {
    const auto x = static_cast<std::uint16_t>(std::min(v, kLinesLimit));
    c[at] = static_cast<std::uint8_t>(x & 0xFF);
    c[at + 1] = static_cast<std::uint8_t>(x >> 8);
}

int Send(std::uint32_t value) {
    return device::ControlMsg(device::kClassAcquisition, value, nullptr, 0,
                              platform::Direction::Out);
}

}  // namespace

StartCommand BuildStartCommand(const StartInputs& in) {
    StartCommand c{};
    const DeviceIdentity id = device::Identity();
    const ScanSettings& scan = in.settings->scan;
    const AcqModeRecord& mode = in.settings->mode;
    const ImageSet& r = *in.records;
    const std::int32_t colourPart = scan.color & kColourPartMask;
    const bool singleLamp = colourPart >= kFirstSingleLamp && colourPart <= kLastSingleLamp;
    const bool colour = colourPart == kColour;
    const bool ir = (scan.color & kInfraredBit) != 0;
    const bool uv = (scan.color & kUltravioletBit) != 0;
    const bool moving = Moving(in.purpose);
    const bool timed = in.purpose == AcqPurpose::MoveByTime;
    const bool strip = mode.request.cmc7Strip;
    const ScanRecord& state = ScanState();

    c[0] = scan.acq.mode & kModeBits;
    if (id.capabilities.slowAcquisition) {
        LogText("slow acquisition");
        c[0] |= kSlowAcquisition;
    }
    // The mode lays the front out in every line unless it is off: a rear
    // taken alone still comes interleaved with the front, and asking for
    // the rear alone would have the device send lines half as long.
    const bool frontStreamed = r[kFront].enabled || (r[kRear].enabled && !scan.frontOff);
    c[1] = static_cast<std::uint8_t>((colour ? 0x01 : 0) | (frontStreamed ? 0x02 : 0) |
                                     (r[kRear].enabled ? 0x04 : 0) | (singleLamp ? 0x08 : 0) |
                                     (uv ? 0x10 : 0) | (ir ? 0x20 : 0));
    const bool thirdBit = !id.capabilities.adf || in.settings->movementFlag;
    c[2] = static_cast<std::uint8_t>((in.direction == ScanDirection::Forward ? 0x01 : 0) |
                                     (thirdBit ? 0x04 : 0) | 0x08 | (strip ? 0x20 : 0));
    const bool noWait = scan.msecWaitDoc == 0 || moving || in.secondPart;
    c[3] = static_cast<std::uint8_t>((noWait ? 0x03 : 0) | (state.endOption ? 0 : 0x04) |
                                     (timed ? 0x08 : 0) | (scan.backlightOn ? 0x40 : 0));
    // Lamp levels per channel from the calibration in force; a single-lamp
    // mode lights one colour only.
    const CorrInfoRecord& info = CorrInfos();
    for (int side : {kFront, kRear}) {
        const std::size_t at = side == kFront ? 4 : 7;
        const auto& levels = in.purpose == AcqPurpose::Calibration
                                 ? Calibration().passLevels[side == kFront ? 1 : 0]
                                 : info.sides[static_cast<std::size_t>(side)].level;
        for (int ch = 0; ch < 3; ++ch) {
            const bool lit = !singleLamp || ch == colourPart - kFirstSingleLamp;
            c[at + static_cast<std::size_t>(ch)] =
                lit ? LampLevel(levels[static_cast<std::size_t>(ch)]) : 0;
        }
    }
    const std::size_t pitch = std::max<std::size_t>(r[kFront].channelPitch, 1);
    const std::size_t channels = std::max<std::size_t>(r[kFront].channels, 1);
    std::size_t lines = in.transferLength / pitch;
    if (scan.backlightOn) lines = lines * (channels + 1) / channels;
    if (lines > kLinesLimit) LogText("nLines limited for FPGA buffer size");
    Put16(c, 10, lines);
    const std::size_t channelsAll = channels + (scan.backlightOn ? 1 : 0);
    const std::size_t dpiV = r[kFront].dpiV;
    std::size_t trailing = dpiV * channelsAll * 5 / 2;
    if (id.vid == platform::kMainVendor && id.pid == 11) trailing = dpiV * channelsAll * 3 / 2;
    if (InkjetModel(id) && (id.capabilities.inkjetType1 || id.capabilities.inkjetType2) &&
        id.firmware < kFirmware3100)
        trailing = std::max(trailing, dpiV * channelsAll * 6);
    Put16(c, 12, trailing);
    c[14] = uv ? Level(kDefaultUltravioletLevel) : 0;
    c[15] = ir ? LampLevel(info.sides[kFront].level[3]) : 0;
    c[16] = uv && r[kRear].enabled ? Level(kDefaultUltravioletLevel) : 0;
    c[17] = ir && r[kRear].enabled ? LampLevel(info.sides[kRear].level[3]) : 0;
    c[18] = scan.backlightOn && !timed ? static_cast<std::uint8_t>(kDefaultBacklightLevel) : 0;
    return c;
}

void SendOlderSetUp(const ImageSet& work, const AcqSettings& settings) {
    const DeviceIdentity id = device::Identity();
    const ScanSettings& scan = settings.scan;
    Send(work[kRear].enabled ? 4 : 3);
    if (!work[kFront].enabled)
        Send(21);
    else if (id.firmware > kFirmware2009)
        Send(20);
    if (scan.acq.forced) {
        Send(31u + scan.acq.mode);
    } else {
        Send(15);
        Send(scan.acq.resolutionCode);
        Send(scan.acq.lineCode);
    }
    const std::int32_t colourPart = scan.color & kColourPartMask;
    if (colourPart == kColour)
        Send(12);
    else if (colourPart >= kFirstSingleLamp && colourPart <= kLastSingleLamp)
        Send(30);
    else
        Send(13);
    if (id.firmware <= kLastFirmwareWithRequest2) Send(2);
}

}  // namespace kovran::acquisition
