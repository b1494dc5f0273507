#include "sim/transfer_log.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "sim/sim_backend.h"
#include "sim/sim_test_util.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace kovran::sim {
namespace {

// A clock whose sleeps wait until `parties` sleepers are inside at once,
// so two slow transfers overlap for certain without any real delay.
class RendezvousClock : public test::FakeClock {
  public:
    explicit RendezvousClock(int parties) : parties_(parties) {}
    void Sleep(unsigned) const override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (++arrived_ >= parties_) {
            cv_.notify_all();
            return;
        }
        cv_.wait(lock, [&] { return arrived_ >= parties_; });
    }

  private:
    int parties_;
    mutable int arrived_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
};

TEST(TransferTrace, RecordsOverlapOfUnserialisedTransfers) {
    test::TempDir dir;
    DeviceProfile p = DefaultDeviceProfile();
    p.transferLog = dir / "ep0.log";
    p.faults.push_back(SlowReply{20});
    // Two processes would each build their own backend from one profile;
    // two backends in two threads behave the same, sharing only the file.
    RendezvousClock clock(2);
    test::ClockScope scope(clock);
    SimBackend first({p});
    SimBackend second({p});
    auto a = first.Open(first.Device(0).Path(), nullptr);
    auto b = second.Open(second.Device(0).Path(), nullptr);
    ASSERT_TRUE(a && b);
    int ra = -1;
    int rb = -1;
    std::thread ta([&] { ra = simio::Read(*a, 0x5012, 0xD0, 3, 8).error; });
    std::thread tb([&] { rb = simio::Read(*b, 0x5012, 0xD0, 3, 8).error; });
    ta.join();
    tb.join();
    EXPECT_EQ(ra, 0);
    EXPECT_EQ(rb, 0);
    TransferLogSummary s = CheckTransferLog(dir / "ep0.log");
    ASSERT_TRUE(s.readable);
    EXPECT_EQ(s.transfers, 2u);
    EXPECT_EQ(s.overlaps, 1u);
    EXPECT_EQ(s.malformed, 0u);
}

TEST(TransferTrace, InProcessOverlapIsCounted) {
    DeviceProfile p = DefaultDeviceProfile();
    p.faults.push_back(SlowReply{20});
    RendezvousClock clock(2);
    test::ClockScope scope(clock);
    SimBackend backend({p});
    auto a = backend.Open(backend.Device(0).Path(), nullptr);
    auto b = backend.Open(backend.Device(0).Path(), nullptr);
    std::thread ta([&] { simio::Read(*a, 0x5012, 0xD0, 2, 5); });
    std::thread tb([&] { simio::Read(*b, 0x5012, 0xD0, 2, 5); });
    ta.join();
    tb.join();
    EXPECT_EQ(backend.Device(0).MaxConcurrentControl(), 2);
    EXPECT_EQ(backend.Device(0).ControlCount(), 2u);
}

TEST(TransferTrace, SerialTransfersShowNoOverlap) {
    test::TempDir dir;
    DeviceProfile p = DefaultDeviceProfile();
    p.transferLog = dir / "ep0.log";
    SimBackend backend({p});
    auto dev = backend.Open(backend.Device(0).Path(), nullptr);
    for (int i = 0; i < 5; ++i) simio::Read(*dev, 0x5012, 0xD0, 3, 8);
    TransferLogSummary s = CheckTransferLog(dir / "ep0.log");
    EXPECT_EQ(s.transfers, 5u);
    EXPECT_EQ(s.overlaps, 0u);
    EXPECT_EQ(backend.Device(0).MaxConcurrentControl(), 1);

    test::WriteFileBytes(dir / "crafted.log",
                         "B 1 x\nB 2 x\nE 1 x 0\nE 2 x 0\nB 1 x\nE 1 x 0\nzz\n");
    s = CheckTransferLog(dir / "crafted.log");
    EXPECT_EQ(s.transfers, 3u);
    EXPECT_EQ(s.overlaps, 1u);
    EXPECT_EQ(s.malformed, 1u);
    EXPECT_FALSE(CheckTransferLog(dir / "absent.log").readable);
}

}  // namespace
}  // namespace kovran::sim
