// The stream read by one thread while another polls the device, as the
// library's acquisition thread and a host's status polls do.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

}  // namespace
}  // namespace kovran::sim::streamtest
