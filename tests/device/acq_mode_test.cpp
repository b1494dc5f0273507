// The acquisition modes: which mode each family chooses for a request, the
// geometry the mode gives, the refusals and their messages. Each case
// models the device by its identity alone (no open), so the rules are seen
// apart from the connection.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "api/frame_state.h"
#include "api/log_fixture.h"
#include "api/settings.h"
#include "device/acq_mode.h"
#include "device/device_record.h"
#include "device/scan_setup.h"
#include "platform/usb_vendors.h"

namespace kovran::test {
namespace {

constexpr int kGrey = 1;
constexpr int kColour = 2;

DeviceIdentity Scanner(std::uint16_t firmware, std::uint16_t pid = 3, bool highSpeed = true) {
    DeviceIdentity id;
    id.vid = platform::kMainVendor;
    id.pid = pid;
    id.firmware = firmware;
    id.serialLow = 100000;
    id.highSpeed = highSpeed;
    id.wBlock = highSpeed ? 512 : 64;
    id.capabilities.feature[6] = firmware > 0x2102;
    id.capabilities.rearCamera = true;
    return id;
}

class AcqModeTest : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        Ini("[General]\nLogTimeStamp=0\n");
        StartAtLoad();
        // The geometry alone: no image records behind the set-up.
        InstallImageHooks({});
        mark_ = LogBytes().size();
    }
    void Use(const DeviceIdentity& id, int colour, int front, int rear) {
        device::SetIdentity(id);
        Settings().scan.color = colour;
        device::AcqMode().request.requestedDpi = {static_cast<std::int16_t>(rear),
                                                  static_cast<std::int16_t>(front), 0};
    }
    std::string Logged() const { return LogBytes().substr(mark_); }
    const AcqModeSettings& Acq() const { return Settings().scan.acq; }
    const SideGeometry& Geometry(int side) const {
        return device::AcqMode().geometry[static_cast<std::size_t>(side)];
    }

  private:
    std::size_t mark_ = 0;
};

// ---- The chooser and the geometry, one row per request -----------------------

struct ModeCase {
    const char* name;
    DeviceIdentity id;
    int colour;
    int front;
    int rear;
    std::function<void()> more;  // further settings of the case
    int mode;
    int resolutionCode;
    int lineCode;
    int dpiH;   // front
    int dpiV;   // front
    int width;  // front
    int pitch;
    int stride;  // front
    int lineMultiple;
};

void Nothing() {}

DeviceIdentity WithBit(DeviceIdentity id, int bit) {
    id.capabilities.configuration |= 1u << bit;
    return id;
}

DeviceIdentity WithHead(DeviceIdentity id, std::uint16_t colourLimit, bool flag1) {
    id.capabilities.micr.greyLineRateLimit = 300;
    id.capabilities.micr.colourResolutionLimit = colourLimit;
    id.capabilities.micr.ratioOneSide = 4;
    id.capabilities.micr.ratioBothSides = 2;
    id.capabilities.micr.imageWidth300 = 1296;
    id.capabilities.micr.flag1 = flag1;
    return id;
}

void Strip() {
    device::AcqMode().request.cmc7Strip = true;
}
void Backlight() {
    Settings().scan.backlightOn = true;
}

