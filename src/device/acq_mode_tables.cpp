// The mode tables of every firmware family, as data, and the choosers that
// pick a mode for the resolutions asked. The firmware accepts only the
// modes of its own table; a mode outside it makes the device stream lines
// of another layout than the library expects, so the tables are checked
// before anything is sent.
#include <algorithm>
#include <span>

#include "api/log.h"
#include "device/acq_mode.h"
#include "platform/usb_vendors.h"

namespace kovran::device {
namespace {

// ---- Codes -----------------------------------------------------------------

// Horizontal resolution of the front and the rear for a resolution code.
struct ResolutionCode {
    std::uint16_t code;
    std::uint16_t front;
    std::uint16_t rear;
};
constexpr ResolutionCode kResolutionCodes[] = {
    {17, 300, 300},
    {18, 200, 200},
    {19, 300, 100},
    {1010, 600, 600},
};

// Channel lines per inch of paper for a line code. Code 26 is the one the
// firmware changed: 225 up to 0x2109, 250 above.
struct LineCode {
    std::uint16_t code;
    std::uint16_t lines;
    std::uint16_t linesAfter2109;
};
constexpr LineCode kLineCodes[] = {
    {14, 150, 150},   {15, 300, 300},   {26, 225, 250},   {1000, 100, 100}, {1001, 200, 200},
    {1002, 250, 250}, {1003, 600, 600}, {1004, 700, 700}, {1005, 900, 900},
};

ResolutionCode ResolutionOf(std::uint16_t code) {
    for (const ResolutionCode& r : kResolutionCodes)
        if (r.code == code) return r;
    return {code, 0, 0};
}

std::uint16_t LinesPerInch(std::uint16_t code, std::uint16_t firmware) {
    for (const LineCode& l : kLineCodes)
        if (l.code == code) return firmware <= 0x2109 ? l.lines : l.linesAfter2109;
    return 0;
}

// ---- Conditions of a table row ----------------------------------------------

enum Need : std::uint16_t {
    kAny = 0,
    kHighSpeed = 1 << 0,
    kNoStrip = 1 << 1,
    kGrey = 1 << 2,
    kColour = 1 << 3,
    kNoBacklight = 1 << 4,
    kNotBacklightColour = 1 << 5,  // not (backlight and colour)
    kBit22Clear = 1 << 6,
    kNever = 1 << 7,
};

struct Conditions {
    bool highSpeed;
    bool strip;
    bool colour;
    bool backlight;
    bool bit22;
};

bool Meets(std::uint16_t needs, const Conditions& c) {
    if (needs & kNever) return false;
    if ((needs & kHighSpeed) && !c.highSpeed) return false;
    if ((needs & kNoStrip) && c.strip) return false;
    if ((needs & kGrey) && c.colour) return false;
    if ((needs & kColour) && !c.colour) return false;
    if ((needs & kNoBacklight) && c.backlight) return false;
    if ((needs & kNotBacklightColour) && c.backlight && c.colour) return false;
    if ((needs & kBit22Clear) && c.bit22) return false;
    return true;
}

// ---- Main family (firmware above 0x3000) -----------------------------------

struct MainRow {
    std::uint16_t needs;       // other PIDs
    std::uint16_t needsPid11;  // PID 11
    std::uint16_t resolutionCode;
    std::uint16_t lineCode;
};
constexpr MainRow kMainModes[8] = {
    /* 0 */ {kHighSpeed | kNoStrip | kGrey | kNoBacklight,
             kHighSpeed | kNoStrip | kGrey | kNoBacklight, 1010, 1003},
    /* 1 */ {kHighSpeed | kColour, kHighSpeed | kColour, 17, 1005},
    /* 2 */ {kColour, kColour, 17, 1003},
    /* 3 */ {kNotBacklightColour, kNotBacklightColour, 17, 15},
    /* 4 */ {kNoStrip | kNoBacklight | kGrey, kNever, 17, 1001},
    /* 5 */ {kNever, kNever, 0, 0},
    /* 6 */ {kNoStrip | kNoBacklight | kColour | kBit22Clear, kNever, 18, 1003},
    /* 7 */ {kNoBacklight | kNoStrip | kGrey | kBit22Clear, kNoStrip | kGrey, 18, 1001},
};

// ---- Older families ----------------------------------------------------------

enum class Speed : std::uint8_t { High, Full };

struct OldRow {
    Speed speed;
    std::uint8_t mode;
    std::uint16_t resolutionCode;
    std::uint16_t lineCode;
    std::uint16_t needs = kAny;
    bool request25 = false;
    std::uint8_t lineMultiple = 0;       // 0: the family's
    std::uint16_t maxFirmware = 0xFFFF;  // the row is absent above it
    std::uint16_t lineCodeRearOff = 0;   // 0: the same line code
};

// Pixels of one side for a resolution code, where the family fixes them.
struct FixedPixels {
    std::uint16_t resolutionCode;
    std::uint16_t frontWidth;
    std::uint16_t frontSensorHigh;
    std::uint16_t frontSensorFull;
    std::uint16_t rearWidth;
    std::uint16_t rearSensorHigh;
    std::uint16_t rearSensorFull;
    std::uint8_t lineMultiple;
};

enum class Divisor : std::uint8_t {
    ChannelLines,
    ColourChannels,
    None,  // the line rate is the side's resolution
};
enum class Pitch : std::uint8_t {
    BothSensors,     // one stream carries both sensors
    EnabledSensors,  // the rear's pixels only while the rear is on
    OwnSensor,       // two buffers
};
enum class Request25 : std::uint8_t { FromRow, HighSpeed };

using Chooser = int (*)(const ModeInputs&);

struct OldFamily {
    std::span<const OldRow> rows;
    std::span<const FixedPixels> fixed;  // empty: computed from dpiH
    std::uint16_t leftDivisor;           // 0: left 0
    std::uint8_t lineMultiple;
    Divisor divisor;
    Pitch pitch;
    bool singleBuffer;
    bool strideIsPitch;        // the stride the oldest families state, whatever the channels
    bool rearOffDoublesFront;  // the front takes the rear's lines when the rear is off
    Request25 request25;
    Chooser chooser;
};

constexpr OldRow k2205Rows[] = {
    {.speed = Speed::High, .mode = 0, .resolutionCode = 1010, .lineCode = 1003, .needs = kGrey},
    {.speed = Speed::High, .mode = 2, .resolutionCode = 17, .lineCode = 1003, .needs = kColour},
    {.speed = Speed::High, .mode = 3, .resolutionCode = 17, .lineCode = 15, .request25 = true},
    {.speed = Speed::High, .mode = 4, .resolutionCode = 17, .lineCode = 1005, .needs = kColour},
    {.speed = Speed::Full, .mode = 4, .resolutionCode = 19, .lineCode = 1002, .lineMultiple = 3},
    {.speed = Speed::Full, .mode = 5, .resolutionCode = 17, .lineCode = 14},
    {.speed = Speed::Full, .mode = 6, .resolutionCode = 18, .lineCode = 1002, .needs = kColour},
    {.speed = Speed::Full, .mode = 7, .resolutionCode = 18, .lineCode = 1001, .needs = kGrey},
};

constexpr OldRow k2201Rows[] = {
    {.speed = Speed::High, .mode = 0, .resolutionCode = 1010, .lineCode = 1003, .needs = kGrey},
    {.speed = Speed::High, .mode = 1, .resolutionCode = 17, .lineCode = 1004, .needs = kColour},
    {.speed = Speed::High, .mode = 2, .resolutionCode = 17, .lineCode = 1003, .needs = kColour},
    {.speed = Speed::High, .mode = 3, .resolutionCode = 17, .lineCode = 15, .request25 = true},
    {.speed = Speed::Full, .mode = 4, .resolutionCode = 19, .lineCode = 1002},
    {.speed = Speed::Full, .mode = 5, .resolutionCode = 17, .lineCode = 14},
    {.speed = Speed::Full, .mode = 6, .resolutionCode = 18, .lineCode = 1002, .needs = kColour},
    {.speed = Speed::Full,
     .mode = 7,
     .resolutionCode = 18,
     .lineCode = 1001,
     .needs = kGrey,
     .maxFirmware = 0x2203},
};

constexpr OldRow k2104Rows[] = {
    {.speed = Speed::High, .mode = 0, .resolutionCode = 17, .lineCode = 15},
    {.speed = Speed::High, .mode = 1, .resolutionCode = 17, .lineCode = 26},
    {.speed = Speed::Full, .mode = 2, .resolutionCode = 17, .lineCode = 14},
    {.speed = Speed::Full, .mode = 5, .resolutionCode = 18, .lineCode = 26},
    {.speed = Speed::Full, .mode = 6, .resolutionCode = 19, .lineCode = 26},
};

constexpr OldRow k2103Rows[] = {
    {.speed = Speed::High, .mode = 1, .resolutionCode = 17, .lineCode = 26},
    {.speed = Speed::Full, .mode = 2, .resolutionCode = 17, .lineCode = 14},
    {.speed = Speed::Full, .mode = 5, .resolutionCode = 18, .lineCode = 26},
    {.speed = Speed::Full, .mode = 6, .resolutionCode = 19, .lineCode = 26},
};

constexpr FixedPixels k21Pixels[] = {
    {17, 2592, 3072, 2688, 2592, 3072, 2688, 2},
    {18, 1728, 1792, 1792, 1728, 1792, 1792, 2},
    {19, 2592, 2688, 2688, 864, 896, 896, 4},
};

// The two oldest families have one mode, at either speed.
constexpr OldRow k2008Rows[] = {
    {.speed = Speed::High, .mode = 0, .resolutionCode = 17, .lineCode = 14, .lineCodeRearOff = 15},
    {.speed = Speed::Full, .mode = 0, .resolutionCode = 17, .lineCode = 14, .lineCodeRearOff = 15},
};
constexpr FixedPixels k2008Pixels[] = {{17, 2592, 2592, 2592, 2592, 2592, 2592, 4}};

constexpr OldRow k1005Rows[] = {
    {.speed = Speed::High, .mode = 0, .resolutionCode = 17, .lineCode = 14},
    {.speed = Speed::Full, .mode = 0, .resolutionCode = 17, .lineCode = 14},
};
constexpr FixedPixels k1005Pixels[] = {{17, 2592, 2592, 2592, 2592, 2592, 2592, 4}};

// ---- The needs of the scan ---------------------------------------------------

struct Needs {
    int R = 0;     // the larger requested resolution of front and rear
    int H = 0;     // the largest horizontal requirement
    int V = 0;     // the line-rate requirement, divided as the family says
    int rawV = 0;  // the larger line-rate requirement of rear and front
    int frontH = 0;
    int rearH = 0;
};

Needs NeedsOf(const ModeInputs& in, bool withBacklight, int divisor) {
    const AcqRequest& r = in.request;
    Needs n;
    n.R = std::max<int>(r.requestedDpi[kFront], r.requestedDpi[kRear]);
    if (r.kind != ScanKind::Ordinary) return n;
    const auto& need = r.readingNeeds;
    n.frontH = need[kFront].dpiH;
    n.rearH = need[kRear].dpiH;
    n.H = std::max(n.frontH, n.rearH);
    if (withBacklight) n.H = std::max<int>(n.H, need[kBacklight].dpiH);
    n.rawV = std::max(need[kFront].lineRate, need[kRear].lineRate);
    n.V = n.rawV / std::max(divisor, 1);
    if (withBacklight) n.V = std::max<int>(n.V, need[kBacklight].lineRate);
    return n;
}

int ColourChannels(const ModeInputs& in) {
    return in.scan.acq.colourChannels;
}
int ChannelLines(const ModeInputs& in) {
    return in.scan.acq.channelLines;
}
bool IsColour(const ModeInputs& in) {
    return in.scan.acq.colourChannels == 3;
}
bool IsPid(const DeviceIdentity& id, std::uint16_t pid) {
    return id.vid == platform::kMainVendor && id.pid == pid;
}

// ---- Choosers ----------------------------------------------------------------

int ChooseMain(const ModeInputs& in) {
    const int cc = ColourChannels(in);
    const bool grey = !IsColour(in);
    const bool strip = in.request.cmc7Strip;
    const bool hs = in.id.highSpeed;
    const Needs needs = NeedsOf(in, /*withBacklight=*/true, cc);
    int l = std::max(needs.R, needs.H);
    int n = cc * std::max(needs.R, needs.V);
    if (strip) {
        const MicrHead& head = in.id.capabilities.micr;
        l = 300;
        if (grey)
            n = std::min<int>(n, head.greyLineRateLimit);
        else if (n / cc > head.colourResolutionLimit)
            n = cc * head.colourResolutionLimit;
    }

    if (IsPid(in.id, 11)) {
        bool allDisabled = false;
        const DisabledModes off = Pid11DisabledModes(in, &allDisabled);
        auto on = [&](int m) { return !off[static_cast<std::size_t>(m)]; };
        if (on(0) && hs && grey && (l > 300 || n > 300) && !strip) return 0;
        if (on(7) && n <= 200 && l <= 200 && !strip) return 7;
        if (on(3) && n <= 300) return 3;
        if (on(2) && n <= 600 && !strip) return 2;
        return on(1) ? 1 : 3;
    }

    DisabledModes off = MainDisabledModes(in);
    auto on = [&](int m) { return !off[static_cast<std::size_t>(m)]; };
    for (int pass = 0; pass < 2; ++pass) {
        if (n <= 200 && !strip) {
            if (l <= 200 && on(7)) return 7;
            if (on(4)) return 4;
        }
        if (hs && grey && (l > 300 || n > 300) && on(0) && !strip) return 0;
        if (n <= 600 && off[0] && grey) return 3;
        if (n <= 300 && on(3)) return 3;
        if (n <= 600) {
            if (l <= 200 && on(6) && !strip) return 6;
            if (on(2)) return 2;
        }
        if (!hs && on(2)) return 2;
        if (on(1)) return 1;
        if (in.scan.backlightOn) return grey ? 3 : 1;
        off.fill(false);
    }
    return 1;  // not reached: with every mode enabled the second pass ends
}

// The 0x22xx families at high speed, and their full-speed 4/5 rule.
int Choose22HighSpeed(bool colour, int l, int n, int colourAbove600) {
    if (!colour) return (l <= 300 && n <= 300) ? 3 : 0;
    if (n <= 300) return 3;
    if (n <= 600) return 2;
    return colourAbove600;
}
int Choose22Mode4Or5(const ModeInputs& in, const Needs& needs, int n) {
    const int rearRequested = in.request.requestedDpi[kRear];
    return (n >= 250 && rearRequested <= 100 && needs.rearH <= 100) ? 4 : 5;
}

int Choose2205(const ModeInputs& in) {
    const Needs needs = NeedsOf(in, /*withBacklight=*/false, ColourChannels(in));
    const int l = std::max(needs.R, needs.H);
    const int n = ChannelLines(in) * std::max(needs.R, needs.V);
    if (in.id.highSpeed) return Choose22HighSpeed(IsColour(in), l, n, 4);
    if (l <= 200 && n <= 200) return 7;
    if (l <= 200 && IsColour(in)) return 6;
    return Choose22Mode4Or5(in, needs, n);
}

int Choose2201(const ModeInputs& in) {
    const Needs needs = NeedsOf(in, /*withBacklight=*/false, ChannelLines(in));
    const int l = std::max(needs.R, needs.H);
    const int n = ChannelLines(in) * std::max(needs.R, needs.V);
    if (in.id.highSpeed) return Choose22HighSpeed(IsColour(in), l, n, 1);
    if (l <= 200) {
        if (IsColour(in)) return 6;
        if (n <= 200 && in.id.firmware != 0x2204) return 7;
    }
    return Choose22Mode4Or5(in, needs, n);
}

int Choose21FullSpeed(int r, int c, const Needs& needs) {
    if (c <= 225 && needs.frontH <= 200 && needs.rearH <= 200) return 5;
    if (r <= 150 && c <= 150) return 2;
    if (c <= 225 && needs.rearH <= 100) return 6;
    return 2;
}

int Choose2103(const ModeInputs& in) {
    const int cc = ColourChannels(in);
    const Needs needs = NeedsOf(in, /*withBacklight=*/false, cc);
    if (in.id.highSpeed) return 1;
    const int r = std::min(cc * needs.R, 225);
    return Choose21FullSpeed(r, needs.V, needs);
}

int Choose2104(const ModeInputs& in) {
    const int cl = ChannelLines(in);
    const Needs needs = NeedsOf(in, /*withBacklight=*/false, cl);
    const int r = cl * cl * needs.R;
    if (in.id.highSpeed) return (r <= 225 && needs.V <= 225) ? 1 : 0;
    return Choose21FullSpeed(std::min(r, 225), needs.V, needs);
}

int ChooseOnly0(const ModeInputs&) {
    return 0;
}

constexpr OldFamily k2205Family{.rows = k2205Rows,
                                .fixed = {},
                                .leftDivisor = 25,
                                .lineMultiple = 1,
                                .divisor = Divisor::ChannelLines,
                                .pitch = Pitch::BothSensors,
                                .singleBuffer = true,
                                .strideIsPitch = false,
                                .rearOffDoublesFront = false,
                                .request25 = Request25::FromRow,
                                .chooser = &Choose2205};
constexpr OldFamily k2201Family{.rows = k2201Rows,
                                .fixed = {},
                                .leftDivisor = 20,
                                .lineMultiple = 1,
                                .divisor = Divisor::ChannelLines,
                                .pitch = Pitch::BothSensors,
                                .singleBuffer = true,
                                .strideIsPitch = false,
                                .rearOffDoublesFront = false,
                                .request25 = Request25::FromRow,
                                .chooser = &Choose2201};
constexpr OldFamily k2104Family{.rows = k2104Rows,
                                .fixed = k21Pixels,
                                .leftDivisor = 0,
                                .lineMultiple = 2,
                                .divisor = Divisor::ChannelLines,
                                .pitch = Pitch::BothSensors,
                                .singleBuffer = true,
                                .strideIsPitch = false,
                                .rearOffDoublesFront = false,
                                .request25 = Request25::HighSpeed,
                                .chooser = &Choose2104};
constexpr OldFamily k2103Family{.rows = k2103Rows,
                                .fixed = k21Pixels,
                                .leftDivisor = 0,
                                .lineMultiple = 2,
                                .divisor = Divisor::ColourChannels,
                                .pitch = Pitch::BothSensors,
                                .singleBuffer = true,
                                .strideIsPitch = false,
                                .rearOffDoublesFront = false,
                                .request25 = Request25::HighSpeed,
                                .chooser = &Choose2103};
constexpr OldFamily k2008Family{.rows = k2008Rows,
                                .fixed = k2008Pixels,
                                .leftDivisor = 0,
                                .lineMultiple = 4,
                                .divisor = Divisor::ChannelLines,
                                .pitch = Pitch::OwnSensor,
                                .singleBuffer = false,
                                .strideIsPitch = true,
                                .rearOffDoublesFront = false,
                                .request25 = Request25::FromRow,
                                .chooser = &ChooseOnly0};
constexpr OldFamily k1005Family{.rows = k1005Rows,
                                .fixed = k1005Pixels,
                                .leftDivisor = 0,
                                .lineMultiple = 4,
                                .divisor = Divisor::None,
                                .pitch = Pitch::EnabledSensors,
                                .singleBuffer = true,
                                .strideIsPitch = true,
                                .rearOffDoublesFront = true,
                                .request25 = Request25::FromRow,
                                .chooser = &ChooseOnly0};

// Which table a firmware version uses. Every version outside is unsupported
// (0x3000 itself, 0x2200, 0x2208 and 0x2209 among them).
struct FamilyRange {
    std::uint16_t low;
    std::uint16_t high;
    const OldFamily* family;   // null: the main family
    bool above216547 = false;  // only for serial low above 216547
};
constexpr FamilyRange kFamilies[] = {
    {0x3001, 0xFFFF, nullptr},
    {0x2205, 0x2207, &k2205Family},
    {0x2201, 0x2204, &k2201Family},
    {0x2104, 0x21FF, &k2104Family},
    {0x2103, 0x2103, &k2104Family, true},
    {0x2103, 0x2103, &k2103Family},
    {0x2008, 0x2009, &k2008Family},
    {0x1005, 0x1005, &k1005Family},
    {0x1007, 0x1007, &k1005Family},
};

constexpr std::int32_t kSerialLow2103Limit = 216547;

const FamilyRange* FamilyOf(const DeviceIdentity& id) {
    for (const FamilyRange& f : kFamilies) {
        if (id.firmware < f.low || id.firmware > f.high) continue;
        if (f.above216547 && id.serialLow <= kSerialLow2103Limit) continue;
        return &f;
    }
    return nullptr;
}

Conditions ConditionsOf(const ModeInputs& in) {
    return {.highSpeed = in.id.highSpeed,
            .strip = in.request.cmc7Strip,
            .colour = IsColour(in),
            .backlight = in.scan.backlightOn,
            .bit22 = in.id.capabilities.ConfigurationBit(22)};
}

std::uint16_t Truncated(int dpi, int hundredthsOfInch) {
    return static_cast<std::uint16_t>(dpi * hundredthsOfInch / 100);
}

// ---- The tables ---------------------------------------------------------------

KVXResult RunMainTable(ModeInputs& in, int mode, AcqModeRecord& out) {
    AcqModeSettings& acq = in.scan.acq;
    const DeviceIdentity& id = in.id;
    const bool pid11 = IsPid(id, 11);
    const bool pid14 = IsPid(id, 14);
    const bool frontOn = !in.scan.frontOff;
    const bool rearOn = !in.scan.rearOff;
    const bool backlight = in.scan.backlightOn;
    const bool strip = in.request.cmc7Strip;

    acq.singleBuffer = true;
    acq.firstLineFront = 1;
    acq.firstLineRear = 1;
    acq.lineMultiple = (!frontOn || !rearOn || pid14) ? 16 : 8;

    in.triedMode = mode;
    bool allDisabled = false;
    out.disabled = pid11 ? Pid11DisabledModes(in, &allDisabled) : MainDisabledModes(in);
    if (!acq.forced) {
        if (acq.channelLines < 1 || acq.channelLines > 5) {
            acq.channelLines = 1;
            acq.colourChannels = 1;
        } else if (acq.colourChannels != 1 && acq.colourChannels != 3) {
            const ColourRequest c = ColourOf(in.scan.color);
            acq.colourChannels = 1;
            acq.channelLines = static_cast<std::uint8_t>(1 + c.infrared + c.ultraviolet);
        }
        mode = ChooseAcqMode(in);
        in.triedMode = mode;
    } else {
        // Every PID 11 mode masked: the forced mode is refused as a device
        // this software cannot drive.
        if (pid11 && allDisabled) return KVX_ERR_SW_UNSUPPORTED;
        if (mode < 0 || mode > 7 || out.disabled[static_cast<std::size_t>(mode)])
            return KVX_ERR_INV_PARAMETER;
    }
    if (mode < 0 || mode > 7) return KVX_ERR_INV_PARAMETER;
    const MainRow& row = kMainModes[mode];
    if (!Meets(pid11 ? row.needsPid11 : row.needs, ConditionsOf(in))) return KVX_ERR_INV_PARAMETER;

    acq.mode = static_cast<std::uint8_t>(mode);
    acq.resolutionCode = row.resolutionCode;
    acq.lineCode = row.lineCode;
    const std::uint16_t dpiH = ResolutionOf(row.resolutionCode).front;
    const int divisor = pid11 ? acq.channelLines : acq.colourChannels;
    const auto dpiV = static_cast<std::uint16_t>(LinesPerInch(row.lineCode, id.firmware) / divisor);
    auto& g = out.geometry;
    for (SideGeometry& s : g) s.dpiH = dpiH;
    g[kRear].dpiV = dpiV;
    g[kFront].dpiV = dpiV;
    if (backlight) {
        g[kBacklight].dpiV = g[id.capabilities.backlightSide == kRear ? kRear : kFront].dpiV;
        acq.lineMultiple *= 2;
    }

    const MicrHead& head = id.capabilities.micr;
    if (strip) {
        out.magneticRatio = (frontOn && rearOn) ? head.ratioBothSides : head.ratioOneSide;
        out.stripBytes = static_cast<std::uint16_t>(out.magneticRatio * acq.channelLines);
    } else {
        out.magneticRatio = 0;
        out.stripBytes = 0;
    }

    for (int side : {kRear, kFront, kBacklight}) {
        SideGeometry& s = g[static_cast<std::size_t>(side)];
        s.left = 0;
        s.width = Truncated(s.dpiH, pid14 ? 432 : 864);
        if (strip && head.flag1) {
            // The head image width comes from the device's MICR block; a
            // value wider than the sensor is no width the device can stream,
            // and would overflow the 16-bit stride.
            const int headWidth = head.imageWidth300 * s.dpiH / 300;
            s.width = static_cast<std::uint16_t>(std::min<int>(headWidth, s.width));
            acq.lineMultiple = 16;
        }
        // Per record, as the device counts it: the backlight alone ends at
        // 16 x 2 x 2 x 2 = 128.
        if (backlight) acq.lineMultiple *= 2;
        s.sensorPixels = s.width;
    }

    const SideGeometry& front = g[kFront];
    const SideGeometry& rear = g[kRear];
    const int pitch = (frontOn ? front.sensorPixels : 0) + (rearOn ? rear.sensorPixels : 0);
    const int stride = (frontOn ? front.channels * front.sensorPixels : 0) +
                       (rearOn ? rear.channels * rear.sensorPixels : 0) +
                       (backlight ? g[kBacklight].sensorPixels : 0);
    for (SideGeometry& s : g) {
        s.channelPitch = static_cast<std::uint16_t>(pitch);
        s.stride = static_cast<std::uint16_t>(stride);
    }
    return KVX_OK;
}

KVXResult RunOldTable(ModeInputs& in, const OldFamily& family, int mode, AcqModeRecord& out) {
    AcqModeSettings& acq = in.scan.acq;
    const DeviceIdentity& id = in.id;
    const bool rearOn = !in.scan.rearOff;
    if (!acq.forced) mode = family.chooser(in);
    in.triedMode = mode;

    const Speed speed = id.highSpeed ? Speed::High : Speed::Full;
    const OldRow* row = nullptr;
    for (const OldRow& r : family.rows)
        if (r.speed == speed && r.mode == mode && id.firmware <= r.maxFirmware) row = &r;
    if (row == nullptr || !Meets(row->needs, ConditionsOf(in))) return KVX_ERR_INV_PARAMETER;

    acq.mode = static_cast<std::uint8_t>(mode);
    acq.singleBuffer = family.singleBuffer;
    acq.firstLineFront = 1;
    acq.firstLineRear = 1;
    acq.resolutionCode = row->resolutionCode;
    acq.lineCode = (!rearOn && row->lineCodeRearOff != 0) ? row->lineCodeRearOff : row->lineCode;
    acq.request25 = family.request25 == Request25::HighSpeed ? id.highSpeed : row->request25;
    acq.lineMultiple = row->lineMultiple != 0 ? row->lineMultiple : family.lineMultiple;

    const ResolutionCode res = ResolutionOf(row->resolutionCode);
    const int lines = LinesPerInch(acq.lineCode, id.firmware);
    const int divisor = family.divisor == Divisor::ChannelLines     ? acq.channelLines
                        : family.divisor == Divisor::ColourChannels ? acq.colourChannels
                                                                    : 1;
    auto& g = out.geometry;
    g[kFront].dpiH = res.front;
    g[kRear].dpiH = res.rear;
    g[kFront].dpiV = static_cast<std::uint16_t>(lines / divisor);
    g[kRear].dpiV = static_cast<std::uint16_t>(lines / divisor);
    if (family.rearOffDoublesFront && !rearOn)
        g[kFront].dpiV = static_cast<std::uint16_t>(2 * lines / divisor);

    const FixedPixels* fixed = nullptr;
    for (const FixedPixels& f : family.fixed)
        if (f.resolutionCode == row->resolutionCode) fixed = &f;
    for (int side : {kRear, kFront}) {
        SideGeometry& s = g[static_cast<std::size_t>(side)];
        if (fixed != nullptr) {
            const bool isFront = side == kFront;
            s.width = isFront ? fixed->frontWidth : fixed->rearWidth;
            s.sensorPixels = id.highSpeed
                                 ? (isFront ? fixed->frontSensorHigh : fixed->rearSensorHigh)
                                 : (isFront ? fixed->frontSensorFull : fixed->rearSensorFull);
        } else {
            s.width = Truncated(s.dpiH, 864);
            s.sensorPixels = Truncated(s.dpiH, id.highSpeed ? 1024 : 896);
        }
        s.left =
            static_cast<std::int16_t>(family.leftDivisor != 0 ? s.dpiH / family.leftDivisor : 0);
    }
    if (fixed != nullptr && row->lineMultiple == 0) acq.lineMultiple = fixed->lineMultiple;

    for (int side : {kRear, kFront}) {
        SideGeometry& s = g[static_cast<std::size_t>(side)];
        switch (family.pitch) {
            case Pitch::BothSensors:
                s.channelPitch =
                    static_cast<std::uint16_t>(g[kRear].sensorPixels + g[kFront].sensorPixels);
                break;
            case Pitch::EnabledSensors:
                s.channelPitch = static_cast<std::uint16_t>(g[kFront].sensorPixels +
                                                            (rearOn ? g[kRear].sensorPixels : 0));
                break;
            case Pitch::OwnSensor:
                s.channelPitch = s.sensorPixels;
                break;
        }
        s.stride = family.strideIsPitch
                       ? s.channelPitch
                       : static_cast<std::uint16_t>(acq.channelLines * s.channelPitch);
    }
    out.magneticRatio = 0;
    out.stripBytes = 0;
    return KVX_OK;
}

// ---- The default mode --------------------------------------------------------

struct DefaultRow {
    std::uint16_t low;
    std::uint16_t high;
    int highSpeed;
    int fullGrey;
    int fullColour;
    bool unsupported = false;
};
constexpr DefaultRow kDefaults[] = {
    {0x3001, 0xFFFF, 3, 3, 3}, {0x2208, 0x2209, 0, 0, 0, true}, {0x2205, 0x2207, 3, 7, 6},
    {0x2201, 0x2204, 3, 5, 6}, {0x2103, 0x2103, 1, 2, 2},       {0x2101, 0x3000, 1, 2, 1},
    {0x2021, 0x2100, 3, 7, 6}, {0x0000, 0x2020, 0, 0, 0},
};

}  // namespace

void LogUnsupportedVersion(std::uint16_t firmware) {
    LogPairValue("err - ", "This SW version is not supporting this HW version", firmware);
}

int DefaultModeFor(const DeviceIdentity& id, bool colour, bool* unsupported) {
    *unsupported = false;
    for (const DefaultRow& d : kDefaults) {
        if (id.firmware < d.low || id.firmware > d.high) continue;
        if (d.unsupported) {
            *unsupported = true;
            return 0;
        }
        if (id.highSpeed) return d.highSpeed;
        return colour ? d.fullColour : d.fullGrey;
    }
    return 0;
}

DisabledModes MainDisabledModes(const ModeInputs& in) {
    const DeviceIdentity& id = in.id;
    const DeviceCapabilities& caps = id.capabilities;
    const std::uint8_t m = in.scan.disAcqMode;
    const bool colour = IsColour(in);
    DisabledModes f{};
    for (int bit : {1, 2, 3, 4, 6, 7}) f[static_cast<std::size_t>(bit)] = ((m >> bit) & 1) != 0;
    f[5] = true;
    auto allButFor = [&](bool colourScan) {
        f.fill(true);
        if (colourScan)
            f[1] = false;
        else
            f[3] = false;
    };
    if (IsPid(id, 14)) {
        f[2] = f[4] = f[6] = f[7] = true;
        if (colour) f[3] = true;
    }
    if (caps.ConfigurationBit(24) || caps.ConfigurationBit(31)) allButFor(colour);
    if (id.firmware == 0x4010 && caps.inkjetType1) f[4] = f[7] = true;
    if (id.vid == platform::kMainVendor && id.firmware >= 0x5001 && id.firmware <= 0x5004) {
        for (std::uint16_t pid : {3, 4, 8, 9, 14})
            if (id.pid == pid) f[4] = f[5] = true;
    }
    if (caps.ConfigurationBit(22)) f[6] = f[7] = true;
    if (in.slowAcquisition) {
        f.fill(true);
        f[3] = false;
        if (colour) f[1] = false;
    }
    if (in.scan.backlightOn) allButFor(colour);
    f[0] = true;
    return f;
}

DisabledModes Pid11DisabledModes(const ModeInputs& in, bool* allDisabled) {
    const std::uint8_t m = in.scan.disAcqMode;
    DisabledModes f{};
    for (int bit : {0, 1, 2, 3, 7}) f[static_cast<std::size_t>(bit)] = ((m >> bit) & 1) != 0;
    f[4] = f[5] = f[6] = true;
    *allDisabled = f[0] && f[1] && f[2] && f[3] && f[7];
    return f;
}

int ChooseAcqMode(const ModeInputs& in) {
    const FamilyRange* family = FamilyOf(in.id);
    if (family == nullptr) return 0;
    if (family->family == nullptr) return ChooseMain(in);
    return family->family->chooser(in);
}

KVXResult RunModeTable(ModeInputs& in, int mode, AcqModeRecord& out) {
    if (in.id.firmware == 0) {
        LogPair("err - ", "invalid HW version");
        return KVX_ERR_GENERIC;
    }
    const FamilyRange* family = FamilyOf(in.id);
    if (family == nullptr) {
        LogUnsupportedVersion(in.id.firmware);
        return KVX_ERR_SW_UNSUPPORTED;
    }
    if (family->family == nullptr) {
        if (IsPid(in.id, 11)) {
            bool allDisabled = false;
            Pid11DisabledModes(in, &allDisabled);
            if (allDisabled) LogText("all modes disabled");
        }
        return RunMainTable(in, mode, out);
    }
    return RunOldTable(in, *family->family, mode, out);
}

}  // namespace kovran::device
