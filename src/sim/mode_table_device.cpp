#include "sim/mode_table_device.h"

#include <iterator>

namespace kovran::sim {
namespace {

// Which acquisitions a firmware mode runs.
enum class Colour : std::uint8_t { Either, GreyOnly, ColourOnly };

struct FirmwareMode {
    int mode;
    bool highSpeed;  // the USB speed the mode belongs to
    std::uint16_t resolutionCode;
    std::uint16_t lineCode;
    Colour colour = Colour::Either;
};

// ---- Firmware of the main family (above 0x3000) ------------------------------
//
// Every mode is offered at either speed, under the conditions of its row.
struct MainMode {
    std::uint16_t resolutionCode;
    std::uint16_t lineCode;
    bool needsHighSpeed;
    bool refusesStrip;
    bool refusesBacklight;
    bool refusesBacklightColour;
    bool refusedWithBit22;
    Colour colour;
    bool pid11Offers;
    bool pid11RefusesStrip;
    bool pid11RefusesBacklight;
    Colour pid11Colour;
};
// 5 is no mode at all.
constexpr bool kOffers[8] = {true, true, true, true, true, false, true, true};
constexpr MainMode kMain[8] = {
    {1010, 1003, true, true, true, false, false, Colour::GreyOnly, true, true, true,
     Colour::GreyOnly},
    {17, 1005, true, false, false, false, false, Colour::ColourOnly, true, false, false,
     Colour::ColourOnly},
    {17, 1003, false, false, false, false, false, Colour::ColourOnly, true, false, false,
     Colour::ColourOnly},
    {17, 15, false, false, false, true, false, Colour::Either, true, false, false, Colour::Either},
    {17, 1001, false, true, true, false, false, Colour::GreyOnly, false, false, false,
     Colour::Either},
    {0, 0, false, false, false, false, false, Colour::Either, false, false, false, Colour::Either},
    {18, 1003, false, true, true, false, true, Colour::ColourOnly, false, false, false,
     Colour::Either},
    {18, 1001, false, true, true, false, true, Colour::GreyOnly, true, true, false,
     Colour::GreyOnly},
};

// ---- Older firmware: the modes per speed ----------------------------------------
constexpr FirmwareMode k2205[] = {
    {0, true, 1010, 1003, Colour::GreyOnly},
    {2, true, 17, 1003, Colour::ColourOnly},
    {3, true, 17, 15},
    {4, true, 17, 1005, Colour::ColourOnly},
    {4, false, 19, 1002},
    {5, false, 17, 14},
    {6, false, 18, 1002, Colour::ColourOnly},
    {7, false, 18, 1001, Colour::GreyOnly},
};
constexpr FirmwareMode k2201[] = {
    {0, true, 1010, 1003, Colour::GreyOnly},
    {1, true, 17, 1004, Colour::ColourOnly},
    {2, true, 17, 1003, Colour::ColourOnly},
    {3, true, 17, 15},
    {4, false, 19, 1002},
    {5, false, 17, 14},
    {6, false, 18, 1002, Colour::ColourOnly},
    {7, false, 18, 1001, Colour::GreyOnly},
};
constexpr FirmwareMode k21[] = {
    {0, true, 17, 15},  {1, true, 17, 26},  {2, false, 17, 14},
    {5, false, 18, 26}, {6, false, 19, 26},
};
constexpr FirmwareMode k2103[] = {
    {1, true, 17, 26},
    {2, false, 17, 14},
    {5, false, 18, 26},
    {6, false, 19, 26},
};

int Lines(std::uint16_t lineCode, std::uint16_t firmware) {
    switch (lineCode) {
        case 14:
            return 150;
        case 15:
            return 300;
        case 26:
            return firmware > 0x2109 ? 250 : 225;
        case 1000:
            return 100;
        case 1001:
            return 200;
        case 1002:
            return 250;
        case 1003:
            return 600;
        case 1004:
            return 700;
        case 1005:
            return 900;
        default:
            return 0;
    }
}

// Front and rear dots per inch along the sensor.
void Dpi(std::uint16_t resolutionCode, DeviceStream& s) {
    switch (resolutionCode) {
        case 17:
            s.frontDpiH = s.rearDpiH = 300;
            break;
        case 18:
            s.frontDpiH = s.rearDpiH = 200;
            break;
        case 19:
            s.frontDpiH = 300;
            s.rearDpiH = 100;
            break;
        case 1010:
            s.frontDpiH = s.rearDpiH = 600;
            break;
        default:
            break;
    }
}

bool ColourFits(Colour c, bool colour) {
    return c == Colour::Either || (c == Colour::ColourOnly) == colour;
}

// Pixels of a sensor of the given length in hundredths of an inch.
std::uint16_t Pixels(int dpi, int hundredths) {
    return static_cast<std::uint16_t>(dpi * hundredths / 100);
}

std::optional<DeviceStream> MainFamily(const DeviceModeRequest& r) {
    if (r.mode < 0 || r.mode > 7 || !kOffers[r.mode]) return std::nullopt;
    const MainMode& m = kMain[r.mode];
    const bool pid11 = r.pid == 11;
    if (pid11) {
        if (!m.pid11Offers) return std::nullopt;
        if (m.needsHighSpeed && !r.highSpeed) return std::nullopt;
        if (m.pid11RefusesStrip && r.strip) return std::nullopt;
        if (m.pid11RefusesBacklight && r.backlight) return std::nullopt;
        if (m.refusesBacklightColour && r.backlight && r.colour) return std::nullopt;
        if (!ColourFits(m.pid11Colour, r.colour)) return std::nullopt;
    } else {
        if (m.needsHighSpeed && !r.highSpeed) return std::nullopt;
        if (m.refusesStrip && r.strip) return std::nullopt;
        if (m.refusesBacklight && r.backlight) return std::nullopt;
        if (m.refusesBacklightColour && r.backlight && r.colour) return std::nullopt;
        if (m.refusedWithBit22 && r.bit22) return std::nullopt;
        if (!ColourFits(m.colour, r.colour)) return std::nullopt;
    }
    DeviceStream s;
    s.resolutionCode = m.resolutionCode;
    s.lineCode = m.lineCode;
    Dpi(m.resolutionCode, s);
    const int colourLines = r.colour ? 3 : 1;
    const int channelLines = colourLines + r.infrared + r.ultraviolet;
    // PID 11 spreads its line rate over every channel, the others over the
    // colours only.
    const int perLine = pid11 ? channelLines : colourLines;
    s.frontDpiV = s.rearDpiV = static_cast<std::uint16_t>(Lines(m.lineCode, r.firmware) / perLine);
    // PID 14 has a half-width sensor.
    const int sensorHundredths = r.pid == 14 ? 432 : 864;
    s.frontPixels = Pixels(s.frontDpiH, sensorHundredths);
    s.rearPixels = Pixels(s.rearDpiH, sensorHundredths);
    s.lineBytes = (r.frontOn ? channelLines * s.frontPixels : 0u) +
                  (r.rearOn ? channelLines * s.rearPixels : 0u) +
                  (r.backlight ? s.frontPixels : 0u);
    return s;
}

std::optional<DeviceStream> OlderFamily(const DeviceModeRequest& r, const FirmwareMode* modes,
                                        std::size_t count, bool fixedSensor, bool perColourOnly) {
    const FirmwareMode* found = nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        const FirmwareMode& m = modes[i];
        if (m.mode != r.mode || m.highSpeed != r.highSpeed) continue;
        // FW 0x2204 dropped mode 7.
        if (r.firmware == 0x2204 && m.mode == 7) continue;
        found = &m;
    }
    if (found == nullptr || !ColourFits(found->colour, r.colour)) return std::nullopt;
    DeviceStream s;
    s.resolutionCode = found->resolutionCode;
    s.lineCode = found->lineCode;
    Dpi(found->resolutionCode, s);
    const int colourLines = r.colour ? 3 : 1;
    const int channelLines = colourLines + r.infrared + r.ultraviolet;
    const int v = Lines(found->lineCode, r.firmware) / (perColourOnly ? colourLines : channelLines);
    s.frontDpiV = s.rearDpiV = static_cast<std::uint16_t>(v);
    if (fixedSensor) {
        // The 0x21xx sensors: 3072 / 2688 pixels at 300 dpi, 1792 at 200,
        // 896 for the rear at 100.
        auto sensor = [&](int dpi) -> std::uint16_t {
            if (dpi == 300) return r.highSpeed ? 3072 : 2688;
            if (dpi == 200) return 1792;
            return 896;
        };
        s.frontPixels = sensor(s.frontDpiH);
        s.rearPixels = sensor(s.rearDpiH);
    } else {
        s.frontPixels = Pixels(s.frontDpiH, r.highSpeed ? 1024 : 896);
        s.rearPixels = Pixels(s.rearDpiH, r.highSpeed ? 1024 : 896);
    }
    s.lineBytes = static_cast<std::uint32_t>(channelLines * (s.frontPixels + s.rearPixels));
    return s;
}

// The two oldest families: one mode at 300 dpi with 2592-pixel sensors.
std::optional<DeviceStream> OneModeFamily(const DeviceModeRequest& r, bool twoStreams) {
    if (r.mode != 0) return std::nullopt;
    DeviceStream s;
    s.resolutionCode = 17;
    s.frontDpiH = s.rearDpiH = 300;
    s.frontPixels = s.rearPixels = 2592;
    s.twoStreams = twoStreams;
    if (twoStreams) {
        // 0x2008/0x2009: the front alone runs at 300 lines per inch, spread
        // over the channels.
        const int channelLines = (r.colour ? 3 : 1) + r.infrared + r.ultraviolet;
        s.lineCode = r.rearOn ? 14 : 15;
        s.frontDpiV = s.rearDpiV =
            static_cast<std::uint16_t>(Lines(s.lineCode, r.firmware) / channelLines);
        s.lineBytes = 2592;
    } else {
        // 0x1005/0x1007: 150 lines per inch shared by the sides; the front
        // alone gets all of them.
        s.lineCode = 14;
        s.rearDpiV = 150;
        s.frontDpiV = r.rearOn ? 150 : 300;
        s.lineBytes = r.rearOn ? 5184 : 2592;
    }
    return s;
}

}  // namespace

std::optional<DeviceStream> DeviceModeStream(const DeviceModeRequest& r) {
    const std::uint16_t fw = r.firmware;
    if (fw > 0x3000) return MainFamily(r);
    if (fw >= 0x2205 && fw <= 0x2207) return OlderFamily(r, k2205, std::size(k2205), false, false);
    if (fw >= 0x2201 && fw <= 0x2204) return OlderFamily(r, k2201, std::size(k2201), false, false);
    if ((fw >= 0x2104 && fw <= 0x21FF) || (fw == 0x2103 && r.serialLow > 216547))
        return OlderFamily(r, k21, std::size(k21), true, false);
    if (fw == 0x2103) return OlderFamily(r, k2103, std::size(k2103), true, true);
    if (fw == 0x2008 || fw == 0x2009) return OneModeFamily(r, true);
    if (fw == 0x1005 || fw == 0x1007) return OneModeFamily(r, false);
    return std::nullopt;
}

}  // namespace kovran::sim