std::vector<ModeCase> MainFamilyCases() {
    const DeviceIdentity main = Scanner(0x5012);
    const DeviceIdentity full = Scanner(0x5012, 3, false);
    return {
        {"colour 300 at high speed", main, kColour, 300, 300, Nothing, 1, 17, 1005, 300, 300, 2592,
         5184, 15552, 8},
        {"grey 300", main, kGrey, 300, 300, Nothing, 3, 17, 15, 300, 300, 2592, 5184, 5184, 8},
        {"grey 200", main, kGrey, 200, 200, Nothing, 7, 18, 1001, 200, 200, 1728, 3456, 3456, 8},
        // Mode 0 is reached only in the second pass.
        {"grey 600", main, kGrey, 600, 600, Nothing, 3, 17, 15, 300, 300, 2592, 5184, 5184, 8},
        {"colour 200", main, kColour, 200, 200, Nothing, 6, 18, 1003, 200, 200, 1728, 3456, 10368,
         8},
        {"colour 200 with bit 22", WithBit(main, 22), kColour, 200, 200, Nothing, 2, 17, 1003, 300,
         200, 2592, 5184, 15552, 8},
        {"grey 200 with bit 22", WithBit(main, 22), kGrey, 200, 200, Nothing, 4, 17, 1001, 300, 200,
         2592, 5184, 5184, 8},
        {"PID 14 grey 300", Scanner(0x5012, 14), kGrey, 300, 300, Nothing, 3, 17, 15, 300, 300,
         1296, 2592, 2592, 16},
        {"PID 14 grey 200: modes 4 and 7 off", Scanner(0x5012, 14), kGrey, 200, 200, Nothing, 3, 17,
         15, 300, 300, 1296, 2592, 2592, 16},
        {"front only", main, kGrey, 300, 300, [] { Settings().scan.rearOff = true; }, 3, 17, 15,
         300, 300, 2592, 2592, 2592, 16},
        {"backlight grey", main, kGrey, 300, 300, Backlight, 3, 17, 15, 300, 300, 2592, 5184, 7776,
         128},
        {"backlight colour", main, kColour, 300, 300, Backlight, 1, 17, 1005, 300, 300, 2592, 5184,
         18144, 128},
        {"backlight colour, front off: starts at 16", main, kColour, 300, 300,
         [] {
             Backlight();
             Settings().scan.frontOff = true;
         },
         1, 17, 1005, 300, 300, 2592, 2592, 7776 + 2592, 256},
        {"strip colour, head colour limit 100", WithHead(main, 100, false), kColour, 300, 300,
         Strip, 3, 17, 15, 300, 100, 2592, 5184, 15552, 8},
        {"strip grey, head flag 1", WithHead(main, 100, true), kGrey, 300, 300, Strip, 3, 17, 15,
         300, 300, 1296, 2592, 2592, 16},
        {"strip, head flag 1 and backlight", WithHead(main, 100, true), kGrey, 300, 300,
         [] {
             Strip();
             Backlight();
         },
         3, 17, 15, 300, 300, 1296, 2592, 2592 + 1296, 32},
        // The strip limits n to the grey line-rate limit: 600 dpi grey is 300.
        {"strip grey 600", WithHead(main, 100, false), kGrey, 600, 600, Strip, 3, 17, 15, 300, 300,
         2592, 5184, 5184, 8},
        // A reading need raises the horizontal resolution past mode 7.
        {"grey 200 with a 300 dpi reading", main, kGrey, 200, 200,
         [] { device::AcqMode().request.readingNeeds[kFront].dpiH = 300; }, 4, 17, 1001, 300, 200,
         2592, 5184, 5184, 8},
        {"reading needs ignored while calibrating", main, kGrey, 200, 200,
         [] {
             device::AcqMode().request.readingNeeds[kFront].dpiH = 300;
             device::AcqMode().request.kind = ScanKind::Calibration;
         },
         7, 18, 1001, 200, 200, 1728, 3456, 3456, 8},
        {"colour 300 at full speed", full, kColour, 300, 300, Nothing, 2, 17, 1003, 300, 200, 2592,
         5184, 15552, 8},
        // Modes 1 and 2 masked: the second pass ignores the mask.
        {"second pass", full, kColour, 300, 300, [] { Settings().scan.disAcqMode = 0x06; }, 2, 17,
         1003, 300, 200, 2592, 5184, 15552, 8},
        {"slow acquisition colour 200", main, kColour, 200, 200,
         [] {
             device::UpdateIdentity(
                 [](DeviceIdentity& id) { id.capabilities.slowAcquisition = true; });
         },
         1, 17, 1005, 300, 300, 2592, 5184, 15552, 8},
        {"configuration bit 24, grey 100", WithBit(main, 24), kGrey, 100, 100, Nothing, 3, 17, 15,
         300, 300, 2592, 5184, 5184, 8},
        {"0x5002 PID 3 grey 100 with bit 22", WithBit(Scanner(0x5002), 22), kGrey, 100, 100,
         Nothing, 3, 17, 15, 300, 300, 2592, 5184, 5184, 8},
        {"0x4010 inkjet type 1 grey 100",
         [] {
             DeviceIdentity id = Scanner(0x4010);
             id.capabilities.inkjetType1 = true;
             return id;
         }(),
         kGrey, 100, 100, Nothing, 3, 17, 15, 300, 300, 2592, 5184, 5184, 8},
        {"DisAcqMode bit 7, grey 100", main, kGrey, 100, 100,
         [] { Settings().scan.disAcqMode = 0x80; }, 4, 17, 1001, 300, 200, 2592, 5184, 5184, 8},
        // PID 11 divides the line rate by the channel lines.
        {"PID 11 grey 200", Scanner(0x5012, 11), kGrey, 200, 200, Nothing, 7, 18, 1001, 200, 200,
         1728, 3456, 3456, 8},
        {"PID 11 colour 300", Scanner(0x5012, 11), kColour, 300, 300, Nothing, 1, 17, 1005, 300,
         300, 2592, 5184, 15552, 8},
        {"PID 11 colour with infrared", Scanner(0x5012, 11), kColour | 0x08, 300, 300, Nothing, 1,
         17, 1005, 300, 225, 2592, 5184, 20736, 8},
        {"PID 11 grey 600 at high speed", Scanner(0x5012, 11), kGrey, 600, 600, Nothing, 0, 1010,
         1003, 600, 600, 5184, 10368, 10368, 8},
    };
}

