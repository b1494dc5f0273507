// The correction thread following an acquisition thread that feeds the raw
// buffer in steps, on the fake clock: every pause of the correction lets
// the feeder deliver its next step, so the interleaving is the same on
// every run. A stop and a stalled stream end the thread.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "acquisition/acq_fixture.h"
#include "acquisition/corr_info.h"
#include "acquisition/correction.h"
#include "acquisition/correction_rig.h"

namespace kovran::test {
namespace {

using namespace acquisition;

// Hands the feeder one turn per pause of the correction thread.
class Turns {
  public:
    // Called by the correction thread's pauses.
    void Pause() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++asked_;
        cv_.notify_all();
        cv_.wait(lock, [&] { return given_ >= asked_ || closed_; });
    }
    // The feeder waits for a turn; false once the correction has ended.
    bool Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return asked_ > given_ || closed_; });
        return !closed_;
    }
    void Done() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++given_;
        cv_.notify_all();
    }
    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        cv_.notify_all();
    }
    int Asked() {
        std::lock_guard<std::mutex> lock(mutex_);
        return asked_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int asked_ = 0;
    int given_ = 0;
    bool closed_ = false;
};

// Turns of a silent stream after which a test gives up on the thread.
constexpr int kIdleTurns = 5000;

class CorrectionThreadTest : public AcqFixture {
  protected:
    void SetUp() override {
        AcqFixture::SetUp();
        clock.OnSleep([this](unsigned) { turns.Pause(); });
        rig.lines = 60;
    }
    void TearDown() override {
        clock.OnSleep(nullptr);
        AcqFixture::TearDown();
    }
    // Flat references: white 110, black 100 (gain 10) on the front.
    void References() {
        CorrInfo& info = CorrInfos().sides[kFront];
        const std::size_t n = static_cast<std::size_t>(rig.sensorPixels);
        info.pixels = static_cast<std::uint16_t>(n);
        info.white.assign(n, 110);
        info.black.assign(n, 100);
        CorrInfos().gain[kFront] = BuildGain(info, n, 265.0f, false);
        CorrInfos().sides[kRear] = {};
        CorrInfos().gain[kRear] = {};
    }
    // Runs the correction thread against a feeder that delivers `steps`
    // (lines per turn; a 0 step delivers nothing that turn), then ends the
    // acquisition unless `endAfter` is false.
    void Stream(const std::vector<int>& steps, bool endAfter = true,
                void (*body)(CorrectionBlock*) = &ThrCor_0x3000) {
        const std::vector<std::uint8_t> ideal = rig.IdealStream();
        std::thread correction([&] {
            body(rig.block.get());
            turns.Close();
        });
        std::thread feeder([&] {
            std::size_t line = 0;
            for (int step : steps) {
                if (!turns.Wait()) return;
                const std::size_t from = line * rig.LineLength();
                line = std::min<std::size_t>(line + static_cast<std::size_t>(step),
                                             static_cast<std::size_t>(rig.lines));
                const std::size_t to = line * rig.LineLength();
                std::memcpy(rig.block->raw + from, ideal.data() + from, to - from);
                rig.stream.receivedBytes.store(to, std::memory_order_release);
                turns.Done();
            }
            if (endAfter && turns.Wait()) {
                rig.stream.acq.ok.store(true);
                rig.stream.acq.done.store(true, std::memory_order_release);
                turns.Done();
            }
            // Nothing more arrives. A correction that never gives up is
            // stopped, so that the test fails instead of hanging.
            for (int idle = 0; turns.Wait(); ++idle) {
                if (idle == kIdleTurns) rig.stop.store(true);
                turns.Done();
            }
        });
        correction.join();
        feeder.join();
    }
    bool LineCorrected(int y) {
        for (int x = rig.left; x < rig.left + rig.width; ++x)
            if (rig.FrontAt(y, 0, x) != 50) return false;
        return true;
    }
    Turns turns;
    CorrectionRig rig;
};

TEST_F(CorrectionThreadTest, FollowsAStreamFedInSteps) {
    rig.front = [](int, int, int) { return std::uint8_t{105}; };
    rig.Build();
    References();
    // Steps of up to 8 lines wait for the next look; the rest is taken at once.
    Stream({3, 0, 4, 9, 20, 1, 0, 13, 10});
    EXPECT_TRUE(rig.block->flags.ok);
    EXPECT_TRUE(rig.block->flags.done);
    EXPECT_FALSE(rig.block->flags.running);
    for (int y = 0; y < rig.lines; ++y) EXPECT_TRUE(LineCorrected(y)) << y;
    EXPECT_EQ(rig.block->lines[kFront].load(), rig.lines);
    EXPECT_EQ(Count("ThrCor_0x3000 - end ok"), 1);
    for (unsigned ms : clock.Sleeps()) EXPECT_EQ(ms, 50u);
}

TEST_F(CorrectionThreadTest, EndsWithTheReceivedLinesOfAShortDocument) {
    rig.front = [](int, int, int) { return std::uint8_t{105}; };
    rig.Build();
    References();
    Stream({12, 10});
    EXPECT_TRUE(rig.block->flags.ok);
    for (int y = 0; y < 22; ++y) EXPECT_TRUE(LineCorrected(y)) << y;
    EXPECT_EQ(rig.block->lines[kFront].load(), 22);
}

