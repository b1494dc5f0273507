// The test clock the scan tests run their workers on: time waits for the
// whole round of workers, however late one of them arrives, and a worker
// that ends without ever pausing still lets its partners' time move.
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
    ManualRoster roster;
    VirtualClock clock(roster.Source());
    roster.Start(2);
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
    ManualRoster roster;
    VirtualClock clock(roster.Source());
    roster.Start(2);
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
    ManualRoster roster;
    VirtualClock clock(roster.Source());
    roster.Start(2);
    for (int round = 0; round < 3; ++round) {
        if (round > 0) roster.Start(2);
        std::thread a([&] { clock.Sleep(5); });
        std::thread b([&] { clock.Sleep(7); });
        a.join();
        b.join();
    }
    EXPECT_EQ(clock.SteadyNs(), 3 * 7LL * 1000000);
}

// The third worker of a scan, started last, may first run long after its
// two partners have paused: they are held until it arrives, and it sees
// the round's time as they did.
TEST(VirtualClock, AWorkerThatArrivesLastIsWaitedForRoundAfterRound) {
    ManualRoster roster;
    VirtualClock clock(roster.Source());
    for (int round = 0; round < 3; ++round) {
        roster.Start(3);
        std::atomic<bool> lateMayStart{false};
        std::int64_t seenByLate = -1;
        std::thread late([&] {
            while (!lateMayStart.load()) std::this_thread::yield();
            seenByLate = clock.SteadyNs();
            clock.Sleep(10);
            clock.Sleep(10);
        });
        std::thread a([&] { clock.Sleep(5); });
        std::thread b([&] { clock.Sleep(7); });
        // However long the late one takes to start, the others are held
        // at time's start of this round.
        for (int i = 0; i < 1000; ++i) std::this_thread::yield();
        const std::int64_t start = 20LL * 1000000 * round;
        EXPECT_EQ(clock.SteadyNs(), start);
        lateMayStart.store(true);
        a.join();
        b.join();
        late.join();
        EXPECT_EQ(seenByLate, start);
        EXPECT_EQ(clock.SteadyNs(), start + 20LL * 1000000);
    }
}

// Partners that read the time and ended without pausing leave the late
// third worker alone: its pauses move time.
TEST(VirtualClock, AWorkerThatArrivesAfterItsPartnersEndedStillPauses) {
    ManualRoster roster;
    VirtualClock clock(roster.Source());
    for (int round = 0; round < 3; ++round) {
        roster.Start(3);
        std::thread a([&] { (void)clock.SteadyNs(); });
        std::thread b([&] { (void)clock.SteadyNs(); });
        a.join();
        b.join();
        std::thread late([&] {
            clock.Sleep(10);
            clock.Sleep(10);
        });
        late.join();
    }
    EXPECT_EQ(clock.SteadyNs(), 3 * 20LL * 1000000);
}

// The library says how many workers each acquisition starts before the
// first of them runs; a thread that is no worker of it (a test's own)
// holds time only from its first pause on.
TEST(VirtualClock, TheLibrarysRosterNamesTheWorkersOfTheRunningAcquisition) {
    acquisition::ActiveWorkers& w = acquisition::ScanState().workers;
    VirtualClock clock;
    std::thread before([&] { clock.Sleep(3); });
    before.join();
    EXPECT_EQ(clock.SteadyNs(), 3LL * 1000000);

    w.count.store(2);
    w.acq.store(true);
    w.cor.store(true);
    w.acquisitions.fetch_add(1);
    std::atomic<bool> secondMayStart{false};
    std::thread first([&] { clock.Sleep(10); });
    std::thread second([&] {
        while (!secondMayStart.load()) std::this_thread::yield();
        clock.Sleep(10);
    });
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    EXPECT_EQ(clock.SteadyNs(), 3LL * 1000000);
    secondMayStart.store(true);
    first.join();
    second.join();
    EXPECT_EQ(clock.SteadyNs(), 13LL * 1000000);
    // Joined: a worker that never arrived is no longer waited for.
    w.count.store(3);
    w.acquisitions.fetch_add(1);
    std::thread only([&] { clock.Sleep(1); });
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    w.acq.store(false);
    w.cor.store(false);
    // The clock looks again at the next event.
    std::thread nudge([&] { (void)clock.SteadyNs(); });
    nudge.join();
    only.join();
    EXPECT_EQ(clock.SteadyNs(), 14LL * 1000000);
    w.count.store(0);
    w.acquisitions.fetch_add(1);
}

}  // namespace
}  // namespace kovran::test
