// Finding, identifying, opening and reopening the device.
#include "api/frame.h"
#include "api/frame_state.h"
#include "device/device_record.h"
#include "device/transport.h"
#include "device/transport_fixture.h"
#include "platform/sys_error.h"

namespace kovran::test {
namespace {

using device::EnumerateDevices;
using device::ReadSerialDescriptor;

TEST_F(TransportTest, EnumerationPicksTheIndexthScanner) {
    usb->AddScanner(3, "000111", "1-1");
    usb->AddScanner(7, "000333", "1-2");  // not a scanner of ours
    usb->AddScanner(4, "000222", "1-3");
    FakeNode other;
    other.info = {"\\\\?\\USB#VID_1234&PID_0003#1-4#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}", 0x1234,
                  3};
    usb->nodes.push_back(other);
    usb->AddScanner(0, "000444", "1-5");  // PID 0 is skipped

    ASSERT_TRUE(EnumerateDevices(0, "", -1, true, true));
    EXPECT_EQ(device::Device().pid, 3);
    EXPECT_EQ(device::Device().serialNumber, "000111");
    EXPECT_EQ(device::Device().firmware, device::kFirstGuessFirmware);
    EXPECT_EQ(device::Device().vid, 0x7E51);

    ASSERT_TRUE(EnumerateDevices(0, "", 1, true, true));
    EXPECT_EQ(device::Device().pid, 4);
    EXPECT_EQ(device::Device().path, usb->nodes[2].info.path);
    EXPECT_FALSE(EnumerateDevices(0, "", 2, true, true));

    ASSERT_TRUE(EnumerateDevices(0, "000222", -1, true, true));
    EXPECT_EQ(device::Device().serialNumber, "000222");
    EXPECT_EQ(Count("not opening SN 000111"), 1);
    EXPECT_FALSE(EnumerateDevices(0x1234, "", -1, true, false));
    // The other vendors' back-ends are not part of this build.
    EXPECT_FALSE(EnumerateDevices(0, "", -1, false, false));
}

TEST_F(TransportTest, SerialDescriptorsAreCheckedBeforeUse) {
    FakeNode& node = usb->AddScanner(3, "");
    const std::string path = node.info.path;
    std::string serial = "old";
    auto with = [&](std::vector<std::uint8_t> descriptor) {
        usb->nodes[0].descriptor = std::move(descriptor);
        serial = "old";
        return ReadSerialDescriptor(path, 0x7E51, 3, &serial);
    };
    EXPECT_TRUE(with(FakeUsb::Descriptor(u"123456")));
    EXPECT_EQ(serial, "123456");
    EXPECT_FALSE(with(FakeUsb::Descriptor(u"1234567")));
    EXPECT_EQ(Count("invalid sn string 1234567"), 1);
    EXPECT_EQ(serial, "old");
    EXPECT_FALSE(with({}));
    EXPECT_FALSE(with({10, 3, '1', 0}));  // four bytes: too short
    // The length byte claims more than came: only what arrived counts.
    EXPECT_TRUE(with({64, 3, '1', 0, '2', 0, '3'}));
    EXPECT_EQ(serial, "12");
    // Odd length, and characters outside the code page.
    EXPECT_TRUE(with({7, 3, 'A', 0, 0x3B, 0x04, 'Z'}));
    EXPECT_EQ(serial, "A?");
    // A vanished device has no serial.
    usb->nodes[0].present = false;
    EXPECT_FALSE(ReadSerialDescriptor(path, 0x7E51, 3, &serial));
    EXPECT_EQ(Count("Get serial number"), 1);
}

TEST_F(TransportTest, LongInterfacePathsAreKeptWhole) {
    const std::string location = "1-" + std::string(150, '9');
    usb->AddScanner(3, "000123", location);
    ASSERT_TRUE(EnumerateDevices(0, "", -1, true, true));
    EXPECT_GT(device::Device().path.size(), 127u);
    EXPECT_EQ(device::Device().path, usb->nodes[0].info.path);
    EXPECT_TRUE(device::TestOpen(device::Device().path));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);
}

TEST_F(TransportTest, DeviceVanishingBeforeTheOpenFailsTheTest) {
    usb->AddScanner(3, "000123");
    ASSERT_TRUE(EnumerateDevices(0, "", -1, true, true));
    usb->nodes[0].present = false;
    EXPECT_FALSE(device::TestOpen(device::Device().path));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed);
    EXPECT_GE(Count("Create file returning invalid handle  2"), 1);
    EXPECT_EQ(Count("reopening device - no reopen"), 1);
    EXPECT_FALSE(device::TestOpen(""));
}

TEST_F(TransportTest, OpenRetriesOnceAfterAPause) {
    FakeNode& node = Open(0x3000);
    node.failOpens = 1;
    EXPECT_TRUE(device::OpenDevice(device::Device().path, true));
    EXPECT_EQ(sleeps, std::vector<unsigned>{100});
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);

    // Without the retry flag whatever the system gives, and no state change.
    usb->nodes[0].failOpens = 1;
    Frame().deviceState.store(DeviceState::Lost);
    EXPECT_FALSE(device::OpenDevice(device::Device().path, false));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Lost);
}

