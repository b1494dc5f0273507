// The library's mode set-up against the simulated firmware's own table of
// modes: every mode the library sets up, chosen or forced, must be one the
// firmware runs, with the same codes and the same line layout. Two tables
// written apart, so a slip in either shows here.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "api/frame_state.h"
#include "api/log_fixture.h"
#include "api/settings.h"
#include "device/acq_mode.h"
#include "device/device_record.h"
#include "platform/usb_vendors.h"
#include "sim/mode_table_device.h"

namespace kovran::test {
namespace {

struct Model {
    const char* name;
    std::uint16_t firmware;
    std::uint16_t pid = 3;
    std::int32_t serialLow = 100000;
    bool bit22 = false;
    bool mainFamily = false;  // the library also masks modes by policy
};

const Model kModels[] = {
    {"main", 0x5012, 3, 100000, false, true},
    {"PID 11", 0x5012, 11, 100000, false, true},
    {"PID 14", 0x5012, 14, 100000, false, true},
    {"bit 22", 0x5012, 3, 100000, true, true},
    {"0x3001", 0x3001, 4, 100000, false, true},
    {"0x2205", 0x2205},
    {"0x2207", 0x2207},
    {"0x2201", 0x2201},
    {"0x2204", 0x2204},
    {"0x2104", 0x2104},
    {"0x21FF", 0x21FF},
    {"0x2103 new", 0x2103, 3, 216548},
    {"0x2103", 0x2103, 3, 216547},
    {"0x2008", 0x2008},
    {"0x2009", 0x2009},
    {"0x1005", 0x1005},
    {"0x1007", 0x1007},
};

struct Scan {
    int color;  // the settings' colour value
    bool frontOn;
    bool rearOn;
    bool backlight;
};

class ModeTableAgreement : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        Ini("[General]\nLog=0\n");
        StartAtLoad();
        InstallImageHooks({});
    }

    void Prepare(const Model& m, bool highSpeed, const Scan& s) {
        DeviceIdentity id;
        id.vid = platform::kMainVendor;
        id.pid = m.pid;
        id.firmware = m.firmware;
        id.serialLow = m.serialLow;
        id.highSpeed = highSpeed;
        id.wBlock = highSpeed ? 512 : 64;
        if (m.bit22) id.capabilities.configuration |= 1u << 22;
        device::SetIdentity(id);
        Settings().scan = Settings().scanIni;
        Settings().scan.color = s.color;
        Settings().scan.frontOff = !s.frontOn;
        Settings().scan.rearOff = !s.rearOn;
        Settings().scan.backlightOn = s.backlight;
        device::AcqMode() = AcqModeRecord{};
    }

    sim::DeviceModeRequest Request(const Model& m, bool highSpeed, const Scan& s, int mode) const {
        const device::ColourRequest c = device::ColourOf(s.color);
        return {.firmware = m.firmware,
                .pid = m.pid,
                .serialLow = m.serialLow,
                .highSpeed = highSpeed,
                .bit22 = m.bit22,
                .colour = c.colour,
                .infrared = c.infrared,
                .ultraviolet = c.ultraviolet,
                .frontOn = s.frontOn,
                .rearOn = s.rearOn,
                .backlight = s.backlight,
                .mode = mode};
    }

    // What differs between the library's set-up and the firmware's stream.
    static std::string Differences(const sim::DeviceStream& d) {
        const AcqModeSettings& acq = Settings().scan.acq;
        const AcqModeRecord& rec = device::AcqMode();
        const SideGeometry& front = rec.geometry[kFront];
        const SideGeometry& rear = rec.geometry[kRear];
        std::ostringstream out;
        auto check = [&](const char* what, long library, long device) {
            if (library != device)
                out << what << " library " << library << " device " << device << "; ";
        };
        check("resolution code", acq.resolutionCode, d.resolutionCode);
        check("line code", acq.lineCode, d.lineCode);
        check("front dpiH", front.dpiH, d.frontDpiH);
        check("rear dpiH", rear.dpiH, d.rearDpiH);
        check("front dpiV", front.dpiV, d.frontDpiV);
        check("rear dpiV", rear.dpiV, d.rearDpiV);
        check("front pixels", front.sensorPixels, d.frontPixels);
        check("rear pixels", rear.sensorPixels, d.rearPixels);
        check("line bytes", front.stride, static_cast<long>(d.lineBytes));
        check("two streams", !acq.singleBuffer, d.twoStreams);
        return out.str();
    }
};

std::vector<Scan> ScansOf(const Model& m) {
    std::vector<Scan> scans;
    for (int color : {1, 2, 0x0A, 0x19})
        for (int sides : {3, 1, 2})
            for (bool backlight : {false, true}) {
                if (backlight && !m.mainFamily) continue;
                scans.push_back({color, (sides & 1) != 0, (sides & 2) != 0, backlight});
            }
    return scans;
}

TEST_F(ModeTableAgreement, EveryForcedModeTheLibraryAcceptsTheFirmwareRuns) {
    int accepted = 0;
    for (const Model& m : kModels)
        for (bool hs : {true, false})
            for (const Scan& s : ScansOf(m))
                for (int mode = 0; mode < 8; ++mode) {
                    Prepare(m, hs, s);
                    Settings().scan.acq.forced = true;
                    Settings().scan.acq.mode = static_cast<std::uint8_t>(mode);
                    const bool library = device::SetUpAcqMode(0);
                    const auto firmware = sim::DeviceModeStream(Request(m, hs, s, mode));
                    const std::string where =
                        std::string(m.name) + (hs ? " high" : " full") + " colour " +
                        std::to_string(s.color) + " front " + std::to_string(s.frontOn) + " rear " +
                        std::to_string(s.rearOn) + " backlight " + std::to_string(s.backlight) +
                        " mode " + std::to_string(mode);
                    if (library) {
                        ++accepted;
                        ASSERT_TRUE(firmware.has_value()) << where << ": the firmware refuses it";
                        EXPECT_EQ(Differences(*firmware), "") << where;
                    } else if (!m.mainFamily) {
                        // No policy masks the older families' modes.
                        EXPECT_FALSE(firmware.has_value())
                            << where << ": the library refuses a mode the firmware runs";
                    }
                }
    EXPECT_GT(accepted, 300);
}

TEST_F(ModeTableAgreement, EveryChosenModeTheFirmwareRuns) {
    for (const Model& m : kModels)
        for (bool hs : {true, false})
            for (const Scan& s : ScansOf(m))
                for (int dpi : {50, 100, 150, 200, 240, 300, 400, 600}) {
                    Prepare(m, hs, s);
                    device::AcqMode().request.requestedDpi = {static_cast<std::int16_t>(dpi),
                                                              static_cast<std::int16_t>(dpi), 0};
                    if (!device::SetUpAcqMode(0)) continue;  // the chooser has no fallback
                    const int mode = Settings().scan.acq.mode;
                    const auto firmware = sim::DeviceModeStream(Request(m, hs, s, mode));
                    const std::string where = std::string(m.name) + (hs ? " high" : " full") +
                                              " colour " + std::to_string(s.color) + " dpi " +
                                              std::to_string(dpi) + " mode " + std::to_string(mode);
                    ASSERT_TRUE(firmware.has_value())
                        << where << ": the firmware refuses the chosen mode";
                    EXPECT_EQ(Differences(*firmware), "") << where;
                }
}

}  // namespace
}  // namespace kovran::test
