// The test clock the scan tests run their workers on: time waits for the
// whole round of workers, and a worker that ends without ever pausing still
// lets its partner's time move.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "acquisition/virtual_clock.h"

namespace kovran::test {
namespace {

// An acquisition that finds its whole document already there reads the
// time, never pauses and ends before the correction thread reaches the
// clock; the correction thread's pauses must still pass.
TEST(VirtualClock, AWorkerThatEndsWithoutPausingStillLetsItsPartnerPause) {
    VirtualClock clock;
    clock.ExpectWorkers(2);
    std::thread quick([&] { (void)clock.SteadyNs(); });
    quick.join();
    std::int64_t woke = -1;
    std::thread poller([&] {
        const std::int64_t start = clock.SteadyNs();
        clock.Sleep(50);
        woke = clock.SteadyNs() - start;
    });
    poller.join();
    EXPECT_EQ(woke, 50LL * 1000000);
}

// Until its partner has reached the clock, a worker's pause does not move
// time: it cannot run ahead of a partner that is still starting.
TEST(VirtualClock, AWorkerWaitsForItsPartnerToArriveBeforeTimeMoves) {
    VirtualClock clock;
    clock.ExpectWorkers(2);
    std::atomic<bool> partnerMayStart{false};
    std::atomic<std::int64_t> firstSeenByPartner{-1};
    std::thread first([&] {
        clock.Sleep(10);
        clock.Sleep(10);
    });
    std::thread partner([&] {
        while (!partnerMayStart.load()) std::this_thread::yield();
        firstSeenByPartner.store(clock.SteadyNs());
        clock.Sleep(100);
    });
    // However long the partner takes to start, the first worker is held.
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    partnerMayStart.store(true);
    first.join();
    partner.join();
    EXPECT_EQ(firstSeenByPartner.load(), 0);
    EXPECT_EQ(clock.SteadyNs(), 100LL * 1000000);
}

// The next round starts once every thread of the last one has ended.
TEST(VirtualClock, RoundAfterRoundTimeMovesOnlyWithTheWholeRound) {
    VirtualClock clock;
    clock.ExpectWorkers(2);
    for (int round = 0; round < 3; ++round) {
        std::thread a([&] { clock.Sleep(5); });
        std::thread b([&] { clock.Sleep(7); });
        a.join();
        b.join();
    }
    EXPECT_EQ(clock.SteadyNs(), 3 * 7LL * 1000000);
}

}  // namespace
}  // namespace kovran::test
