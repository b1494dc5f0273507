// The counters' store: the device register, the register file, the limit,
// and a process killed while it replaces the register file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "api/config_dir.h"
#include "device/connection_fixture.h"
#include "device/counters.h"
#include "platform/profile.h"

namespace kovran::test {
namespace {

using device::Counters;

class CountersTest : public ConnectionTest {
  protected:
    std::string File() const { return device::RegisterFile(); }
    std::uint32_t DevicePages() {
        return usb->Device(0).Inspect([](const sim::ScannerModel& m) { return m.PageCounter(); });
    }
};

TEST_F(CountersTest, WithTheDeviceRegisterEveryPageIsCountedByTheDevice) {
    sim::DeviceProfile p = Default();
    p.pageCounter = 1500;
    ASSERT_NE(Open(p), -1);
    ASSERT_TRUE(device::UsesDeviceRegister());
    EXPECT_EQ(Counters().pageTotal.load(), 1500u);
    for (int i = 0; i < 100; ++i) device::CountPage();
    EXPECT_EQ(DevicePages(), 1600u);
    EXPECT_EQ(Counters().pageTotal.load(), 1600u);
    EXPECT_EQ(Counters().pageCurrent.load(), 100u);
    const std::string file = ReadFileBytes(File());
    EXPECT_EQ(file.find("nPages="), std::string::npos) << file;
    EXPECT_NE(file.find("nPagesCur=100"), std::string::npos) << file;
}

// The ini switches the device's counter register off: the register file
// holds every count.
class FileCountersTest : public CountersTest {
  protected:
    FileCountersTest() { ini = "nPageEn=0\n"; }
};

TEST_F(FileCountersTest, WithoutTheRegisterTheFileKeepsTheTotal) {
    sim::DeviceProfile p = Default();
    p.pageCounter = 1500;
    ASSERT_NE(Open(p), -1);
    EXPECT_FALSE(device::UsesDeviceRegister());
    EXPECT_EQ(Count("nPage reg disabled"), 1);
    EXPECT_EQ(Counters().pageTotal.load(), 0u);
    device::CountPage();
    device::CountInkjetPrint();
    EXPECT_EQ(DevicePages(), 1500u) << "nothing sent to the device";
    const std::string file = ReadFileBytes(File());
    EXPECT_NE(file.find("nPages=1"), std::string::npos) << file;
    EXPECT_NE(file.find("InkjetCnt=1"), std::string::npos) << file;
    EXPECT_NE(file.find("InkjetCntCur=1"), std::string::npos) << file;
}

TEST_F(FileCountersTest, CountsStopAtTheLimit) {
    ASSERT_NE(Open(Default()), -1);
    Counters().pageTotal.store(device::kCounterLimit);
    Counters().pageCurrent.store(device::kCounterLimit - 1);
    device::CountPage();
    device::CountPage();
    EXPECT_EQ(Counters().pageTotal.load(), device::kCounterLimit);
    EXPECT_EQ(Counters().pageCurrent.load(), device::kCounterLimit);
    EXPECT_NE(ReadFileBytes(File()).find("nPages=2147483647"), std::string::npos);
}

TEST_F(CountersTest, ADeviceWithoutTheInkjetRegisterReportsItsPages) {
    sim::DeviceProfile p = Default();
    p.pageCounter = 321;
    p.inkjetCounterRegister = false;
    ASSERT_NE(Open(p), -1);
    EXPECT_EQ(Counters().inkjetTotal.load(), 321u);
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open)
        << "a refused counter read loses no device";
}

// Kills the process at the step the test names, once the file at `target`
// is being replaced.
std::atomic<int> g_killAt{-1};
void KillAtStep(platform::ReplaceStep step, const std::string&) {
    if (static_cast<int>(step) == g_killAt.load()) ::kill(::getpid(), SIGKILL);
}

TEST_F(FileCountersTest, AProcessKilledWhileWritingLeavesTheOldOrTheNewFile) {
    ASSERT_NE(Open(Default()), -1);
    for (int i = 0; i < 5; ++i) device::CountPage();
    const std::string file = File();
    const std::string before = ReadFileBytes(file);
    ASSERT_NE(before.find("nPages=5"), std::string::npos);

    for (const platform::ReplaceStep step :
         {platform::ReplaceStep::TempFileWritten, platform::ReplaceStep::Renamed}) {
        SCOPED_TRACE(static_cast<int>(step));
        const std::string old = ReadFileBytes(file);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            g_killAt.store(static_cast<int>(step));
            platform::SetReplaceObserver(&KillAtStep);
            device::CountPage();
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
        const std::string after = ReadFileBytes(file);
        if (step == platform::ReplaceStep::TempFileWritten)
            EXPECT_EQ(after, old) << "killed before the rename: the old file, whole";
        else
            EXPECT_NE(after.find("nPages=6"), std::string::npos) << "the new file, whole";
        EXPECT_NE(after.find("[General]"), std::string::npos);
    }
    // The count the killed process was making is the only one missing.
    EXPECT_EQ(device::ReadRegisterValue(file, "nPages"), 6u);
}

TEST_F(FileCountersTest, AProcessKilledAfterItsReplacementKeepsBothCountsOfThePage) {
    ASSERT_NE(Open(Default()), -1);
    for (int i = 0; i < 5; ++i) device::CountPage();
    const std::string file = File();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Killed as soon as the first replacement of the file is done.
        g_killAt.store(static_cast<int>(platform::ReplaceStep::Renamed));
        platform::SetReplaceObserver(&KillAtStep);
        device::CountPage();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    // The total and the current count of one page land together.
    EXPECT_EQ(device::ReadRegisterValue(file, "nPages"), 6u);
    EXPECT_EQ(device::ReadRegisterValue(file, "nPagesCur"), 6u);
}

// The host's reset lands while the counting thread is replacing the file:
// neither the counted page nor the reset is lost.
std::mutex g_raceMutex;
std::condition_variable g_raceDone;
bool g_resetDone = false;
std::atomic<bool> g_raceArmed{false};
void ResetWhileReplacing(platform::ReplaceStep step, const std::string&) {
    if (step != platform::ReplaceStep::TempFileWritten || !g_raceArmed.exchange(false)) return;
    std::thread host([] {
        device::ResetPageCurrent();
        std::lock_guard lock(g_raceMutex);
        g_resetDone = true;
        g_raceDone.notify_all();
    });
    {
        // Gives the reset its chance to overtake the count; a store that
        // serialises its writes makes it wait for the count instead.
        std::unique_lock lock(g_raceMutex);
        g_raceDone.wait_for(lock, std::chrono::milliseconds(200), [] { return g_resetDone; });
    }
    host.detach();
}

TEST_F(FileCountersTest, AResetDuringACountLosesNeitherOfThem) {
    ASSERT_NE(Open(Default()), -1);
    for (int i = 0; i < 5; ++i) device::CountPage();
    const std::string file = File();
    g_resetDone = false;
    g_raceArmed.store(true);
    platform::SetReplaceObserver(&ResetWhileReplacing);
    device::CountPage();
    {
        std::unique_lock lock(g_raceMutex);
        g_raceDone.wait(lock, [] { return g_resetDone; });
    }
    platform::SetReplaceObserver(nullptr);
    EXPECT_EQ(device::ReadRegisterValue(file, "nPages"), 6u);
    EXPECT_EQ(device::ReadRegisterValue(file, "nPagesCur"), 0u);
    EXPECT_EQ(Counters().pageCurrent.load(), 0u);
}

}  // namespace
}  // namespace kovran::test
