// The stream read by one thread while another polls the device, as the
// library's acquisition thread and a host's status polls do.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/clock.h"
#include "sim/scanner_model.h"
#include "stream_rig.h"

namespace kovran::sim::streamtest {
namespace {

TEST(StreamThreads, AStatusPollerDoesNotDisturbTheStream) {
    DeviceProfile p = DefaultDeviceProfile();
    p.documents = 2;
    std::size_t reference = 0;
    {
        Rig rig(p);
        reference = rig.Acquire(StartBits{}).size();
    }
    Rig rig(p);
    ASSERT_EQ(rig.SendStart(StartBits{}), 0);
    ASSERT_EQ(rig.Go(), 0);
    std::atomic<bool> done{false};
    std::size_t received = 0;
    std::thread reader([&] {
        received = rig.ReadAll(256 << 10).size();
        done = true;
    });
    int polls = 0;
    while (!done) {
        const auto status = simio::Read(rig.Dev(), kFw, kClassD0, 0x03, 8);
        EXPECT_EQ(status.error, 0);
        EXPECT_EQ(rig.Scanner().FeederCount(), 1u);
        ++polls;
    }
    reader.join();
    EXPECT_EQ(received, reference);
    EXPECT_GT(polls, 0);
    ASSERT_EQ(rig.End(), 0);
    EXPECT_FALSE(rig.Scanner().Inspect([](const ScannerModel& m) { return m.Acquiring(); }));
}

// The simulator runs on the threads that call it: its own work is counted
// for the scanner and for each of them, so that a benchmark can take it
// off the CPU time of the library's threads.
TEST(StreamThreads, TheSimulatorsWorkIsCountedOnTheThreadThatAskedForIt) {
    DeviceProfile p = DefaultDeviceProfile();
    p.documents = 1;
    Rig rig(p);
    const std::int64_t mainBefore = OwnCpuNsOnThisThread();
    const std::int64_t scannerBefore = rig.Scanner().OwnCpuNs();
    ASSERT_EQ(rig.SendStart(StartBits{}), 0);
    ASSERT_EQ(rig.Go(), 0);
    std::int64_t readerSimulator = 0;
    std::int64_t readerCpu = 0;
    std::size_t received = 0;
    std::thread reader([&] {
        const std::int64_t cpu0 = platform::ThreadCpuNs();
        received = rig.ReadAll().size();
        readerCpu = platform::ThreadCpuNs() - cpu0;
        readerSimulator = OwnCpuNsOnThisThread();
    });
    reader.join();
    ASSERT_EQ(rig.End(), 0);
    const std::int64_t onMain = OwnCpuNsOnThisThread() - mainBefore;
    EXPECT_GT(received, 1000000u);
    // Composing megabytes of lines is most of what the reader did.
    EXPECT_GT(readerSimulator, readerCpu / 2);
    EXPECT_LE(readerSimulator, readerCpu);
    EXPECT_EQ(rig.Scanner().OwnCpuNs() - scannerBefore, readerSimulator + onMain);
}

}  // namespace
}  // namespace kovran::sim::streamtest
