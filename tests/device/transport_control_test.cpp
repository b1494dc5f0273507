// Control commands as they reach the wire, their limits, the "not ready"
// ladder, the error report and the endpoint-0 lock.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

#include "api/frame.h"
#include "api/frame_state.h"
#include "api/settings.h"
#include "device/device_record.h"
#include "device/ep0_lock.h"
#include "device/transport.h"
#include "device/transport_fixture.h"

namespace kovran::test {
namespace {

using device::BaseContrlMsgWO;
using device::ControlMsg;
using device::ControlMsgOnHandle;
using platform::Direction;

TEST_F(TransportTest, CommandsTravelAsTheFirmwareExpects) {
    // Feed start (0xD1/0x36) without data: register 64 on the 0x3000
    // family, read as one byte; request code 0xD1 value 0x36 on 0x1005.
    Open(0x3000);
    ExpectIn(0xC0, 0x0C, 64, 1);
    EXPECT_EQ(ControlMsg(0xD1, 0x36, nullptr, 0, Direction::In), 0);

    SetFirmware(0x1005);
    ExpectIn(0xC0, 0xD1, 0x36, 0);
    EXPECT_EQ(ControlMsg(0xD1, 0x36, nullptr, 0, Direction::In), 0);

    // Up to 0x2006 a command without data reads nothing.
    SetFirmware(0x2005);
    ExpectIn(0xC0, 0x0C, 64, 0);
    EXPECT_EQ(ControlMsg(0xD1, 0x36, nullptr, 0, Direction::In), 0);

    // Status (0xD0/3, 8 bytes) and a stripe track (0xD2/2 + 50, 64 bytes).
    SetFirmware(0x3000);
    ExpectIn(0xC0, 0x04, 3, 8, {1, 2, 3, 4, 5, 6, 7, 8});
    std::array<std::uint8_t, 8> status{};
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(status, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
    ExpectIn(0xC0, 0x04, 52, 64);
    std::array<std::uint8_t, 64> track{};
    EXPECT_EQ(ControlMsg(0xD2, 2, track.data(), 64, Direction::In), 64);

    // Writes: one byte with 0x0C, more with 0x04, each followed by a pause
    // of a millisecond per byte.
    ExpectOut(0x0C, 0x22, {7});
    std::uint8_t tone = 7;
    EXPECT_EQ(ControlMsg(0xD0, 0x22, &tone, 1, Direction::Out), 1);
    std::vector<std::uint8_t> start(33);
    for (std::size_t i = 0; i < start.size(); ++i) start[i] = static_cast<std::uint8_t>(i * 3);
    ExpectOut(0x04, 0x33 + 10, start);
    EXPECT_EQ(ControlMsg(0xD1, 0x33, start.data(), 33, Direction::Out), 33);
    EXPECT_EQ(Sleeps(), (std::vector<unsigned>{1, 33}));

    // Old firmware sends every command device-to-host, writes included.
    SetFirmware(0x1005);
    ExpectIn(0xC0, 0xD1, 0x33, 33);
    EXPECT_EQ(ControlMsg(0xD1, 0x33, start.data(), 33, Direction::Out), 33);

    ExpectScriptDone();
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);
}

TEST_F(TransportTest, LimitsAreCheckedBeforeTheDeviceIsTouched) {
    sim::SimulatedScanner& scanner = Open(0x3000);
    std::array<std::uint8_t, 65> big{};
    SetLastResult(0);
    EXPECT_EQ(ControlMsg(0xD0, 0x13, big.data(), 65, Direction::In), -1);
    EXPECT_EQ(LastResult(), -1);
    EXPECT_EQ(Count("Base control message IN with too much data  65"), 1);
    EXPECT_EQ(ControlMsg(0xD0, 0x13, nullptr, 8, Direction::In), -1);
    EXPECT_EQ(ControlMsg(0xD0, 0x14, nullptr, 8, Direction::Out), -1);
    EXPECT_EQ(Count("Base control message IN with invalid memory buffer - val  19"), 1);
    EXPECT_EQ(Count("Base control message IN with invalid memory buffer - val  20"), 1);
    EXPECT_EQ(scanner.OpenCount(), 0u);
    EXPECT_EQ(scanner.ControlCount(), 0u);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);

