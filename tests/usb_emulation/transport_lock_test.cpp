// The transport's endpoint-0 lock with the libusb backend on an emulated
// scanner: transfers of two threads and of two processes never overlap on
// the bus, and a process killed inside a transfer costs the next one
// nothing. The children are real processes with their own libusb; the
// emulated kernel (this process's umockdev) answers them all.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "api/frame_state.h"
#include "api/log_fixture.h"
#include "api/settings.h"
#include "device/device_record.h"
#include "device/ep0_lock.h"
#include "device/transport.h"
#include "device/usb_selection.h"
#include "platform/clock.h"
#include "platform/usb_libusb.h"
#include "root/composition.h"
#include "usb_emulation/emulated_scanner.h"

namespace kovran::test {
namespace {

using device::ControlMsg;
using platform::Direction;

constexpr const char* kScannerPath =
    "\\\\?\\USB#VID_7E51&PID_0003#1-3#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";
// The status read (0xD0/3): register 3, eight bytes, on firmware 0x3000.
constexpr std::uint8_t kRegisterRead = 0x04;
constexpr std::uint16_t kStatusRegister = 3;
// Real time: how long a test waits for another thread or process to reach
// a point before it gives up (only a hang ever waits it out).
constexpr int kReachSteps = 5000;
constexpr unsigned kReachStepMs = 1;

// Waits on the real clock until ready() or the bound passes.
template <class Ready>
bool Reach(Ready ready) {
    for (int i = 0; i < kReachSteps; ++i) {
        if (ready()) return true;
        platform::SystemClock().Sleep(kReachStepMs);
    }
    return ready();
}

class TransportOnEmulatedScanner : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        scanner_ = std::make_unique<EmulatedScanner>();
        if (!scanner_->Ready()) return;
        root::InstallComposition();
        Ini("[General]\nLog=1\nLogSize=0\n");
        StartAtLoad();
        device::Device().lockDirectory = lockDir();
        DeviceIdentity id;
        id.vid = kScannerVid;
        id.pid = kScannerPid;
        id.path = kScannerPath;
        id.firmware = 0x3000;
        device::SetIdentity(id);
        Frame().deviceState.store(DeviceState::Open);
        scanner_->SetControlReply(kRegisterRead, kStatusRegister,
                                  std::vector<std::uint8_t>(8, 0x11));
    }
    void TearDown() override {
        // libusb goes before the testbed it was started in.
        device::CloseKeptDevice();
        device::InstallUsbBackend(nullptr);
        scanner_.reset();
        LogFixture::TearDown();
    }

    // This process's libusb, started inside the testbed.
    bool StartLibusb() {
        auto backend = platform::MakeLibusbBackend();
        if (!backend) return false;
        device::InstallUsbBackend(std::move(backend));
        return true;
    }

    static int StatusRead() {
        std::array<std::uint8_t, 8> status{};
        return ControlMsg(0xD0, 3, status.data(), 8, Direction::In);
    }

    // A process whose status read is inside the device (the device does not
    // answer it) when the constructor returns, holding the endpoint-0 lock.
    class ChildInsideATransfer {
      public:
        explicit ChildInsideATransfer(EmulatedScanner& scanner) {
            scanner.HoldControl(Hold::On);
            const std::size_t before = scanner.PendingControls();
            pid_ = ::fork();
            if (pid_ == 0) {
                // Its own libusb: a context does not survive a fork.
                auto backend = platform::MakeLibusbBackend();
                if (!backend) ::_exit(2);
                device::InstallUsbBackend(std::move(backend));
                ::_exit(StatusRead() == 8 ? 0 : 1);
            }
            inside_ = pid_ > 0 && Reach([&] { return scanner.PendingControls() > before; });
        }
        ~ChildInsideATransfer() {
            if (pid_ > 0) Kill();
        }
        bool Inside() const { return inside_; }
        void Kill() {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        // True when its transfer ended well.
        bool Finish() {
            int status = 0;
            const bool ok = ::waitpid(pid_, &status, 0) == pid_;
            pid_ = -1;
            return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }

      private:
        pid_t pid_ = -1;
        bool inside_ = false;
    };

