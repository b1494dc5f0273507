#include "device/identification.h"

#include <algorithm>

#include "api/log.h"
#include "platform/usb_vendors.h"

namespace kovran::device {

namespace {

constexpr std::uint16_t kPidSideSwapped = 11;
constexpr std::int32_t kFrontSide = 1;
constexpr std::int32_t kRearSide = 0;

bool Bit(std::uint32_t word, int bit) {
    return ((word >> bit) & 1u) != 0;
}

// Scanners of the family whose status word carries the double-sheet and
// sensor bits, and whose configuration bit 29 means something.
bool SensorFamily(std::uint16_t pid) {
    return pid == 3 || pid == 4 || pid == 8 || pid == 9 || pid == 14;
}

// PID 11 units built with a mis-assembled MICR head and feature flag 2 on
// by mistake; their head sits at a fixed offset.
bool MicrOffsetSeries(const DeviceFacts& d) {
    return d.pid == kPidSideSwapped && d.serialHigh == 0 && d.serialLow >= 330100 &&
           d.serialLow <= 330106;
}

// PID 3 units on FW 0x5005 whose EEPROM claims aligner data they lack.
bool AlignerFixSeries(const DeviceFacts& d) {
    static constexpr std::int32_t kUnits[] = {360584, 360599, 360608, 360620, 360621, 360623};
    return d.pid == 3 && d.firmware == 0x5005 && d.serialHigh == 0 &&
           std::find(std::begin(kUnits), std::end(kUnits), d.serialLow) != std::end(kUnits);
}

}  // namespace

std::optional<FirmwareReply> FirmwareFromDigits(const std::uint8_t* reply, std::size_t length) {
    if (reply == nullptr || length < 5) return std::nullopt;
    unsigned raw = 0;
    for (std::size_t i = 1; i <= 4; ++i) raw = raw * 16 + (reply[i] & 0xFu);
    return FirmwareReply{.version = static_cast<std::uint16_t>(raw & 0x7FFF),
                         .flag15 = (raw & 0x8000u) != 0};
}

unsigned ConfigurationBlockLength(std::uint16_t fw) {
    if (fw <= 0x200F) return 2;
    if (fw <= 0x2FFF) return 3;
    if (fw <= 0x3FFF) return fw > 0x3106 ? 8 : 4;
    return 8;
}

ConfigurationWords DecodeConfigurationBlock(std::uint16_t fw, const std::uint8_t* b,
                                            std::size_t length) {
    ConfigurationWords w;
    if (b == nullptr || length < ConfigurationBlockLength(fw)) return w;
    if (fw <= 0x200F) {
        w.word = b[1];
        w.cisVoltage = fw < 0x2000 ? 12 : 5;
    } else if (fw <= 0x2FFF) {
        w.word = b[1];
        w.cisVoltage = b[2];
    } else if (fw <= 0x3FFF) {
        w.word = static_cast<std::uint32_t>(b[3]) * 256u + b[1];
        w.cisVoltage = b[2];
    } else {
        const std::uint32_t high = static_cast<std::uint32_t>(b[4]) | (std::uint32_t{b[5]} << 8);
        w.word = ((high * 256u) + b[3]) * 256u + b[1];
        w.word2 = static_cast<std::uint16_t>(b[7] * 256 + b[6]);
        w.cisVoltage = 12;
    }
    return w;
}

bool ConfigurationBitApplies(int bit, const DeviceFacts& d) {
    const std::uint16_t fw = d.firmware;
    switch (bit) {
        case 1:
        case 4:
        case 5:
        case 6:
            return true;
        case 7:
            return fw >= 0x2000 || fw == 0x1007;
        case 2:
        case 8:
        case 9:
        case 10:
        case 11:
        case 13:
        case 26:
        case 30:
            return fw >= 0x3000;
        case 12:
            return fw > 0x3006;
        case 14:
            return fw >= 0x3104;
        case 16:
        case 18:
            return fw > 0x4004;
        case 17:
            return fw > 0x3FFF;
        case 19:
            return fw >= 0x4006 && fw <= 0x500F;
        case 20:
            return fw > 0x4009;
        case 22:
            return fw > 0x5000;
        case 24:
        case 31:
            return fw > 0x5009;
        case 25:
            return fw > 0x4010;
        case 27:
            return fw > 0x5002;
        case 29:
            return fw > 0x5003 && SensorFamily(d.pid);
        default:
            return false;
    }
}

bool Configuration2BitApplies(int bit, const DeviceFacts& d) {
    switch (bit) {
        case 1:
            return d.firmware > 0x5009;
        case 4:
        case 5:
            return d.firmware > 0x5010;
        default:
            return false;
    }
}

void ApplyConfiguration(const DeviceFacts& d, const ConfigurationWords& words, AdfIni adf,
                        DeviceCapabilities* caps) {
    DeviceCapabilities& c = *caps;
    c.configuration = words.word;
    c.configuration2 = d.firmware > 0x3FFF ? words.word2 : 0;
    c.cisVoltage = words.cisVoltage;
    if (AlignerFixSeries(d)) {
        c.configuration &= ~(1u << 30);
        LogText("EEPROM alligner fix");
    }
    const auto on = [&](int bit) {
        return ConfigurationBitApplies(bit, d) && Bit(c.configuration, bit);
    };
    const auto on2 = [&](int bit) {
        return Configuration2BitApplies(bit, d) && Bit(c.configuration2, bit);
    };

    c.rearCamera = d.firmware <= 0x200F || on(1);
    c.optionFlag2 = on(2);
    c.reportsStatus200 = on(4);
    c.reportsStatus400 = on(5);
    c.reportsStatus800 = on(6);
    c.reportsStatus40000 = on(7);
    c.adf = on(8);
    c.inkjetType1Present = on(9);
    c.inkjetType2Present = on(10);
    c.reportsStatus80000 = on(11);
    c.reportsStatus100000 = on(13);
    c.micrHeadPresent = on(12);
    if (d.firmware >= 0x3104)
        c.externalPowerSensing = on(14);
    else
        c.externalPowerSensing =
            (d.firmware >= 0x2100 && d.firmware <= 0x2FFF) || InRange2021(d.firmware);
    c.doubleFeedSensor = on(16);
    c.backlight = on(17);
    c.reportsStatus200000 = on(18);
    c.slowAcquisition = on(19);
    c.optionFlag20 = on(20);
    c.noModes6And7 = on(22);
    c.calibrationOption24 = on(24);
    c.calibrationOption31 = on(31);
    c.reportsStatus400000 = on(25);
    c.optionFlag26 = on(26) || (d.pid == 3 && d.serialHigh == 0 && d.serialLow == 360199);
    c.photoTuning = on(27);
    c.optionFlag29 = on(29);
    c.alignerData = on(30);
    c.optionWord2Bit1 = on2(1);
    c.reportsStatus4000000 = on2(4);
    c.buzzer = on2(5);

    c.adfDisabledByIni = false;
    if (adf == AdfIni::Disabled) {
        c.adf = false;
        c.adfDisabledByIni = true;
        LogText("ADF diasbled by ini");
    }
    // Usable only once their configuration blocks have been read.
    c.inkjetType1 = false;
    c.inkjetType2 = false;
    if (!c.micrHeadPresent) c.micr = MicrHead{};

    c.codelineSide = d.pid == kPidSideSwapped ? kRearSide : kFrontSide;
    c.otherSide = d.pid == kPidSideSwapped ? kFrontSide : kRearSide;
}

void MarkInkjetsUsable(bool type1BlockRead, bool type2BlockRead, DeviceCapabilities* caps) {
    caps->inkjetType1 = caps->inkjetType1Present && type1BlockRead;
    if (caps->inkjetType1Present && !type1BlockRead)
        LogPair("war - ", "Inkjet is not supported in this configuration (full speed?).");
    caps->inkjetType2 = caps->inkjetType2Present && type2BlockRead;
    if (caps->inkjetType2Present && !type2BlockRead)
        LogPair("err - ", "inkjet is missing configuration data");
}

MicrHead DecodeMicrHead(const DeviceFacts& d, const std::uint8_t* b, std::size_t length) {
    MicrHead m;
    if (b == nullptr || length < 16) return m;
    const std::uint8_t flags = b[1];
    const std::uint16_t fw = d.firmware;
    m.frontSide = Bit(flags, 1);
    if (d.pid == kPidSideSwapped)
        m.rotation = Bit(flags, 6) ? 768 : 256;
    else
        m.rotation = Bit(flags, fw < 0x3104 ? 2 : 6) ? 256 : 768;
    m.flag1 = Bit(flags, 3);
    m.flag2 = Bit(flags, 4);
    m.flag3 = Bit(flags, 5);
    m.offset = static_cast<std::int16_t>(static_cast<std::int16_t>(b[3] * 256 + b[2]) / 2);
    if (MicrOffsetSeries(d)) m.offset = -282;
    m.greyLineRateLimit = static_cast<std::uint16_t>(b[4] * 10);
    m.ratioOneSide = b[5];
    m.ratioBothSides = b[6];
    if (fw > 0x3104) m.imageWidth300 = static_cast<std::uint16_t>(b[13] | (b[14] << 8));
    if (d.pid == kPidSideSwapped && m.imageWidth300 == 0 && m.flag1) m.imageWidth300 = 1296;
    if (fw >= 0x3105)
        m.colourResolutionLimit =
            b[10] != 0 ? static_cast<std::uint16_t>(b[10] * 10) : m.greyLineRateLimit / 3;
    else
        m.colourResolutionLimit = 100;

    m.usable = Bit(flags, 0);
    if (m.usable && m.greyLineRateLimit < 100) {
        LogPairValue("err - ", "invalid magnetic head VRes", m.greyLineRateLimit);
        m.usable = false;
    }
    if (m.usable && !d.highSpeed) {
        LogPair("war - ", "micr disabled in full speed");
        m.usable = false;
    }
    return m;
}

SensorOptions DecodeSensorOptions(const DeviceFacts& d, std::optional<std::uint8_t> byte) {
    SensorOptions s;
    if (!byte) return s;
    const std::uint8_t v = *byte;
    if (d.pid == kPidSideSwapped) {
        if (d.firmware < 0x4000) {
            s.flag[1] = s.flag[2] = s.flag[3] = s.flag[4] = false;
        } else {
            s.flag[1] = s.flag[2] = !Bit(v, 0);
            s.flag[3] = Bit(v, 1);
            s.flag[4] = Bit(v, 2);
        }
    } else if (d.firmware > 0x4000) {
        s.flag[1] = s.flag[2] = !Bit(v, 0);
        s.flag[3] = !Bit(v, 1);
        s.flag[4] = !Bit(v, 2);
    }
    s.sensorType = v & 0x38;
    if (s.sensorType == 16 || s.sensorType == 32 || d.firmware > 0x5011) s.flag[5] = false;
    return s;
}

std::array<bool, 12> FeatureFlags(const DeviceFacts& d, const DeviceCapabilities& caps) {
    const std::uint16_t fw = d.firmware;
    const bool r2021 = InRange2021(fw);
    std::array<bool, 12> f{};
    f[1] = fw > 0x3106 && !caps.noModes6And7;
    f[2] = (fw > 0x3000 || (fw <= 0x2102 && !r2021)) && !caps.noModes6And7 && !MicrOffsetSeries(d);
    f[3] = fw > 0x2101 || r2021 || fw == 0x2003 || fw == 0x2008 || fw == 0x2009 || fw == 0x2010;
    f[4] = fw > 0x3000;
    f[5] = fw > 0x3000 || fw == 0x2008 || fw == 0x2009;
    f[6] = fw > 0x2102 || r2021;
    f[7] = r2021 || (fw > 0x2110 && fw < 0x2200) || fw > 0x2202;
    f[8] = fw > 0x20FF || r2021;
    f[9] = fw > 0x2008 || r2021;
    f[10] = fw > 0x20FF || r2021;
    f[11] = fw > 0x20FF || r2021;
    return f;
}

std::uint16_t HandlePid(std::uint16_t vid, std::uint16_t pid) {
    return platform::IsFeederScanner(vid, pid) ? 5 : pid;
}

std::int32_t HandleFor(std::uint16_t handlePid, std::int32_t serialLow, int random) {
    std::int64_t h = static_cast<std::int64_t>(serialLow % 1000000) +
                     static_cast<std::int64_t>(handlePid) * 1000000;
    if (h == 0) h = random != 0 ? random : handlePid;
    if (h == -1) h = 1;
    return static_cast<std::int32_t>(h);
}

}  // namespace kovran::device