std::vector<ModeCase> OlderFamilyCases() {
    auto serial = [](DeviceIdentity id, std::int32_t low) {
        id.serialLow = low;
        return id;
    };
    return {
        // 0x2205 to 0x2207: left dpiH / 25, sensor 10.24 inches at high speed.
        {"0x2205 grey 300 high speed", Scanner(0x2205), kGrey, 300, 300, Nothing, 3, 17, 15, 300,
         300, 2592, 6144, 6144, 1},
        {"0x2205 grey 600 high speed", Scanner(0x2206), kGrey, 600, 600, Nothing, 0, 1010, 1003,
         600, 600, 5184, 12288, 12288, 1},
        {"0x2205 colour 200 high speed", Scanner(0x2207), kColour, 200, 200, Nothing, 2, 17, 1003,
         300, 200, 2592, 6144, 18432, 1},
        {"0x2205 colour 300 high speed", Scanner(0x2207), kColour, 300, 300, Nothing, 4, 17, 1005,
         300, 300, 2592, 6144, 18432, 1},
        {"0x2205 grey 200 full speed", Scanner(0x2205, 3, false), kGrey, 200, 200, Nothing, 7, 18,
         1001, 200, 200, 1728, 3584, 3584, 1},
        {"0x2205 colour 150 full speed", Scanner(0x2205, 3, false), kColour, 150, 150, Nothing, 6,
         18, 1002, 200, 83, 1728, 3584, 10752, 1},
        {"0x2205 grey 300, rear 100: mode 4", Scanner(0x2205, 3, false), kGrey, 300, 100, Nothing,
         4, 19, 1002, 300, 250, 2592, 2688 + 896, 2688 + 896, 3},
        {"0x2205 grey 300 full speed", Scanner(0x2205, 3, false), kGrey, 300, 300, Nothing, 5, 17,
         14, 300, 150, 2592, 5376, 5376, 1},
        // 0x2201 to 0x2204: left dpiH / 20, mode 1 for colour above 600.
        {"0x2201 colour 300 high speed", Scanner(0x2201), kColour, 300, 300, Nothing, 1, 17, 1004,
         300, 233, 2592, 6144, 18432, 1},
        {"0x2203 grey 200 full speed", Scanner(0x2203, 3, false), kGrey, 200, 200, Nothing, 7, 18,
         1001, 200, 200, 1728, 3584, 3584, 1},
        {"0x2204 has no mode 7", Scanner(0x2204, 3, false), kGrey, 200, 200, Nothing, 5, 17, 14,
         300, 150, 2592, 5376, 5376, 1},
        // 0x2104 to 0x21FF, and 0x2103 above serial 216547.
        {"0x2104 grey 300 high speed", Scanner(0x2104), kGrey, 300, 300, Nothing, 0, 17, 15, 300,
         300, 2592, 6144, 6144, 2},
        {"0x2104 grey 100 high speed", Scanner(0x2104), kGrey, 100, 100, Nothing, 1, 17, 26, 300,
         225, 2592, 6144, 6144, 2},
        {"0x210A line code 26 is 250", Scanner(0x210A), kGrey, 100, 100, Nothing, 1, 17, 26, 300,
         250, 2592, 6144, 6144, 2},
        {"0x2104 full speed no needs", Scanner(0x2104, 3, false), kGrey, 300, 300, Nothing, 5, 18,
         26, 200, 225, 1728, 3584, 3584, 2},
        {"0x2104 full speed rear reading 150", Scanner(0x2104, 3, false), kGrey, 100, 100,
         [] { device::AcqMode().request.readingNeeds[kRear].dpiH = 250; }, 2, 17, 14, 300, 150,
         2592, 5376, 5376, 2},
        {"0x2104 front reading 300: mode 6", Scanner(0x2104, 3, false), kGrey, 300, 300,
         [] { device::AcqMode().request.readingNeeds[kFront].dpiH = 300; }, 6, 19, 26, 300, 225,
         2592, 2688 + 896, 2688 + 896, 4},
        {"0x2103 above serial 216547", serial(Scanner(0x2103), 216548), kGrey, 300, 300, Nothing, 0,
         17, 15, 300, 300, 2592, 6144, 6144, 2},
        // 0x2103: the line rate divided by the colour channels only.
        {"0x2103 colour high speed", serial(Scanner(0x2103), 216547), kColour | 0x08, 300, 300,
         Nothing, 1, 17, 26, 300, 75, 2592, 6144, 24576, 2},
        // Two buffers of their own.
        {"0x2008 rear on", Scanner(0x2008), kGrey, 300, 300, Nothing, 0, 17, 14, 300, 150, 2592,
         2592, 2592, 4},
        {"0x2009 rear off", Scanner(0x2009), kGrey, 300, 300,
         [] { Settings().scan.rearOff = true; }, 0, 17, 15, 300, 300, 2592, 2592, 2592, 4},
        {"0x1005 rear on", Scanner(0x1005), kGrey, 300, 300, Nothing, 0, 17, 14, 300, 150, 2592,
         5184, 5184, 4},
        {"0x1007 rear off", Scanner(0x1007), kGrey, 300, 300,
         [] { Settings().scan.rearOff = true; }, 0, 17, 14, 300, 300, 2592, 2592, 2592, 4},
    };
}

