// The connection against the simulator: one device of every firmware
// family opens with its version, its identity line and its capabilities;
// the 0x3000-family version block of FW 0x2207; the reopen keeps what the
// open learned; the log's move repeats the identity line.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "KovranMS.h"
#include "api/frame.h"
#include "api/log.h"
#include "device/connection_fixture.h"
#include "device/counters.h"
#include "device/status.h"
#include "device/transport.h"
#include "sim/profile_parser.h"
#include "support/hosted_library.h"

namespace kovran::test {
namespace {

using device::Identity;

class FamiliesTest : public ConnectionTest {};

TEST_F(FamiliesTest, EveryFamilyProfileOpensWithItsFirmwareAndCapabilities) {
    std::vector<sim::DeviceProfile> profiles;
    std::string error;
    ASSERT_TRUE(sim::LoadProfileFile(SourceDir() + "/data/sim/families.profile", &profiles, &error))
        << error;
    struct Expected {
        std::uint16_t firmware;
        const char* identity;  // the identity line
        bool micr;
        bool backlight;
        bool inkjet1;
        bool inkjet2;
    };
    const Expected expected[] = {
        {0x5012, "pid 0003, ser.num. 300001, ver. 5012, 12V, hs", true, false, false, false},
        {0x5010, "pid 000b, ser.num. 110001, ver. 5010, 12V, hs", true, false, false, false},
        {0x5012, "pid 000e, ser.num. 140001, ver. 5012, 12V, CIS 16, hs", false, true, false,
         false},
        {0x4012, "pid 0004, ser.num. 400001, ver. 4012, 12V, hs", false, false, true, false},
        {0x5012, "pid 0008, ser.num. 800001, ver. 5012, 12V, hs", false, false, false, true},
        {0x3107, "pid 0009, ser.num. 900001, ver. 3107, 12V, fs", false, false, false, false},
        {0x2206, "pid 0009, ser.num. 220601, ver. 2206, 5V, hs", false, false, false, false},
        {0x2203, "pid 0005, ser.num. 220301, ver. 2203, 5V, hs", false, false, false, false},
        {0x2110, "pid 0004, ser.num. 211001, ver. 2110, 5V, hs", false, false, false, false},
        {0x2103, "pid 0008, ser.num. 210301, ver. 2103, 12V, hs", false, false, false, false},
        {0x2009, "pid 0003, ser.num. 200901, ver. 2009, 5V, hs", false, false, false, false},
        {0x1005, "pid 0003, ser.num. 100501, ver. 1005, 12V, hs", false, false, false, false},
        {0x1007, "pid 0005, ser.num. 100701, ver. 1007, 12V, hs", false, false, false, false},
    };
    ASSERT_EQ(profiles.size(), std::size(expected));
    Plug(profiles);
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        SCOPED_TRACE(profiles[i].name);
        const int handle = device::InitializeDevice("", static_cast<int>(i), nullptr);
        ASSERT_NE(handle, -1) << LogBytes();
        const DeviceIdentity id = Identity();
        EXPECT_EQ(id.firmware, expected[i].firmware);
        EXPECT_EQ(device::IdentityLine(), expected[i].identity);
        EXPECT_EQ(Count(expected[i].identity), 1);
        EXPECT_EQ(id.capabilities.micr.usable, expected[i].micr);
        EXPECT_EQ(id.capabilities.backlight, expected[i].backlight);
        EXPECT_EQ(id.capabilities.inkjetType1, expected[i].inkjet1);
        EXPECT_EQ(id.capabilities.inkjetType2, expected[i].inkjet2);
        EXPECT_NE(device::ReadStatus(), 0u) << "usable after the open";
        device::CloseDevice();
    }
    EXPECT_EQ(Count("Device with invalid ver"), 0);
    EXPECT_EQ(Count("micr disabled in full speed"), 1);
}

TEST_F(FamiliesTest, Fw2207WithThe3000VersionBlockBecomesIt) {
    sim::DeviceProfile p = Default();
    p.firmware = 0x2207;
    p.fw3000Version = 0x3005;
    p.configWord = 2;
    p.serial = "600001";
    ASSERT_NE(Open(p), -1);
    EXPECT_EQ(Identity().firmware, 0x3005);
    device::CloseDevice();

    // Early units of PIDs 3 and 9 stay in their family.
    p.serial = "284959";
    ASSERT_NE(Open(p), -1);
    EXPECT_EQ(Identity().firmware, 0x2207);
    EXPECT_EQ(Count("forcing not 0x3000 or above FW; read 0x3005"), 1) << LogBytes();
    device::CloseDevice();

    // Without the block (the device refuses the command) the version stays.
    p.fw3000Version.reset();
    p.serial = "600002";
    ASSERT_NE(Open(p), -1);
    EXPECT_EQ(Identity().firmware, 0x2207);
    EXPECT_NE(device::ReadStatus(), 0u);
}

class Fw3000OffTest : public ConnectionTest {
  protected:
    Fw3000OffTest() { ini = "fw3000=0\n"; }
};

TEST_F(Fw3000OffTest, TheIniKeyKeepsFw2207) {
    sim::DeviceProfile p = Default();
    p.firmware = 0x2207;
    p.fw3000Version = 0x3005;
    p.serial = "600001";
    ASSERT_NE(Open(p), -1);
    EXPECT_EQ(Identity().firmware, 0x2207);
}

TEST_F(FamiliesTest, AReopenKeepsWhatTheOpenLearned) {
    ASSERT_NE(Open(Default()), -1);
    const DeviceIdentity before = Identity();
    ASSERT_TRUE(before.capabilities.micr.usable);
    Frame().deviceState.store(DeviceState::Lost);
    ASSERT_TRUE(DeviceStateCheck());
    const DeviceIdentity after = Identity();
    EXPECT_EQ(after.firmware, before.firmware);
    EXPECT_EQ(after.capabilities.configuration, before.capabilities.configuration);
    EXPECT_TRUE(after.capabilities.micr.usable);
    EXPECT_EQ(after.capabilities.feature, before.capabilities.feature);
    EXPECT_EQ(after.highSpeed, before.highSpeed);
}

TEST_F(FamiliesTest, TheCloseOfTheLastOpenForgetsTheDevice) {
    const int handle = Open(Default());
    ASSERT_NE(handle, -1);
    EXPECT_EQ(device::InitializeDevice("", -1, nullptr), handle);
    EXPECT_EQ(device::Connection().openCount.load(), 2u);
    device::CloseDevice();
    EXPECT_EQ(Frame().currentHandle.load(), handle);
    device::CloseDevice();
    EXPECT_EQ(Frame().currentHandle.load(), kNoHandle);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::None);
    EXPECT_EQ(Count("device closed"), 2);
}

