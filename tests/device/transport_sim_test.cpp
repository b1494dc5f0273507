// The transport against the simulator: scripted conversations per firmware
// family, an unplug through the frame, and two processes on one device.
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <thread>

#include "api/frame.h"
#include "api/frame_state.h"
#include "api/log_fixture.h"
#include "device/device_record.h"
#include "device/ep0_lock.h"
#include "device/serial_number.h"
#include "device/transport.h"
#include "device/usb_selection.h"
#include "platform/clock.h"
#include "platform/sys_error.h"
#include "platform/usb_sync.h"
#include "root/composition.h"
#include "sim/sim_backend.h"

namespace kovran::test {
namespace {

using device::ControlMsg;
using platform::Direction;
using sim::ChatRequest;

std::string OwnSerial() {
    return std::to_string(200000 + static_cast<int>(::getpid()) % 800000);
}

class SimTransportTest : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        root::InstallComposition();  // the guard's reopen and the device summary
        Ini("[General]\nLog=1\nLogSize=0\n");
        StartAtLoad();
        device::Device().lockDirectory = lockDir();
    }

    // Finds and opens the simulated scanner as an initialise would, then
    // takes the firmware the device would report.
    sim::SimulatedScanner& Start(std::uint16_t firmware, const std::string& transferLog = "") {
        sim::DeviceProfile p = sim::DefaultDeviceProfile();
        p.serial = OwnSerial();
        p.firmware = firmware;
        p.transferLog = transferLog;
        auto backend = std::make_unique<sim::SimBackend>(std::vector<sim::DeviceProfile>{p});
        simBackend = backend.get();
        device::InstallUsbBackend(std::move(backend));
        EXPECT_TRUE(device::EnumerateDevices(0, "", -1, device::VendorGroup::Main,
                                             device::StoreFound::Yes));
        EXPECT_TRUE(device::TestOpen(device::Identity().path));
        device::UpdateIdentity([&](DeviceIdentity& id) {
            const device::SerialNumbers n =
                device::ParseSerialNumbers(id.serialNumber, platform::kMainVendor);
            id.serialHigh = n.high;
            id.serialLow = n.low;
            id.firmware = firmware & 0x7FFF;
        });
        return simBackend->Device(0);
    }

    sim::SimBackend* simBackend = nullptr;
};

// The same conversation on each firmware family: the chat encodes what it
// expects for that firmware, the transport must match it byte for byte.
TEST_F(SimTransportTest, ScriptedChatForEachFirmwareFamily) {
    for (std::uint16_t fw : {0x1005, 0x2105, 0x3000, 0x5012}) {
        SCOPED_TRACE(fw);
        ResetLibraryState();
        SetUp();
        sim::SimulatedScanner& scanner = Start(fw);
        EXPECT_EQ(device::Identity().serialNumber, OwnSerial());
        auto chat = std::make_shared<sim::ScriptedChat>(fw);
        // Commands without data are read as one byte from 0x2007 on; the
        // firmware answers that byte.
        chat->Expect(ChatRequest::NoData(0xD1, 0x36)).Reply({0});
        chat->Expect(ChatRequest::In(0xD0, 3, 8)).Reply({1, 2, 3, 4, 5, 6, 7, 8});
        chat->Expect(ChatRequest::In(0xD0, 0x28, 16)).Reply(std::vector<std::uint8_t>(16, 9));
        // Old firmware sends writes device-to-host: not part of this chat.
        const bool writes = fw >= 0x1006;
        if (writes) chat->Expect(ChatRequest::Out(0xD0, 0x22, {0x42})).Ok();
        chat->Expect(ChatRequest::In(0xD2, 2, 64)).Reply(std::vector<std::uint8_t>(64, 7));
        chat->Expect(ChatRequest::NoData(0xD1, 0x37)).Reply({0});
        scanner.AttachChat(chat);

        std::array<std::uint8_t, 64> buf{};
        EXPECT_EQ(ControlMsg(0xD1, 0x36, nullptr, 0, Direction::In), 0);
        EXPECT_EQ(ControlMsg(0xD0, 3, buf.data(), 8, Direction::In), 8);
        EXPECT_EQ(buf[7], 8);
        EXPECT_EQ(ControlMsg(0xD0, 0x28, buf.data(), 16, Direction::In), 16);
        std::uint8_t tone = 0x42;
        if (writes) {
            EXPECT_EQ(ControlMsg(0xD0, 0x22, &tone, 1, Direction::Out), 1);
        }
        EXPECT_EQ(ControlMsg(0xD2, 2, buf.data(), 64, Direction::In), 64);
        EXPECT_EQ(buf[63], 7);
        EXPECT_EQ(ControlMsg(0xD1, 0x37, nullptr, 0, Direction::In), 0);
        for (const std::string& m : chat->Verify()) ADD_FAILURE() << m;
        scanner.DetachChat();
        TearDown();
    }
}

