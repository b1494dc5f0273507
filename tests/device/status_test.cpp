// The status word: its assembly, the remapping of the raw bits, and the
// retries of an invalid word against the simulator on the manual clock.
#include <gtest/gtest.h>

#include "api/frame.h"
#include "api/frame_state.h"
#include "device/connection_fixture.h"
#include "device/status.h"
#include "device/transport.h"
#include "device/utility_commands.h"

namespace kovran::test {
namespace {

using device::AssembleStatus;
using device::RemapStatus;

TEST(StatusWord, TheFlagValueHasItsHighByteFromFw0x3100) {
    const std::array<std::uint8_t, 8> block = {0x03, 0x12, 0x34, 0x56, 0x78, 0, 0, 0};
    EXPECT_EQ(AssembleStatus(block, 0x30FF), 0x00563412u);
    EXPECT_EQ(AssembleStatus(block, 0x3100), 0x78563412u);
}

// A main-family scanner whose configuration reports every status bit.
DeviceIdentity Reporting(std::uint16_t pid = 3) {
    DeviceIdentity id;
    id.vid = 0x7E51;
    id.pid = pid;
    id.firmware = 0x5012;
    DeviceCapabilities& c = id.capabilities;
    c.externalPowerSensing = true;
    c.reportsStatus200 = c.reportsStatus400 = c.reportsStatus800 = true;
    c.reportsStatus40000 = c.reportsStatus80000 = c.reportsStatus100000 = true;
    c.reportsStatus200000 = c.reportsStatus400000 = c.reportsStatus4000000 = true;
    return id;
}

TEST(StatusWord, Remapping) {
    struct Row {
        const char* what;
        std::uint32_t raw;
        std::uint32_t expected;
        void (*change)(DeviceIdentity&);
    };
    const auto none = [](DeviceIdentity&) {};
    const Row rows[] = {
        {"power present: no document bit added", 0x00010002, 0x00010002, none},
        {"no power flag: document bit", 0x00000002, 0x00000006, none},
        {"no sensing: power always", 0x00000002, 0x00010002,
         [](DeviceIdentity& d) { d.capabilities.externalPowerSensing = false; }},
        {"double-sheet sensor 1 moves down", 0x01010002, 0x00810002, none},
        {"sensors 2 and 3 move down", 0x06010002, 0x03010002, none},
        {"flag bit 11 with the second word bit", 0x08010002, 0x04010002, none},
        {"flag bit 11 without it", 0x08010002, 0x00010002,
         [](DeviceIdentity& d) { d.capabilities.reportsStatus4000000 = false; }},
        {"ADF off by the ini", 0x00030002, 0x00010002,
         [](DeviceIdentity& d) { d.capabilities.adfDisabledByIni = true; }},
        {"only the photocell, ADF off: invalid", 0x00020000, 0,
         [](DeviceIdentity& d) { d.capabilities.adfDisabledByIni = true; }},
        {"unreported 0x200 0x400 0x800", 0x00010E02, 0x00010002,
         [](DeviceIdentity& d) {
             d.capabilities.reportsStatus200 = d.capabilities.reportsStatus400 =
                 d.capabilities.reportsStatus800 = false;
         }},
        {"reported 0x200 0x400 0x800", 0x00010E02, 0x00010E02, none},
        {"inkjet type 1 sets 0x8000000", 0x00010002, 0x08010002,
         [](DeviceIdentity& d) { d.capabilities.inkjetType1 = true; }},
        {"without it 0x8000000 is cleared", 0x08010002, 0x00010002,
         [](DeviceIdentity& d) { d.capabilities.reportsStatus4000000 = false; }},
        {"flag bit 2 gives 0x80000", 0x00050002, 0x00090002, none},
        {"flag bit 3 gives 0x100000", 0x00090002, 0x00110002, none},
        {"flag bit 4 gives 0x200000", 0x00110002, 0x00210002, none},
        {"flag bit 5 gives 0x400000", 0x00210002, 0x00410002, none},
        {"flag bit 15 gives 0x40000", 0x80010002, 0x80050002, none},
        {"unreported bit 13", 0x00090002, 0x00010002,
         [](DeviceIdentity& d) { d.capabilities.reportsStatus100000 = false; }},
        {"PID 5 keeps its raw bits", 0x00050002, 0x00050002, [](DeviceIdentity& d) { d.pid = 5; }},
        {"zero stays zero", 0, 0, none},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        DeviceIdentity id = Reporting();
        r.change(id);
        EXPECT_EQ(RemapStatus(r.raw, id), r.expected) << std::hex << RemapStatus(r.raw, id);
    }
}

class StatusTest : public ConnectionTest {};

TEST_F(StatusTest, ElevenInvalidWordsMarkTheDeviceFailed) {
    ASSERT_NE(Open(Default()), -1);
    usb->Device(0).Inject(sim::ZeroStatus{11});
    clock.ClearSleeps();
    EXPECT_EQ(device::ReadStatus(), 0u);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed);
    EXPECT_EQ(Count("Read status returning INVALID value -> retry"), 10);
    EXPECT_EQ(Count("Read status returning INVALID value -> labelling device as invalid"), 1);
    EXPECT_EQ(clock.Sleeps(), std::vector<unsigned>(10, 200));
    // The next guarded call fails, the one after reopens.
    EXPECT_FALSE(DeviceStateCheck());
    EXPECT_TRUE(DeviceStateCheck());
    EXPECT_NE(device::ReadStatus(), 0u);
}

TEST_F(StatusTest, AFewInvalidWordsAreRetried) {
    ASSERT_NE(Open(Default()), -1);
    usb->Device(0).Inject(sim::ZeroStatus{3});
    EXPECT_NE(device::ReadStatus(), 0u);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);
}

