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
using device::OpenRetry;
using device::ReadSerialDescriptor;
using device::StoreFound;
using device::VendorGroup;

TEST_F(TransportTest, EnumerationPicksTheIndexthScanner) {
    AddScanner(3, "000111", "1-1");
    AddScanner(7, "000333", "1-2");  // not a scanner of ours
    const std::string third = AddScanner(4, "000222", "1-3").Path();
    AddScanner(3, "000555", "1-4", 0x1234);
    AddScanner(0, "000444", "1-5");  // PID 0 is skipped
    // An other vendor's device (its back-end is not part of this build).
    AddScanner(3, "000666", "1-6", platform::kOtherVendors[1]);

    ASSERT_TRUE(EnumerateDevices(0, "", -1, VendorGroup::Main, StoreFound::Yes));
    EXPECT_EQ(device::Identity().pid, 3);
    EXPECT_EQ(device::Identity().serialNumber, "000111");
    EXPECT_EQ(device::Identity().firmware, device::kFirstGuessFirmware);
    EXPECT_EQ(device::Identity().vid, 0x7E51);

    ASSERT_TRUE(EnumerateDevices(0, "", 1, VendorGroup::Main, StoreFound::Yes));
    EXPECT_EQ(device::Identity().pid, 4);
    EXPECT_EQ(device::Identity().path, third);
    EXPECT_FALSE(EnumerateDevices(0, "", 2, VendorGroup::Main, StoreFound::Yes));

    ASSERT_TRUE(EnumerateDevices(0, "000222", -1, VendorGroup::Main, StoreFound::Yes));
    EXPECT_EQ(device::Identity().serialNumber, "000222");
    EXPECT_EQ(Count("not opening SN 000111"), 1);
    EXPECT_FALSE(EnumerateDevices(0x1234, "", -1, VendorGroup::Main, StoreFound::No));
    // The other vendors' back-ends are not part of this build.
    EXPECT_FALSE(EnumerateDevices(0, "", -1, VendorGroup::Others, StoreFound::No));
    // Nothing that was refused was stored.
    EXPECT_EQ(device::Identity().serialNumber, "000222");
}

TEST_F(TransportTest, SerialDescriptorsAreCheckedBeforeUse) {
    std::string path;
    std::string serial = "old";
    sim::SimulatedScanner* scanner = nullptr;
    // A fresh scanner for each descriptor: a profile's descriptor is fixed.
    auto with = [&](std::vector<std::uint8_t> descriptor) {
        sim::DeviceProfile p = sim::DefaultDeviceProfile();
        p.serialDescriptor = std::move(descriptor);
        auto backend = std::make_unique<sim::SimBackend>(std::vector<sim::DeviceProfile>{p});
        scanner = &backend->Device(0);
        path = scanner->Path();
        device::InstallUsbBackend(std::move(backend));
        serial = "old";
        return ReadSerialDescriptor(path, 0x7E51, 3, &serial);
    };
    auto descriptor = [](const std::u16string& text) {
        std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
        for (char16_t c : text) {
            d.push_back(static_cast<std::uint8_t>(c & 0xFF));
            d.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        return d;
    };
    EXPECT_TRUE(with(descriptor(u"123456")));
    EXPECT_EQ(serial, "123456");
    EXPECT_FALSE(with(descriptor(u"1234567")));
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
    scanner->Unplug();
    EXPECT_FALSE(ReadSerialDescriptor(path, 0x7E51, 3, &serial));
    EXPECT_EQ(Count("Get serial number"), 1);
}

TEST_F(TransportTest, LongInterfacePathsAreKeptWhole) {
    const std::string location = "1-" + std::string(150, '9');
    const std::string path = AddScanner(3, "000123", location).Path();
    ASSERT_TRUE(EnumerateDevices(0, "", -1, VendorGroup::Main, StoreFound::Yes));
    EXPECT_GT(device::Identity().path.size(), 127u);
    EXPECT_EQ(device::Identity().path, path);
    EXPECT_TRUE(device::TestOpen(device::Identity().path));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);
}