    ExpectIn(0xC0, 0x04, 0x13, 64);
    EXPECT_EQ(ControlMsg(0xD0, 0x13, big.data(), 64, Direction::In), 64);
    ExpectScriptDone();
}

TEST_F(TransportTest, NotReadyIsRetriedTenTimes) {
    Open(0x3000);
    std::array<std::uint8_t, 8> status{};
    for (int i = 0; i < 10; ++i) ExpectError(0xC0, 0x04, 3, 8, 21);
    ExpectIn(0xC0, 0x04, 3, 8);
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(Sleeps(), std::vector<unsigned>(10, 1000));
    EXPECT_EQ(Count("DeviceIoControl not ready"), 10);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);

    clock.ClearSleeps();
    for (int i = 0; i < 11; ++i) ExpectError(0xC0, 0x04, 3, 8, 21);
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), -1);
    EXPECT_EQ(Sleeps().size(), 10u);
    EXPECT_EQ(LastResult(), -18);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed);
    EXPECT_EQ(Count("Read usb register  21"), 1);
    EXPECT_EQ(Count("\tasking  3"), 1);
    EXPECT_EQ(Count("BaseContrlMsg - device not ready"), 1);
    ExpectScriptDone();
}

TEST_F(TransportTest, FailuresEndInTheErrorReport) {
    struct Case {
        int error;
        std::int32_t result;
        const char* text;
    };
    const Case cases[] = {
        {2, -14, "Read usb register  2"},
        {5, -1, "Read usb register - ERROR_ACCESS_DENIED  5"},
        {1460, -1, "Read usb register waiting result  1460"},
        {31, -1, "Read usb register  31"},
    };
    Open(0x3000);
    std::array<std::uint8_t, 8> status{};
    for (const Case& c : cases) {
        Frame().deviceState.store(DeviceState::Open);
        ExpectError(0xC0, 0x04, 3, 8, c.error);
        SetLastResult(0);
        EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), -1) << c.error;
        EXPECT_EQ(LastResult(), c.result) << c.error;
        EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed) << c.error;
        EXPECT_EQ(Count(c.text), 1) << c.text;
    }
    EXPECT_EQ(Count("BaseContrlMsg - device not found"), 1);
    EXPECT_EQ(Count("BaseContrlMsg - failure"), 3);
    ExpectScriptDone();
}

TEST_F(TransportTest, RepliesOfTheWrongLengthFail) {
    Open(0x3000);
    std::array<std::uint8_t, 12> buf{};
    buf.fill(0xEE);
    ExpectIn(0xC0, 0x04, 3, 8, {1, 2, 3, 4});
    EXPECT_EQ(ControlMsg(0xD0, 3, buf.data(), 8, Direction::In), -1);
    EXPECT_EQ(Count("Read usb register cmd 208 val 3 nBytes 4/8"), 1);

    // A count beyond the buffer is refused, and nothing past it is written.
    Frame().deviceState.store(DeviceState::Open);
    buf.fill(0xEE);
    ExpectIn(0xC0, 0x04, 3, 8).ClaimExtra(4);
    EXPECT_EQ(ControlMsg(0xD0, 3, buf.data(), 8, Direction::In), -1);
    EXPECT_EQ(buf[8], 0xEE);

    Frame().deviceState.store(DeviceState::Open);
    SetFirmware(0x1005);
    ExpectIn(0xC0, 0xD0, 2, 5, {0, 1, 0, 0});
    EXPECT_EQ(ControlMsg(0xD0, 2, buf.data(), 5, Direction::In), -1);
    EXPECT_EQ(Count("Send usb request  31"), 1);
    ExpectScriptDone();
}