void CheckCase(const ModeCase& c, const AcqModeSettings& acq, const SideGeometry& front) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(acq.mode, c.mode);
    EXPECT_EQ(acq.resolutionCode, c.resolutionCode);
    EXPECT_EQ(acq.lineCode, c.lineCode);
    EXPECT_EQ(front.dpiH, c.dpiH);
    EXPECT_EQ(front.dpiV, c.dpiV);
    EXPECT_EQ(front.width, c.width);
    EXPECT_EQ(front.channelPitch, c.pitch);
    EXPECT_EQ(front.stride, c.stride);
    EXPECT_EQ(acq.lineMultiple, c.lineMultiple);
}

TEST_F(AcqModeTest, MainFamilyChoosesAndMeasures) {
    for (const ModeCase& c : MainFamilyCases()) {
        Settings().scan = Settings().scanIni;
        device::AcqMode() = AcqModeRecord{};
        Use(c.id, c.colour, c.front, c.rear);
        c.more();
        ASSERT_TRUE(device::SetUpAcqMode(0)) << c.name << " result " << LastResult();
        EXPECT_EQ(LastResult(), KVX_OK) << c.name;
        CheckCase(c, Acq(), Geometry(kFront));
    }
}

TEST_F(AcqModeTest, OlderFamiliesChooseAndMeasure) {
    for (const ModeCase& c : OlderFamilyCases()) {
        Settings().scan = Settings().scanIni;
        device::AcqMode() = AcqModeRecord{};
        Use(c.id, c.colour, c.front, c.rear);
        c.more();
        ASSERT_TRUE(device::SetUpAcqMode(0)) << c.name << " result " << LastResult();
        CheckCase(c, Acq(), Geometry(kFront));
    }
}