TEST_F(TransportTest, DeviceVanishingBeforeTheOpenFailsTheTest) {
    sim::SimulatedScanner& scanner = AddScanner(3, "000123");
    ASSERT_TRUE(EnumerateDevices(0, "", -1, VendorGroup::Main, StoreFound::Yes));
    scanner.Unplug();
    EXPECT_FALSE(device::TestOpen(device::Identity().path));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed);
    EXPECT_GE(Count("Create file returning invalid handle  2"), 1);
    EXPECT_EQ(Count("reopening device - no reopen"), 1);
    EXPECT_FALSE(device::TestOpen(""));
}

TEST_F(TransportTest, OpenRetriesOnceAfterAPause) {
    sim::SimulatedScanner& scanner = Open(0x3000);
    scanner.Inject(sim::NotReady{.count = 1, .site = sim::FaultSite::Open});
    EXPECT_TRUE(device::OpenDevice(device::Identity().path, OpenRetry::Yes));
    EXPECT_EQ(Sleeps(), std::vector<unsigned>{100});
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);

    // Without the retry flag whatever the system gives, and no state change.
    scanner.Inject(sim::NotReady{.count = 1, .site = sim::FaultSite::Open});
    Frame().deviceState.store(DeviceState::Lost);
    EXPECT_FALSE(device::OpenDevice(device::Identity().path, OpenRetry::No));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorNotReady);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Lost);
}

TEST_F(TransportTest, UnplugDuringATransferThenReopenThroughTheFrame) {
    sim::SimulatedScanner& scanner = Open(0x3000);
    const int handle = 3000000 + device::Identity().serialLow % 1000000;
    Frame().currentHandle.store(handle);
    std::array<std::uint8_t, 8> status{};

    ExpectIn(0xC0, 0x04, 3, 8).Unplug();
    SetLastResult(0);
    EXPECT_EQ(device::ControlMsg(0xD0, 3, status.data(), 8, platform::Direction::In), -1);
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

    scanner.Replug();
    EXPECT_TRUE(ApiEnter("KVXReadStatusL", Guard::Handle, handle));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);
    EXPECT_EQ(Count("reopening device  " + device::Identity().serialNumber), 1);
    EXPECT_EQ(Count("reopening device - valid device  " + device::Identity().serialNumber), 1);
    EXPECT_EQ(device::Identity().firmware, 0x3000);

    ExpectIn(0xC0, 0x04, 3, 8);
    EXPECT_EQ(device::ControlMsg(0xD0, 3, status.data(), 8, platform::Direction::In), 8);
    ExpectScriptDone();
}

TEST_F(TransportTest, ReopenRules) {
    Open(0x3000);
    device::UpdateIdentity([](DeviceIdentity& id) { id.serialNumber.clear(); });
    EXPECT_FALSE(device::ReopenDevice());
    EXPECT_EQ(Count("null sn"), 1);
    EXPECT_FALSE(device::Device().reopening.load());

    // Another thread's reopen finishes while this one waits.
    device::UpdateIdentity([](DeviceIdentity& id) { id.serialNumber = OwnSerial(); });
    device::Device().reopening.store(true);
    Frame().deviceState.store(DeviceState::Lost);
    clock.OnSleep([this](unsigned) {
        if (clock.Sleeps().size() == 3) {
            Frame().deviceState.store(DeviceState::Open);
            device::Device().reopening.store(false);
        }
    });
    EXPECT_TRUE(device::ReopenDevice());
    EXPECT_EQ(Sleeps(), std::vector<unsigned>(3, 10));
    EXPECT_EQ(Count("reopen while reopening - device valid"), 1);

    // One that never finishes: 100 waits of 10 ms, then the reopen fails.
    clock.ClearSleeps();
    clock.OnSleep(nullptr);
    device::Device().reopening.store(true);
    EXPECT_FALSE(device::ReopenDevice());
    EXPECT_EQ(Sleeps().size(), 100u);
    EXPECT_EQ(Count("reopen while reopening invalid"), 1);
    device::Device().reopening.store(false);

    // A reopen switches the stripe reader on again (0xD2/5: register 55).
    device::Device().stripeReaderEnabled.store(true);
    ExpectIn(0xC0, 0x0C, 55, 1);
    EXPECT_TRUE(device::ReopenDevice());
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);
    ExpectScriptDone();
}