TEST_F(TransportTest, CallersHandleUsesItsOwnRules) {
    Open(0x1005);
    std::array<std::uint8_t, 8> status{};
    SetLastResult(0);
    EXPECT_EQ(BaseContrlMsgWO(nullptr, 0x3000, 0xD0, 3, status.data(), 8, Direction::In), -1);
    EXPECT_EQ(LastResult(), -3);
    EXPECT_EQ(Count("Control Msg WO with invalid handle"), 1);

    int error = 0;
    device::DeviceHandle handle = usb->Open(device::Identity().path, &error);
    ASSERT_TRUE(handle);
    // The caller's firmware decides the protocol; no length limit of 64.
    std::vector<std::uint8_t> block(100);
    ExpectIn(0xC0, 0x04, 3, 100);
    EXPECT_EQ(BaseContrlMsgWO(handle.get(), 0x3000, 0xD0, 3, block.data(), 100, Direction::In),
              100);
    EXPECT_EQ(BaseContrlMsgWO(handle.get(), 0x3000, 0xD0, 3, nullptr, 8, Direction::In), -1);
    EXPECT_EQ(LastResult(), -3);

    // No "not ready" retries on the caller's handle.
    ExpectError(0xC0, 0x04, 3, 8, 21);
    EXPECT_EQ(BaseContrlMsgWO(handle.get(), 0x3000, 0xD0, 3, status.data(), 8, Direction::In), -1);
    EXPECT_TRUE(Sleeps().empty());
    EXPECT_EQ(LastResult(), -18);
    EXPECT_EQ(Count("Read usb register WO   21"), 1);
    EXPECT_EQ(Count("BaseContrlMsgWO  - device not ready"), 1);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed);

    // The own-handle flag goes straight to the short-lived handle.
    Frame().deviceState.store(DeviceState::Open);
    ExpectIn(0xC0, 0xD0, 3, 8);
    EXPECT_EQ(ControlMsgOnHandle(handle.get(), 0x3000, 0xD0, 3, status.data(), 8, Direction::In,
                                 device::HandleChoice::OwnOnly),
              8);
    ExpectScriptDone();
}

TEST_F(TransportTest, AHeldEp0LockDelaysButNeverStopsATransfer) {
    Open(0x3000);
    // Another process's transfer holds the lock.
    auto other = Ep0Lock();
    ASSERT_TRUE(other);
    platform::ProcessLock::Hold held = other->Acquire(0);
    ASSERT_TRUE(held.held());
    Settings().scan.ep0SemaphoreTimeoutMs = 0;
    std::array<std::uint8_t, 8> status{};
    ExpectIn(0xC0, 0x04, 3, 8);
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(Count("timeout waiting EP0Sem (BB)"), 1);
    held = platform::ProcessLock::Hold();
    ExpectIn(0xC0, 0x04, 3, 8);
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(Count("EP0Sem"), 1);
    // Taken by the transfer and given back after it.
    EXPECT_TRUE(other->Acquire(0).held());
    ExpectScriptDone();
}

TEST_F(TransportTest, Ep0LockSurvivesACloseDuringATransfer) {
    // The device is closed (by the host's thread) while a transfer of an
    // acquisition thread holds the lock: that transfer still gives it back.
    Open(0x3000);
    auto other = Ep0Lock();
    ASSERT_TRUE(other);
    bool heldDuring = true;
    ExpectIn(0xC0, 0x04, 3, 8).During([&] {
        device::CloseEp0Semaphore(device::Device());
        heldDuring = !other->Acquire(0).held();
    });
    std::array<std::uint8_t, 8> status{};
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_TRUE(heldDuring) << "the transfer did not hold the lock";
    EXPECT_TRUE(other->Acquire(0).held()) << "the lock was not given back";
    ExpectScriptDone();
}

// The child's transfer stops inside the device until it is told to go on
// (or killed), so the parent looks while the child holds the lock.
class ChildInsideATransfer {
  public:
    explicit ChildInsideATransfer(sim::ScriptedChat::Step step) {
        if (::pipe(entered_) != 0 || ::pipe(release_) != 0) return;
        step.During([this] {
            char c = 'i';
            (void)!::write(entered_[1], &c, 1);
            (void)!::read(release_[0], &c, 1);
        });
        pid_ = ::fork();
        if (pid_ == 0) {
            std::array<std::uint8_t, 8> status{};
            const int r = ControlMsg(0xD0, 3, status.data(), 8, Direction::In);
            ::_exit(r == 8 ? 0 : 1);
        }
    }
    ~ChildInsideATransfer() {
        if (pid_ > 0) Kill();
        for (int fd : {entered_[0], entered_[1], release_[0], release_[1]}) ::close(fd);
    }
    bool Entered() {
        char c = 0;
        return pid_ > 0 && ::read(entered_[0], &c, 1) == 1;
    }
    // True when the child's transfer ended well.
    bool Release() {
        const char c = 'g';
        int wstatus = 0;
        const bool ok = ::write(release_[1], &c, 1) == 1 && ::waitpid(pid_, &wstatus, 0) == pid_;
        pid_ = -1;
        return ok && WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0;
    }
    void Kill() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int entered_[2] = {-1, -1};
    int release_[2] = {-1, -1};
};