TEST_F(SimTransportTest, UnplugDuringATransferThenReopen) {
    sim::SimulatedScanner& scanner = Start(0x5012);
    const int handle = 3000000 + device::Identity().serialLow;
    Frame().currentHandle.store(handle);
    std::array<std::uint8_t, 8> status{};
    ASSERT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);

    scanner.Inject(sim::Unplug{1, 0});
    SetLastResult(0);
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), -1);
    EXPECT_TRUE(LastResult() == -14 || LastResult() == -18) << LastResult();
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed);

    EXPECT_FALSE(ApiEnter("KVXReadStatusL", Guard::Handle, handle));
    scanner.Replug();
    EXPECT_TRUE(ApiEnter("KVXReadStatusL", Guard::Handle, handle));
    EXPECT_EQ(Count("reopening device - valid device"), 1);
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);

    // Ten "not ready" replies are ridden out; the eleventh is the end.
    scanner.Inject(sim::NotReady{10});
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    scanner.Inject(sim::NotReady{11});
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), -1);
    EXPECT_EQ(LastResult(), -18);
    const std::vector<unsigned> sleeps = clock.Sleeps();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 1000u), 20);
}

TEST_F(SimTransportTest, TransportAndSimulatorShareOneClock) {
    // The transport's "not ready" pause and the device's slow reply both
    // pass on the installed clock, in the order they happen, so a test sees
    // the whole exchange's time without waiting for it.
    sim::SimulatedScanner& scanner = Start(0x5012);
    clock.ClearSleeps();
    const std::int64_t start = platform::SteadyNowMs();
    scanner.Inject(sim::NotReady{1});
    scanner.Inject(sim::SlowReply{250, 1, {}});
    std::array<std::uint8_t, 8> status{};
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(clock.Sleeps(), (std::vector<unsigned>{1000, 250}));
    EXPECT_EQ(platform::SteadyNowMs() - start, 1250);
}

TEST_F(SimTransportTest, TwoProcessesNeverOverlapOnEndpointZero) {
    const std::string trace = dir / "transfers.log";
    // Real time here: slow replies leave room for the other process to cut in.
    ClockScope realTime(platform::SystemClock());
    sim::SimulatedScanner& scanner = Start(0x5012, trace);
    scanner.Inject(sim::SlowReply{3, sim::kForever, {}});
    constexpr int kEach = 15;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    std::array<std::uint8_t, 8> status{};
    int good = 0;
    for (int i = 0; i < kEach; ++i)
        good += ControlMsg(0xD0, 3, status.data(), 8, Direction::In) == 8;
    if (child == 0) ::_exit(good == kEach ? 0 : 1);
    int wstatus = 0;
    ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
    EXPECT_EQ(good, kEach);
    const sim::TransferLogSummary s = sim::CheckTransferLog(trace);
    ASSERT_TRUE(s.readable);
    // Both processes' status reads, and the serial number read before the fork.
    EXPECT_EQ(s.transfers, 2u * kEach + 1);
    EXPECT_EQ(s.overlaps, 0u);
    EXPECT_EQ(s.malformed, 0u);
}

TEST_F(SimTransportTest, TwoThreadsShareTheKeptDeviceAndNeverOverlap) {
    // Real time: slow replies leave room for the other thread to cut in.
    ClockScope realTime(platform::SystemClock());
    sim::SimulatedScanner& scanner = Start(0x5012);
    scanner.Inject(sim::SlowReply{1, sim::kForever, {}});
    constexpr int kEach = 30;
    std::atomic<int> good{0};
    std::atomic<bool> done{false};
    auto commands = [&] {
        std::array<std::uint8_t, 8> status{};
        for (int i = 0; i < kEach; ++i)
            if (ControlMsg(0xD0, 3, status.data(), 8, Direction::In) == 8) ++good;
    };
    // The host closing the device between the commands of the others.
    std::thread closer([&] {
        while (!done.load()) {
            device::CloseKeptDevice();
            platform::Sleep(2);
        }
    });
    std::thread first(commands);
    std::thread second(commands);
    first.join();
    second.join();
    done.store(true);
    closer.join();
    EXPECT_EQ(good.load(), 2 * kEach);
    EXPECT_EQ(scanner.MaxConcurrentControl(), 1);
    EXPECT_EQ(Count("EP0Sem"), 0);
}

TEST_F(SimTransportTest, AReopenLeavesTheIdentityToOtherThreads) {
    // The host's thread reopens while an acquisition thread reads the status
    // on its own handle. A reopen changes nothing of the device's identity,
    // so it must not write it under the other thread's feet (the thread
    // sanitizer build sees such writes).
    Start(0x5012);
    device::DeviceHandle own = device::OpenDevice(device::Identity().path, device::OpenRetry::No);
    ASSERT_TRUE(own);
    std::atomic<int> failures{0};
    std::thread acquisition([&] {
        std::array<std::uint8_t, 8> status{};
        for (int i = 0; i < 200; ++i)
            if (device::BaseContrlMsgWO(own.get(), 0x5012, 0xD0, 3, status.data(), 8,
                                        Direction::In) != 8)
                ++failures;
    });
    for (int i = 0; i < 50; ++i) EXPECT_TRUE(device::ReopenDevice());
    acquisition.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);
}