TEST_F(TransportTest, AReopenPutsBackTheIdentityItFound) {
    // Whatever the open on the way does to the identity, the reopen ends
    // with the one it found, whole: here the stripe reader's switch runs
    // while another identity is in place.
    Open(0x3000);
    device::UpdateIdentity([](DeviceIdentity& id) {
        id.highSpeed = true;
        id.wBlock = 512;
    });
    const DeviceIdentity before = device::Identity();
    device::Device().stripeReaderEnabled.store(true);
    ExpectIn(0xC0, 0x0C, 55, 1).During([] {
        device::UpdateIdentity([](DeviceIdentity& id) {
            id.firmware = 0x1005;
            id.serialLow = 1;
            id.wBlock = 64;
        });
    });
    EXPECT_TRUE(device::ReopenDevice());
    const DeviceIdentity after = device::Identity();
    EXPECT_EQ(after.firmware, before.firmware);
    EXPECT_EQ(after.serialLow, before.serialLow);
    EXPECT_EQ(after.serialNumber, before.serialNumber);
    EXPECT_EQ(after.path, before.path);
    EXPECT_EQ(after.wBlock, 512);
    EXPECT_TRUE(after.highSpeed);
    ExpectScriptDone();
}

TEST_F(TransportTest, ChannelAlignmentGivesTheBlockUnit) {
    sim::SimulatedScanner& scanner = Open(0x3000);
    scanner.SetBusSpeed(sim::SimulatedScanner::BusSpeed::Full);
    ASSERT_TRUE(device::GetChannelAlignment());
    EXPECT_FALSE(device::Identity().highSpeed);
    EXPECT_EQ(device::Identity().wBlock, 64);
    scanner.SetBusSpeed(sim::SimulatedScanner::BusSpeed::High);
    ASSERT_TRUE(device::GetChannelAlignment());
    EXPECT_TRUE(device::Identity().highSpeed);
    EXPECT_EQ(device::Identity().wBlock, 512);
    scanner.Unplug();
    EXPECT_FALSE(device::GetChannelAlignment());
    EXPECT_EQ(Count("Get Channel alignment error"), 1);
}

}  // namespace
}  // namespace kovran::test

namespace kovran::test {
namespace {

TEST_F(TransportTest, CompletionPollAndPipeCancel) {
    sim::SimulatedScanner& scanner = Open(0x3000);
    // Bulk reads stay pending until cancelled.
    scanner.SetBulkIn(sim::SimulatedScanner::BulkIn::Held);
    device::DeviceHandle dev = device::OpenDevice(device::Identity().path, OpenRetry::Yes);
    ASSERT_TRUE(dev);
    std::uint8_t buf[64];
    std::size_t got = 7;
    EXPECT_FALSE(device::WaitOverlapped(*dev, 1450, 0, &got, 10, 100));
    EXPECT_EQ(Count("IoControl  1450"), 1);
    EXPECT_EQ(got, 0u);

    platform::BulkTransferId id = 0;
    const int submitted = dev->SubmitBulk(platform::BulkPipe::In, buf, sizeof buf, &id);
    EXPECT_FALSE(device::WaitOverlapped(*dev, submitted, id, &got, 10, 100));
    EXPECT_EQ(Sleeps(), std::vector<unsigned>(100, 10));
    EXPECT_EQ(Count("overlapper IoControl timeout"), 1);

    // Still pending: the cancel of the read pipe ends it.
    EXPECT_TRUE(device::CancelPipe(dev.get(), platform::BulkPipe::In));
    EXPECT_FALSE(device::WaitOverlapped(*dev, 0, id, &got, 10, 100));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorOperationAborted);
    EXPECT_FALSE(device::CancelPipe(nullptr, platform::BulkPipe::Out));
}

}  // namespace
}  // namespace kovran::test