TEST_F(AcqModeTest, WorkedExampleFillsEveryRecordAndTheAcquiredResolution) {
    Use(Scanner(0x5012), kColour, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(0));
    for (int side : {kRear, kFront, kBacklight}) {
        const SideGeometry& g = Geometry(side);
        SCOPED_TRACE(side);
        EXPECT_EQ(g.side, side);
        EXPECT_EQ(g.dpiH, 300);
        EXPECT_EQ(g.width, 2592);
        EXPECT_EQ(g.sensorPixels, 2592);
        EXPECT_EQ(g.channelPitch, 5184);
        EXPECT_EQ(g.stride, 15552);
        EXPECT_EQ(g.left, 0);
        EXPECT_EQ(g.right, 2592);
        EXPECT_EQ(g.width0, 2592);
        EXPECT_EQ(g.top, 1);
        EXPECT_EQ(g.top0, 1);
    }
    EXPECT_EQ(Geometry(kFront).bytesPerPixel, 3);
    EXPECT_EQ(Geometry(kFront).channels, 3);
    EXPECT_EQ(Geometry(kBacklight).bytesPerPixel, 1);
    EXPECT_EQ(Geometry(kBacklight).channels, 1);
    EXPECT_EQ(Acq().colourChannels, 3);
    EXPECT_EQ(Acq().channelLines, 3);
    EXPECT_TRUE(Acq().singleBuffer);
    EXPECT_EQ(Acq().acquiredRes, (std::array<std::uint16_t, 4>{300, 300, 300, 300}));
    EXPECT_EQ(device::AcqMode().magneticRatio, 0);
    EXPECT_EQ(device::AcqMode().stripBytes, 0);
}

TEST_F(AcqModeTest, TheStripTakesTheHeadRatioOfTheSidesOn) {
    Use(WithHead(Scanner(0x5012), 100, false), kColour, 300, 300);
    Strip();
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_EQ(device::AcqMode().magneticRatio, 2);
    EXPECT_EQ(device::AcqMode().stripBytes, 6);
    Settings().scan.rearOff = true;
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_EQ(device::AcqMode().magneticRatio, 4);
    EXPECT_EQ(device::AcqMode().stripBytes, 12);
}

TEST_F(AcqModeTest, AHeadImageWiderThanTheSensorKeepsTheSensorWidth) {
    // A MICR block holding garbage in the head image width: the lines
    // still fit the sensor and the stride its 16 bits.
    DeviceIdentity id = WithHead(Scanner(0x5012), 100, true);
    id.capabilities.micr.imageWidth300 = 30000;
    Use(id, kColour, 300, 300);
    Strip();
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_EQ(Geometry(kFront).width, 2592);
    EXPECT_EQ(Geometry(kFront).stride, 3 * 2 * 2592);
    EXPECT_EQ(Geometry(kFront).channelPitch, 2 * 2592);
}