TEST_F(FamiliesTest, ResetStopsTheFeedOnlyForTheHandleThatHoldsTheDevice) {
    const int handle = Open(Default());
    ASSERT_NE(handle, -1);
    sim::SimulatedScanner& scanner = usb->Device(0);
    const auto feeding = [&] {
        return scanner.Inspect([](const sim::ScannerModel& m) { return m.Feeding(); });
    };
    ASSERT_TRUE(device::SetFeed(device::Feed::Start));
    EXPECT_EQ(device::ResetDevice(handle + 1), KVX_ERR_GENERIC);
    EXPECT_TRUE(feeding());
    EXPECT_EQ(device::ResetDevice(handle), KVX_OK);
    EXPECT_FALSE(feeding());
    EXPECT_FALSE(device::FeedRunning());
}

TEST_F(FamiliesTest, AMovedLogRepeatsTheIdentityLine) {
    ASSERT_NE(Open(Default()), -1);
    const std::string moved = dir / "moved";
    std::filesystem::create_directories(moved);
    ASSERT_TRUE(SetConfigDir(moved.c_str()));
    LogStart(LogStartForm::Reinit);
    const std::string log = LogBytes();
    const std::size_t at = log.find("log moved");
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_NE(log.find(device::IdentityLine(), at), std::string::npos) << log;
}

// The last result is one for the whole library, and an acquisition thread
// writes it when it ends: a command that the firmware refuses during an
// open (the old-form version read of register-form firmware) must not take
// the device with it when such a write lands in between.
TEST_F(FamiliesTest, AnOpenIsNeverLostToALastResultWrittenByAnotherThread) {
    const int handle = Open(Default());
    ASSERT_NE(handle, -1);
    std::atomic<bool> stop{false};
    std::thread acquisitionEnding([&] {
        while (!stop.load()) KVXSetLastResult(KVX_OK);
    });
    for (int i = 0; i < 10; ++i) {
        KVXClose(handle);
        const int again = KVXInitialize(nullptr);
        EXPECT_EQ(again, handle) << LogBytes();
        if (again != handle) break;
    }
    stop.store(true);
    acquisitionEnding.join();
    EXPECT_EQ(Count("Device with invalid ver"), 0);
}

// A host thread polling the status, the identity and the counters while
// another closes the device: every call ends with a value, none crashes or
// races. (The poll pauses while the device opens: the open rewrites the
// current settings, which the library is not called to share then.)
TEST_F(FamiliesTest, ExportsRunWhileAnotherThreadClosesTheDevice) {
    const int handle = Open(Default());
    ASSERT_NE(handle, -1);
    std::atomic<bool> stop{false};
    std::atomic<bool> pollAllowed{true};
    std::atomic<bool> polling{false};
    std::thread host([&] {
        char text[32];
        std::uint16_t word = 0;
        while (!stop.load()) {
            polling.store(true);
            if (!pollAllowed.load()) {
                polling.store(false);
                continue;
            }
            KVXReadStatusL(handle);
            KVXPagNumTot(handle);
            KVXPagNumCur(handle, 0);
            KVXInkjetNumCur(handle, 0);
            KVXDeviceInfo(handle, &word, &word, &word);
            KVXReadSN(handle, text, sizeof text);
            KVXReadSerialNumber0(handle, sizeof text, text);
            polling.store(false);
        }
    });
    for (int i = 0; i < 10; ++i) {
        KVXClose(handle);
        pollAllowed.store(false);
        while (polling.load()) std::this_thread::yield();
        const int again = KVXInitialize(nullptr);
        pollAllowed.store(true);
        EXPECT_EQ(again, handle) << LogBytes();
        if (again != handle) break;
    }
    stop.store(true);
    host.join();
    EXPECT_EQ(KVXClose(handle), KVX_OK);
}

}  // namespace
}  // namespace kovran::test