TEST_F(TransportTest, TwoProcessesSerialiseOnTheEp0Lock) {
    Open(0x3000);
    ChildInsideATransfer child(ExpectIn(0xC0, 0x04, 3, 8));
    chat->Clear();
    ASSERT_TRUE(child.Entered());

    auto other = Ep0Lock();
    ASSERT_TRUE(other);
    EXPECT_FALSE(other->Acquire(0).held()) << "the other process's transfer does not hold the lock";
    // This process's transfer waits (here: not at all) and goes ahead.
    Settings().scan.ep0SemaphoreTimeoutMs = 0;
    ExpectIn(0xC0, 0x04, 3, 8);
    std::array<std::uint8_t, 8> status{};
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(Count("timeout waiting EP0Sem (BB)"), 1);

    EXPECT_TRUE(child.Release());
    EXPECT_TRUE(other->Acquire(0).held()) << "the lock was not given back";
    ExpectScriptDone();
}

TEST_F(TransportTest, AProcessKilledInsideATransferCostsTheNextNoWait) {
    Open(0x3000);
    {
        ChildInsideATransfer child(ExpectIn(0xC0, 0x04, 3, 8));
        chat->Clear();
        ASSERT_TRUE(child.Entered());
        child.Kill();
    }
    // The full bound: a lock the dead child still held would cost its
    // 10 s here, on the fixture's clock.
    const std::int64_t before = clock.SteadyNs();
    ExpectIn(0xC0, 0x04, 3, 8);
    std::array<std::uint8_t, 8> status{};
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(clock.SteadyNs(), before);
    EXPECT_EQ(Count("EP0Sem"), 0);
    ExpectScriptDone();
}

TEST_F(TransportTest, WithoutALockDirectoryTransfersGoAheadUnlocked) {
    Open(0x3000);
    std::array<std::uint8_t, 8> status{};
    // Missing, and read-only even for root.
    for (const std::string& dir : {lockDir() + "/missing", std::string("/proc")}) {
        device::Device().lockDirectory = dir;
        device::CloseEp0Semaphore(device::Device());
        ExpectIn(0xC0, 0x04, 3, 8);
        EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8) << dir;
    }
    EXPECT_EQ(Count("creating EP0Semaphore"), 2);
    EXPECT_EQ(Count("EP0Sem ("), 0);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);
    ExpectScriptDone();
}

TEST_F(TransportTest, AStaleLockFileIsTakenAtOnce) {
    Open(0x3000);
    // Left by an earlier boot's process, or a process that died: a file
    // with no lock on it, whatever its content and mode.
    const std::string path = lockDir() + "/" + platform::ProcessLockFileName(Ep0Name());
    WriteFileBytes(path, "stale");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    const std::int64_t before = clock.SteadyNs();
    ExpectIn(0xC0, 0x04, 3, 8);
    std::array<std::uint8_t, 8> status{};
    EXPECT_EQ(ControlMsg(0xD0, 3, status.data(), 8, Direction::In), 8);
    EXPECT_EQ(clock.SteadyNs(), before);
    EXPECT_EQ(Count("EP0Sem"), 0);
    ExpectScriptDone();
}

TEST_F(TransportTest, TheAcquisitionLockIsPerDeviceAndFreedWithItsHolder) {
    Open(0x2100);
    const DeviceIdentity id = device::Identity();
    EXPECT_EQ(device::AcqSemaphoreName(0x7E51, 3, 1234), "vid_7e51_pid_0003_snLow_1234_Acq");
    auto lock = device::OpenAcqSemaphore(device::Device(), id);
    ASSERT_TRUE(lock);
    EXPECT_EQ(lock->path(), lockDir() + "/" +
                                platform::ProcessLockFileName(
                                    device::AcqSemaphoreName(id.vid, id.pid, id.serialLow)));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto mine = device::OpenAcqSemaphore(device::Device(), id);
        platform::ProcessLock::Hold hold = mine ? mine->Acquire(0) : platform::ProcessLock::Hold();
        if (!hold.held()) ::_exit(1);
        ::raise(SIGKILL);
    }
    int wstatus = 0;
    ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
    ASSERT_TRUE(WIFSIGNALED(wstatus)) << "the child could not take the lock";
    const std::int64_t before = clock.SteadyNs();
    EXPECT_TRUE(lock->Acquire(100).held());
    EXPECT_EQ(clock.SteadyNs(), before);
    // The endpoint-0 lock is another one.
    auto ep0 = Ep0Lock();
    ASSERT_TRUE(ep0);
    EXPECT_NE(ep0->path(), lock->path());
}

}  // namespace
}  // namespace kovran::test