// The kernel's rule: one open device file claims the interface, a bulk
// transfer through a second file gets "busy". Every device object the
// backend opens on a path shares the one file, so acquisition and printing
// both move bulk data; another program's file does not.
TEST_F(SimTransportTest, DeviceObjectsOfOnePathShareOneClaim) {
    sim::SimulatedScanner& scanner = Start(0x5012);
    const std::string path = device::Identity().path;
    int error = -1;
    auto acquisition = simBackend->Open(path, &error);
    auto printing = simBackend->Open(path, &error);
    ASSERT_TRUE(acquisition && printing);
    scanner.SetBulkIn(sim::SimulatedScanner::BulkIn::Held);
    std::vector<std::uint8_t> image(4096);
    platform::BulkTransferId readId = 0;
    ASSERT_EQ(acquisition->SubmitBulk(platform::BulkPipe::In, image.data(), image.size(), &readId),
              platform::kErrorSuccess);
    std::vector<std::uint8_t> stamp(484, 0x5A);
    std::size_t sent = 0;
    EXPECT_EQ(platform::BulkTransfer(*printing, platform::BulkPipe::Out, stamp.data(), stamp.size(),
                                     &sent, 100),
              platform::kErrorSuccess);
    EXPECT_EQ(sent, stamp.size());

    // Another program's file: refused while this process holds the claim.
    auto stranger = simBackend->OpenSeparateFile(path, &error);
    ASSERT_TRUE(stranger);
    platform::BulkTransferId id = 0;
    EXPECT_EQ(stranger->SubmitBulk(platform::BulkPipe::Out, stamp.data(), stamp.size(), &id),
              platform::kErrorBusy);
    // Control transfers need no claim.
    std::array<std::uint8_t, 8> status{};
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);

    // One device object closing keeps the claim for the other ...
    std::size_t got = 0;
    EXPECT_EQ(platform::CancelAndReap(*acquisition, platform::BulkPipe::In, readId, &got),
              platform::kErrorOperationAborted);
    acquisition.reset();
    EXPECT_EQ(stranger->SubmitBulk(platform::BulkPipe::Out, stamp.data(), stamp.size(), &id),
              platform::kErrorBusy);
    // ... and gives it back when the last one that moved bulk data goes,
    // though the kept device of the control commands still has the file
    // open: another program can scan between this one's scans.
    printing.reset();
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    ASSERT_EQ(stranger->SubmitBulk(platform::BulkPipe::Out, stamp.data(), stamp.size(), &id),
              platform::kErrorSuccess);
    EXPECT_EQ(stranger->WaitBulk(id, &got, 100), platform::kErrorSuccess);
    auto late = simBackend->Open(path, &error);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->SubmitBulk(platform::BulkPipe::Out, stamp.data(), stamp.size(), &id),
              platform::kErrorBusy);
}

TEST_F(SimTransportTest, ControlCommandsReuseTheKeptDevice) {
    sim::SimulatedScanner& scanner = Start(0x5012);
    const std::uint64_t opens = scanner.OpenCount();
    std::array<std::uint8_t, 8> status{};
    for (int i = 0; i < 5; ++i) ASSERT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(scanner.OpenCount(), opens + 1);

    // A command that fails closes it; the reopen and the next command open
    // a new one on the replugged scanner.
    scanner.Inject(sim::Unplug{1, 0});
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), -1);
    scanner.Replug();
    Frame().deviceState.store(DeviceState::Open);
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(scanner.OpenCount(), opens + 2);

    device::CloseKeptDevice();
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(scanner.OpenCount(), opens + 3);

    // Unplugged and plugged in again between two commands: the kept file is
    // dead, but the command reaches the scanner as one that opened its own
    // file would.
    scanner.Unplug();
    scanner.Replug();
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);
    EXPECT_EQ(scanner.OpenCount(), opens + 4);
    // Unplugged for good: the command fails as before, device not found.
    scanner.Unplug();
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), -1);
    EXPECT_EQ(Frame().lastResult.load(), KVX_ERR_DEVICE_NOT_FOUND);
}

// A command that failed closes its own kept device only: another thread may
// have opened a new one meanwhile.
TEST_F(SimTransportTest, AFailedCommandClosesOnlyItsOwnKeptDevice) {
    Start(0x5012);
    const std::string path = device::Identity().path;
    const std::shared_ptr<platform::UsbDevice> failed = device::KeptDevice(path);
    ASSERT_TRUE(failed);
    device::CloseKeptDevice();
    device::KeptOrigin origin = device::KeptOrigin::Reused;
    const std::shared_ptr<platform::UsbDevice> fresh = device::KeptDevice(path, &origin);
    EXPECT_EQ(origin, device::KeptOrigin::Opened);
    device::CloseKeptDevice(failed.get());
    EXPECT_EQ(device::KeptDevice(path, &origin), fresh);
    EXPECT_EQ(origin, device::KeptOrigin::Reused);
    device::CloseKeptDevice(fresh.get());
    EXPECT_NE(device::KeptDevice(path, &origin), fresh);
    EXPECT_EQ(origin, device::KeptOrigin::Opened);
}

}  // namespace
}  // namespace kovran::test