    // True while some description waits for the endpoint-0 lock (the lock
    // marks its waiters with a read lock on byte 1 of the file).
    bool SomeoneWaitsForTheLock() const {
        const std::string path = lockDir() + "/" +
                                 platform::ProcessLockFileName(device::Ep0SemaphoreName(
                                     kScannerVid, kScannerPid, device::Identity().serialLow));
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return false;
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 1;
        fl.l_len = 1;
        const bool waiting = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
        ::close(fd);
        return waiting;
    }

    std::unique_ptr<EmulatedScanner> scanner_;
};

#define KOVRAN_REQUIRE_EMULATION()                                   \
    do {                                                             \
        if (!scanner_->Ready()) GTEST_SKIP() << scanner_->Problem(); \
    } while (0)

TEST_F(TransportOnEmulatedScanner, AProcessKilledInsideATransferCostsTheNextNoWait) {
    KOVRAN_REQUIRE_EMULATION();
    {
        ChildInsideATransfer child(*scanner_);
        ASSERT_TRUE(child.Inside());
        child.Kill();
    }
    scanner_->HoldControl(Hold::Off);
    ASSERT_TRUE(StartLibusb());
    // The full 10 s bound on the fixture's clock: a lock the dead process
    // still held would cost all of it here.
    ASSERT_EQ(Settings().scan.ep0SemaphoreTimeoutMs, 10000u);
    const std::int64_t before = clock.SteadyNs();
    EXPECT_EQ(StatusRead(), 8);
    EXPECT_EQ(clock.SteadyNs(), before);
    EXPECT_EQ(Count("EP0Sem"), 0);
    // And the dead process's pending URB went with its file.
    EXPECT_TRUE(Reach([&] { return scanner_->PendingControls() == 0; }));
}

TEST_F(TransportOnEmulatedScanner, TwoProcessesNeverOverlapOnEndpointZero) {
    KOVRAN_REQUIRE_EMULATION();
    // Real time: the wait for the other process must really wait.
    ClockScope realTime(platform::SystemClock());
    ChildInsideATransfer child(*scanner_);
    ASSERT_TRUE(child.Inside());
    ASSERT_TRUE(StartLibusb());
    int result = 0;
    std::thread own([&] { result = StatusRead(); });
    // This process waits for the lock while the child's transfer runs;
    // then the device answers the child, and this process goes next.
    EXPECT_TRUE(Reach([&] { return SomeoneWaitsForTheLock(); }));
    EXPECT_EQ(scanner_->PendingControls(), 1u);
    scanner_->HoldControl(Hold::Off);
    own.join();
    EXPECT_TRUE(child.Finish());
    EXPECT_EQ(result, 8);
    EXPECT_EQ(scanner_->MostPendingControls(), 1u);
    EXPECT_EQ(Count("EP0Sem"), 0);
}

TEST_F(TransportOnEmulatedScanner, TwoThreadsNeverOverlapOnEndpointZero) {
    KOVRAN_REQUIRE_EMULATION();
    ClockScope realTime(platform::SystemClock());
    ASSERT_TRUE(StartLibusb());
    scanner_->HoldControl(Hold::On);
    std::atomic<int> good{0};
    auto read = [&] {
        if (StatusRead() == 8) ++good;
    };
    std::thread first(read);
    ASSERT_TRUE(Reach([&] { return scanner_->PendingControls() == 1; }));
    std::thread second(read);
    EXPECT_TRUE(Reach([&] { return SomeoneWaitsForTheLock(); }));
    EXPECT_EQ(scanner_->PendingControls(), 1u);
    scanner_->HoldControl(Hold::Off);
    first.join();
    second.join();
    EXPECT_EQ(good.load(), 2);
    EXPECT_EQ(scanner_->MostPendingControls(), 1u);
    EXPECT_EQ(Count("EP0Sem"), 0);
    // Both commands used the one kept device: one open file for the test.
    EXPECT_TRUE(scanner_->UnknownIoctls().empty());
}

}  // namespace
}  // namespace kovran::test