TEST_F(StatusTest, TheBusyDeviceRefusesAFeedAndTheFeedCommandsFollowTheFamily) {
    sim::SimulatedScanner& scanner = [&]() -> sim::SimulatedScanner& {
        EXPECT_NE(Open(Default()), -1);
        return usb->Device(0);
    }();
    EXPECT_TRUE(device::SetFeed(device::Feed::Start));
    EXPECT_TRUE(scanner.Inspect([](const sim::ScannerModel& m) { return m.Feeding(); }));
    EXPECT_TRUE(device::FeedRunning());
    EXPECT_TRUE(device::SetFeed(device::Feed::Stop));
    EXPECT_FALSE(scanner.Inspect([](const sim::ScannerModel& m) { return m.Feeding(); }));
    EXPECT_FALSE(device::FeedRunning());

    scanner.ForceStatus(sim::kStatusBusy, 0);
    EXPECT_FALSE(device::SetFeed(device::Feed::Start));
    EXPECT_EQ(LastResult(), KVX_ERR_BUSY);
    EXPECT_EQ(Count("Device is busy"), 1);
}

// The double-sheet bits follow the paper past their sensors (the scans of
// double feeds show them); before a line has moved they are clear.
TEST_F(StatusTest, AScanInProgressMakesTheDeviceBusy) {
    sim::DeviceProfile p = Default();
    p.documents = 0;
    ASSERT_NE(Open(p), -1);
    sim::SimulatedScanner& scanner = usb->Device(0);
    sim::SimDocument doubled = sim::PlaceholderCheques(1).front();
    doubled.doubleSheet = true;
    scanner.LoadFeeder({doubled});
    // The GO command of the 0x3000 family starts the acquisition.
    device::ControlMsg(0xD1, 0x34, nullptr, 0, platform::Direction::In);
    const std::uint32_t word = device::ReadStatus();
    EXPECT_NE(word & device::kStatusBusy, 0u);
    EXPECT_EQ(word & 0x3800000u, 0u) << std::hex << word;
    device::ControlMsg(0xD1, 0x35, nullptr, 0, platform::Direction::In);
    EXPECT_EQ(device::ReadStatus() & (device::kStatusBusy | 0x3800000u), 0u);
}

TEST_F(StatusTest, TheBuzzerSoundsForTheDurationAndStops) {
    ASSERT_NE(Open(Default()), -1);
    sim::SimulatedScanner& scanner = usb->Device(0);
    EXPECT_EQ(device::Buzz(100, 500), KVX_OK);
    EXPECT_EQ(device::Buzz(0, 500), KVX_OK);
    const auto tones = scanner.Inspect([](const sim::ScannerModel& m) { return m.BuzzerTones(); });
    ASSERT_EQ(tones.size(), 1u);
    EXPECT_EQ(tones[0].tone, 100);
    ASSERT_TRUE(tones[0].endMs);
    // The one-byte write is followed by its 1 ms pause.
    EXPECT_GE(*tones[0].endMs - tones[0].startMs, 500);
    EXPECT_LE(*tones[0].endMs - tones[0].startMs, 501);
}

}  // namespace
}  // namespace kovran::test