TEST_F(TransportTest, UnplugDuringATransferThenReopenThroughTheFrame) {
    Open(0x3000);
    const int handle = 3000000 + device::Device().serialLow % 1000000;
    Frame().currentHandle.store(handle);
    std::array<std::uint8_t, 8> status{};

    usb->ExpectIn(0xC0, 0x04, 3, 8).unplugs = true;
    SetLastResult(0);
    EXPECT_EQ(device::ControlMsg(0xD0, 3, status.data(), 8, true), -1);
    EXPECT_EQ(LastResult(), -14);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed);

    // The next guarded call fails; the one after tries the reopen, which
    // fails while the device is away and succeeds once it is back.
    EXPECT_FALSE(ApiEnter("KVXReadStatusL", Guard::Handle, handle));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Lost);
    EXPECT_FALSE(ApiEnter("KVXReadStatusL", Guard::Handle, handle));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed);
    EXPECT_EQ(Count("reopening device - no reopen"), 1);
    EXPECT_FALSE(ApiEnter("KVXReadStatusL", Guard::Handle, handle));

    usb->nodes[0].present = true;
    EXPECT_TRUE(ApiEnter("KVXReadStatusL", Guard::Handle, handle));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);
    EXPECT_EQ(Count("reopening device  " + device::Device().serialNumber), 1);
    EXPECT_EQ(Count("reopening device - valid device  " + device::Device().serialNumber), 1);
    EXPECT_EQ(device::Device().firmware, 0x3000);

    usb->ExpectIn(0xC0, 0x04, 3, 8);
    EXPECT_EQ(device::ControlMsg(0xD0, 3, status.data(), 8, true), 8);
    ExpectScriptDone();
}

TEST_F(TransportTest, ReopenRules) {
    Open(0x3000);
    device::Device().serialNumber.clear();
    EXPECT_FALSE(device::ReopenDevice());
    EXPECT_EQ(Count("null sn"), 1);
    EXPECT_FALSE(device::Device().reopening.load());

    // Another thread's reopen finishes while this one waits.
    device::Device().serialNumber = OwnSerial();
    device::Device().reopening.store(true);
    Frame().deviceState.store(DeviceState::Lost);
    device::Device().usb.sleep = [this](unsigned ms) {
        sleeps.push_back(ms);
        if (sleeps.size() == 3) {
            Frame().deviceState.store(DeviceState::Open);
            device::Device().reopening.store(false);
        }
    };
    EXPECT_TRUE(device::ReopenDevice());
    EXPECT_EQ(sleeps, std::vector<unsigned>(3, 10));
    EXPECT_EQ(Count("reopen while reopening - device valid"), 1);

    // One that never finishes: 100 waits of 10 ms, then the reopen fails.
    sleeps.clear();
    device::Device().usb.sleep = [this](unsigned ms) { sleeps.push_back(ms); };
    device::Device().reopening.store(true);
    EXPECT_FALSE(device::ReopenDevice());
    EXPECT_EQ(sleeps.size(), 100u);
    EXPECT_EQ(Count("reopen while reopening invalid"), 1);
    device::Device().reopening.store(false);

    // A reopen switches the stripe reader on again (0xD2/5: register 55).
    device::Device().stripeReaderEnabled.store(true);
    usb->ExpectIn(0xC0, 0x0C, 55, 1);
    EXPECT_TRUE(device::ReopenDevice());
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);
    ExpectScriptDone();
}

TEST_F(TransportTest, ChannelAlignmentGivesTheBlockUnit) {
    FakeNode& node = Open(0x3000);
    node.packet = 64;
    ASSERT_TRUE(device::GetChannelAlignment());
    EXPECT_FALSE(device::Device().highSpeed);
    EXPECT_EQ(device::Device().wBlock, 64);
    usb->nodes[0].packet = 512;
    ASSERT_TRUE(device::GetChannelAlignment());
    EXPECT_TRUE(device::Device().highSpeed);
    EXPECT_EQ(device::Device().wBlock, 512);
    usb->nodes[0].present = false;
    EXPECT_FALSE(device::GetChannelAlignment());
    EXPECT_EQ(Count("Get Channel alignment error"), 1);
}

}  // namespace
}  // namespace kovran::test

namespace kovran::test {
namespace {

TEST_F(TransportTest, CompletionPollAndPipeCancel) {
    Open(0x3000);
    device::DeviceHandle dev = device::OpenDevice(device::Device().path, true);
    ASSERT_TRUE(dev);
    std::uint8_t buf[64];
    std::size_t got = 7;
    EXPECT_FALSE(device::WaitOverlapped(*dev, 1450, 0, &got, 10, 100));
    EXPECT_EQ(Count("IoControl  1450"), 1);
    EXPECT_EQ(got, 0u);

    platform::BulkTransferId id = 0;
    const int submitted = dev->SubmitBulk(platform::BulkPipe::In, buf, sizeof buf, &id);
    EXPECT_FALSE(device::WaitOverlapped(*dev, submitted, id, &got, 10, 100));
    EXPECT_EQ(sleeps, std::vector<unsigned>(100, 10));
    EXPECT_EQ(Count("overlapper IoControl timeout"), 1);

    // Still pending: the cancel of the read pipe ends it.
    EXPECT_TRUE(device::CancelPipe(dev.get(), platform::BulkPipe::In));
    EXPECT_FALSE(device::WaitOverlapped(*dev, 0, id, &got, 10, 100));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorOperationAborted);
    EXPECT_FALSE(device::CancelPipe(nullptr, platform::BulkPipe::Out));
}

}  // namespace
}  // namespace kovran::test