TEST_F(CorrectionThreadTest, LineCheckGetsFreshLinesEveryFiveMilliseconds) {
    rig.front = [](int, int, int) { return std::uint8_t{105}; };
    rig.Build();
    References();
    rig.block->lineCheck = true;
    static std::vector<std::pair<int, int>> seen;
    seen.clear();
    rig.block->checkLines = [](CorrectionBlock&, std::int32_t first, std::int32_t n) {
        seen.emplace_back(first, n);
    };
    Stream({30, 30});
    EXPECT_TRUE(rig.block->flags.ok);
    ASSERT_FALSE(seen.empty());
    // Steps of 10 while the stream runs; what is left once it ended at once.
    ASSERT_GE(seen.size(), 3u);
    int next = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].first, next);
        if (i + 1 < seen.size()) {
            EXPECT_EQ(seen[i].second, 10) << i;
        }
        next = seen[i].first + seen[i].second;
    }
    EXPECT_EQ(next, rig.lines);
    for (unsigned ms : clock.Sleeps()) EXPECT_EQ(ms, 5u);
}

TEST_F(CorrectionThreadTest, StopEndsTheThreadAsFailed) {
    rig.Build();
    References();
    clock.OnSleep([this](unsigned) {
        if (turns.Asked() == 3) rig.stop.store(true);
        turns.Pause();
    });
    Stream({10, 10, 10, 10, 10}, false);
    EXPECT_TRUE(rig.block->flags.done);
    EXPECT_FALSE(rig.block->flags.ok);
    EXPECT_TRUE(rig.block->flags.error);
    EXPECT_EQ(Count("ThrCor_0x3000 - stop"), 1);
    EXPECT_EQ(Count("ThrCor_0x3000 - end ok"), 0);
}

TEST_F(CorrectionThreadTest, StalledStreamTimesOutAndEndsTheAcquisition) {
    rig.front = [](int, int, int) { return std::uint8_t{105}; };
    rig.Build();
    References();
    rig.block->waitLimitMs = 1000;
    Stream({20}, false);
    EXPECT_TRUE(rig.block->flags.done);
    EXPECT_TRUE(rig.block->flags.error);
    EXPECT_TRUE(rig.endFlag.load()) << "the acquisition is asked to end";
    EXPECT_EQ(LastResult(), KVX_ERR_GENERIC);
    EXPECT_EQ(Count("Timeout waiting acquisition 1050"), 1);
    for (int y = 0; y < 20; ++y) EXPECT_TRUE(LineCorrected(y)) << y;
    EXPECT_EQ(clock.SleptMs(), 1050u + 50u) << "one look per period until the limit";
}

TEST_F(CorrectionThreadTest, StallWithAFewLinesWaitingTimesOut) {
    rig.front = [](int, int, int) { return std::uint8_t{105}; };
    rig.Build();
    References();
    rig.block->waitLimitMs = 1000;
    // Fewer lines than a batch: they wait for more that never come.
    Stream({5}, false);
    EXPECT_TRUE(rig.block->flags.error);
    EXPECT_TRUE(rig.endFlag.load()) << "the acquisition is asked to end";
    EXPECT_EQ(Count("Timeout waiting acquisition 1050"), 1);
    EXPECT_EQ(Count("ThrCor_0x3000 - stop"), 0);
}

TEST_F(CorrectionThreadTest, StalledMovementTimesOutQuietly) {
    rig.Build();
    rig.block->kind = CorrectionKind::Movement;
    rig.block->waitLimitMs = 200;
    Stream({}, false);
    EXPECT_TRUE(rig.endFlag.load());
    EXPECT_EQ(Count("ThrCor_0x3000 - timeout moving"), 1);
    EXPECT_EQ(Count("Timeout waiting acquisition"), 0);
}

TEST_F(CorrectionThreadTest, AcquisitionErrorEndsTheCorrection) {
    rig.Build();
    rig.stream.acq.error.store(true);
    rig.stream.acq.done.store(true);
    Stream({}, false);
    EXPECT_TRUE(rig.block->flags.ok);
    EXPECT_EQ(Count("ThrCor_0x3000 - acquisition end"), 1);
}

TEST_F(CorrectionThreadTest, OlderThreadFollowsTheCountUnderTheLock) {
    device::Device().lockDirectory = lockDir();
    Open(Scanner(0x2105));
    rig.front = [](int, int, int) { return std::uint8_t{105}; };
    rig.lead = false;
    rig.Build();
    References();
    Stream({7, 0, 20, 33}, true, &ThrCorOld);
    EXPECT_TRUE(rig.block->flags.ok);
    for (int y = 0; y < rig.lines; ++y) EXPECT_TRUE(LineCorrected(y)) << y;
    EXPECT_EQ(rig.block->lines[kFront].load(), rig.lines);
}

}  // namespace
}  // namespace kovran::test