TEST_F(AcqModeTest, OlderFamilyGeometryOfBothSides) {
    // 0x2205 at full speed, mode 4: 300 dpi front, 100 dpi rear.
    Use(Scanner(0x2205, 3, false), kGrey, 300, 100);
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_EQ(Geometry(kRear).dpiH, 100);
    EXPECT_EQ(Geometry(kRear).width, 864);
    EXPECT_EQ(Geometry(kRear).sensorPixels, 896);
    EXPECT_EQ(Geometry(kRear).left, 4);
    EXPECT_EQ(Geometry(kFront).left, 12);
    EXPECT_FALSE(Acq().request25);
    // High speed mode 3 sends request 25.
    Use(Scanner(0x2205), kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_EQ(Acq().mode, 3);
    EXPECT_TRUE(Acq().request25);
    EXPECT_EQ(Geometry(kFront).sensorPixels, 3072);
    // 0x2201: left dpiH / 20.
    Use(Scanner(0x2201), kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_EQ(Geometry(kFront).left, 15);
    // 0x21xx: request 25 follows the speed.
    Use(Scanner(0x2104), kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_TRUE(Acq().request25);
    Use(Scanner(0x2104, 3, false), kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_FALSE(Acq().request25);
    // 0x2008: two buffers.
    Use(Scanner(0x2008), kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_FALSE(Acq().singleBuffer);
    EXPECT_EQ(Geometry(kRear).stride, 2592);
    // 0x1005: the rear keeps 150 dpi.
    Use(Scanner(0x1005), kGrey, 300, 300);
    Settings().scan.rearOff = true;
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_EQ(Geometry(kRear).dpiV, 150);
    EXPECT_EQ(Geometry(kFront).dpiV, 300);
}

// ---- Forced modes -------------------------------------------------------------

TEST_F(AcqModeTest, ForcingMode0RefusedOnTheMainFamilyAndKeepsTheSettings) {
    Use(Scanner(0x5012), kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(0));
    const AcqModeSettings before = Acq();
    EXPECT_EQ(device::SetAcqModeParameter(0), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(LastResult(), KVX_ERR_INV_PARAMETER);
    EXPECT_FALSE(Acq().forced);
    EXPECT_EQ(Acq().mode, before.mode);
    EXPECT_EQ(Acq().lineCode, before.lineCode);
    // Height 0: nothing logged.
    EXPECT_EQ(Logged().find("Setting invalid Acquisition Mode"), std::string::npos);
}

TEST_F(AcqModeTest, ForcingMode0OnPid11AtHighSpeedInGrey) {
    Use(Scanner(0x5012, 11), kGrey, 300, 300);
    EXPECT_EQ(device::SetAcqModeParameter(0), KVX_OK);
    EXPECT_TRUE(Acq().forced);
    EXPECT_EQ(Acq().mode, 0);
    EXPECT_EQ(Geometry(kFront).dpiH, 600);
    EXPECT_EQ(Geometry(kFront).dpiV, 600);
    // Forced: the next set-up keeps the mode whatever was asked.
    device::AcqMode().request.requestedDpi = {200, 200, 0};
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_EQ(Acq().mode, 0);
    // 8 chooses again.
    EXPECT_EQ(device::SetAcqModeParameter(8), KVX_OK);
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_EQ(Acq().mode, 7);
}

TEST_F(AcqModeTest, ParameterValuesOfDevicesWithoutForcedModes) {
    DeviceIdentity id = Scanner(0x2205);
    id.capabilities.feature[6] = false;
    Use(id, kGrey, 300, 300);
    EXPECT_EQ(device::SetAcqModeParameter(0), KVX_OK);
    EXPECT_EQ(device::SetAcqModeParameter(8), KVX_OK);
    EXPECT_FALSE(Acq().forced);
    for (int v : {1, 3, 7, 9, 0xFFFF})
        EXPECT_EQ(device::SetAcqModeParameter(v), KVX_ERR_INV_PARAMETER) << v;
    Use(Scanner(0x5012), kGrey, 300, 300);
    for (int v : {9, 100, 0xFFFF})
        EXPECT_EQ(device::SetAcqModeParameter(v), KVX_ERR_INV_PARAMETER) << v;
    EXPECT_FALSE(Acq().forced);
}

TEST_F(AcqModeTest, DisabledForcedModeIsRefusedAndLoggedWithAHeight) {
    Use(Scanner(0x5012), kGrey, 300, 300);
    Settings().scan.disAcqMode = 0x08;  // mode 3
    Settings().scan.acq.forced = true;
    Settings().scan.acq.mode = 3;
    EXPECT_FALSE(device::SetUpAcqMode(100));
    EXPECT_EQ(LastResult(), KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Logged().find("err -  Setting invalid Acquisition Mode  3"), std::string::npos)
        << Logged();
    EXPECT_EQ(Acq().acquiredRes, (std::array<std::uint16_t, 4>{100, 100, 100, 100}));
}

TEST_F(AcqModeTest, ModeRefusedByTheTableHasNoFallback) {
    // Colour with the backlight at full speed: the chooser takes mode 1,
    // which needs high speed.
    Use(Scanner(0x5012, 3, false), kColour, 300, 300);
    Backlight();
    EXPECT_FALSE(device::SetUpAcqMode(0));
    EXPECT_EQ(LastResult(), KVX_ERR_INV_PARAMETER);
    // Forcing a colour mode for a grey scan on an older family.
    Use(Scanner(0x2205), kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(0));
    Settings().scan.acq.forced = true;
    EXPECT_FALSE(device::SetAcqMode(0, 2));
    EXPECT_EQ(LastResult(), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(Acq().mode, 3) << "the settings are put back";
    EXPECT_EQ(Acq().lineCode, 15);
    // A mode of the other speed.
    EXPECT_EQ(device::SetAcqModeParameter(5), KVX_ERR_INV_PARAMETER);
}

TEST_F(AcqModeTest, Pid11WithEveryModeMasked) {
    Use(Scanner(0x5012, 11), kGrey, 300, 300);
    Settings().scan.disAcqMode = 0x8F;
    ASSERT_TRUE(device::SetUpAcqMode(0)) << "the chooser still runs";
    EXPECT_EQ(Acq().mode, 3);
    EXPECT_EQ(Count("all modes disabled"), 1);
    Settings().scan.acq.forced = true;
    Settings().scan.acq.mode = 3;
    EXPECT_FALSE(device::SetUpAcqMode(0));
    EXPECT_EQ(LastResult(), KVX_ERR_SW_UNSUPPORTED);
    EXPECT_EQ(Count("err -  This SW version is not supporting this HW version"), 1);
}

// ---- Versions ---------------------------------------------------------------------

TEST_F(AcqModeTest, UnsupportedVersions) {
    for (std::uint16_t fw : {0x2208, 0x2209, 0x3000, 0x2200, 0x2102, 0x1006}) {
        Use(Scanner(fw), kGrey, 300, 300);
        const int before = Count("err -  This SW version is not supporting this HW version  " +
                                 std::to_string(fw));
        EXPECT_FALSE(device::SetUpAcqMode(0)) << fw;
        EXPECT_EQ(LastResult(), KVX_ERR_SW_UNSUPPORTED) << fw;
        // Logged by the table and again by the set-up.
        EXPECT_EQ(Count("err -  This SW version is not supporting this HW version  " +
                        std::to_string(fw)),
                  before + 2)
            << fw;
        EXPECT_EQ(Acq().acquiredRes, (std::array<std::uint16_t, 4>{100, 100, 100, 100}));
    }
    Use(Scanner(0), kGrey, 300, 300);
    EXPECT_FALSE(device::SetUpAcqMode(0));
    EXPECT_EQ(LastResult(), KVX_ERR_SW_UNSUPPORTED);
    EXPECT_EQ(Count("err -  invalid HW version"), 1);
}

TEST_F(AcqModeTest, DefaultModes) {
    struct Row {
        std::uint16_t fw;
        bool highSpeed;
        int colour;
        int mode;
    };
    const Row rows[] = {
        {0x5012, true, kGrey, 3},    {0x3001, false, kColour, 3}, {0x2205, true, kGrey, 3},
        {0x2207, false, kGrey, 7},   {0x2206, false, kColour, 6}, {0x2201, true, kColour, 3},
        {0x2204, false, kGrey, 5},   {0x2202, false, kColour, 6}, {0x2103, true, kGrey, 1},
        {0x2103, false, kColour, 2}, {0x2104, true, kGrey, 1},    {0x2150, false, kGrey, 2},
        {0x3000, false, kColour, 1}, {0x2100, true, kGrey, 3},    {0x2021, false, kGrey, 7},
        {0x2050, false, kColour, 6}, {0x2020, true, kGrey, 0},    {0x1005, false, kGrey, 0},
    };
    for (const Row& r : rows) {
        Use(Scanner(r.fw, 3, r.highSpeed), r.colour, 300, 300);
        SetLastResult(KVX_OK);
        EXPECT_EQ(device::DefaultAcqMode(), r.mode) << std::hex << r.fw;
        EXPECT_EQ(LastResult(), KVX_OK);
    }
    Use(Scanner(0x2208), kGrey, 300, 300);
    EXPECT_EQ(device::DefaultAcqMode(), 0);
    EXPECT_EQ(LastResult(), KVX_ERR_SW_UNSUPPORTED);
}

TEST_F(AcqModeTest, SelectDefaultLeavesTheModeAutomatic) {
    Use(Scanner(0x5012), kGrey, 300, 300);
    EXPECT_TRUE(device::SelectDefaultAcqMode());
    EXPECT_FALSE(Acq().forced);
    EXPECT_EQ(Acq().mode, 3);
    // FW 0x2208: the initialise's set-up fails with -11 and keeps it.
    Use(Scanner(0x2208), kGrey, 300, 300);
    EXPECT_FALSE(device::SelectDefaultAcqMode());
    EXPECT_EQ(LastResult(), KVX_ERR_SW_UNSUPPORTED);
    EXPECT_FALSE(Acq().forced);
}

TEST_F(AcqModeTest, DefaultColourFallsBackToGrey) {
    Use(Scanner(0x5012), 7, 300, 300);
    Settings().scanIni.color = 7;
    device::CheckDefaultColour();
    EXPECT_EQ(Settings().scan.color, kGrey);
    EXPECT_EQ(Settings().scanIni.color, kGrey);
    EXPECT_EQ(Count("err -  invalid color request  7"), 1);
    EXPECT_EQ(Count("err -  invalid default color  7"), 1);
    EXPECT_EQ(Count("default color changed to gray"), 1);
    // Grey with infrared alone is valid.
    Use(Scanner(0x5012), 0x08, 300, 300);
    device::CheckDefaultColour();
    EXPECT_EQ(Settings().scan.color, 0x08);
    EXPECT_EQ(Acq().channelLines, 2);
}

TEST_F(AcqModeTest, AlternativeBackEndsSkipTheTable) {
    DeviceIdentity id = Scanner(0x0100);
    id.alternative = true;
    Use(id, kGrey, 300, 300);
    EXPECT_TRUE(device::SetUpAcqMode(0));
}

}  // namespace
}  // namespace kovran::test
