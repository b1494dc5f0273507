// A manual clock for tests whose worker threads poll: time moves only when
// every worker is asleep, and then straight to the earliest wake-up. A
// worker that loops on pauses can never run ahead of one that is still
// busy (sending a command, copying lines), so time-outs between threads
// come out the same on every run, however the threads are scheduled, and
// nothing waits for real.
//
// Who the workers are comes from the roster: by default the library's own
// count of the running acquisition's workers (ScanState().workers), which
// the acquisition sets before the first of them runs. Each thread that
// reaches the clock (reads the time or pauses) while the roster still has
// places left takes one; from then on time waits for it until it pauses or
// ends. While places are left, time waits for the threads that have not yet
// arrived, so a worker the system schedules late (the third thread of a
// scan, started last and first run after its partners have ended) is still
// waited for, and is still moved on when it pauses alone. Every worker of
// the library reads the time when it starts (its limits run from there), so
// a worker that ends without ever pausing has still taken its place.
//
// Other threads (an asynchronous scan's thread, a thread a test starts)
// hold time from their first pause on, as workers do. The test's own thread
// is no worker: its pauses move the time at once (as FakeClock does), since
// it only waits for workers that have already started.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "acquisition/scan_state.h"
#include "platform/clock.h"

namespace kovran::test {

// The workers of the latest acquisition: which acquisition it is, how many
// workers it started, and how many of them have not yet been joined.
struct Roster {
    std::uint32_t acquisition = 0;
    int workers = 0;
    int running = 0;
};
using RosterSource = std::function<Roster()>;

// The library's own count.
inline Roster LibraryRoster() {
    const acquisition::ActiveWorkers& w = acquisition::ScanState().workers;
    const std::uint32_t acquisition = w.acquisitions.load(std::memory_order_acquire);
    return {.acquisition = acquisition,
            .workers = w.count.load(),
            .running = int{w.acq.load()} + int{w.cor.load()} + int{w.seq.load()}};
}

// A roster a test keeps itself, for workers that are no library's.
class ManualRoster {
  public:
    // A round of n workers starts; they are the next n threads to arrive.
    void Start(int n) {
        workers_.store(n);
        acquisition_.fetch_add(1, std::memory_order_release);
    }
    RosterSource Source() {
        return [this] {
            const int n = workers_.load();
            return Roster{.acquisition = acquisition_.load(std::memory_order_acquire),
                          .workers = n,
                          .running = n};
        };
    }

  private:
    std::atomic<std::uint32_t> acquisition_{0};
    std::atomic<int> workers_{0};
};

class VirtualClock : public platform::Clock {
  public:
    VirtualClock() : VirtualClock(&LibraryRoster) {}
    explicit VirtualClock(RosterSource roster)
        : host_(std::this_thread::get_id()), roster_(std::move(roster)) {}

    // A follower (another host thread waiting for a scan) never moves time
    // while followers are held: it wakes as the workers move time, so its
    // own limits cannot run out while the test's thread, which never
    // pauses, joins the scan. Once released, it moves time like the test's
    // thread.
    void AddFollower() {
        std::lock_guard<std::mutex> lock(mutex_);
        followers_.insert(std::this_thread::get_id());
    }
    void HoldFollowers(bool hold) {
        std::lock_guard<std::mutex> lock(mutex_);
        holdFollowers_ = hold;
        cv_.notify_all();
    }

    std::int64_t NowUnixNs() const override { return kEpochNs + SteadyNs(); }
    std::int64_t LocalOffsetSeconds(std::int64_t) const override { return 0; }
    std::int64_t SteadyNs() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::this_thread::get_id() != host_) Arrive();
        return now_;
    }

    void Sleep(unsigned ms) const override {
        const std::int64_t ns = static_cast<std::int64_t>(ms) * kNsPerMs;
        std::unique_lock<std::mutex> lock(mutex_);
        if (std::this_thread::get_id() == host_) {
            now_ += ns;
            cv_.notify_all();
            return;
        }
        if (followers_.count(std::this_thread::get_id()) != 0) {
            const std::int64_t until = now_ + ns;
            cv_.wait(lock, [&] { return now_ >= until || !holdFollowers_; });
            if (now_ < until) now_ = until;
            cv_.notify_all();
            return;
        }
        Arrive();
        Membership& m = Member();
        if (!m.holdsTime) {
            m.holdsTime = true;
            ++holding_;
        }
        const std::int64_t target = now_ + ns;
        const auto at = wakeups_.insert(target);
        ++sleeping_;
        AdvanceIfIdle();
        cv_.wait(lock, [&] { return now_ >= target; });
        --sleeping_;
        wakeups_.erase(at);
    }

    bool WaitFor(std::condition_variable&, std::unique_lock<std::mutex>&, unsigned timeoutMs,
                 const std::function<bool()>& ready) const override {
        if (ready()) return true;
        Sleep(timeoutMs);
        return ready();
    }

  private:
    static constexpr std::int64_t kNsPerMs = 1000000;
    static constexpr std::int64_t kEpochNs = 1796821507LL * 1000000000LL;

    // Leaves the clock when the thread ends.
    struct Membership {
        const VirtualClock* clock = nullptr;
        bool holdsTime = false;
        ~Membership() {
            if (clock != nullptr) clock->Leave(holdsTime);
        }
    };
    static Membership& Member() {
        thread_local Membership membership;
        return membership;
    }

    // A thread's first contact: it takes a worker's place while the
    // roster has one left.
    void Arrive() const {
        Membership& m = Member();
        if (m.clock == this) return;
        m.clock = this;
        m.holdsTime = false;
        const Roster r = roster_();
        if (!roundKnown_ || r.acquisition != round_) {
            roundKnown_ = true;
            round_ = r.acquisition;
            arrived_ = 0;
        }
        if (arrived_ < r.workers) {
            ++arrived_;
            m.holdsTime = true;
            ++holding_;
        }
    }
    void Leave(bool holdsTime) const {
        std::lock_guard<std::mutex> lock(mutex_);
        if (holdsTime) --holding_;
        AdvanceIfIdle();
    }
    // Workers of the latest acquisition that have not yet reached the
    // clock. One that was joined without ever reaching it no longer counts.
    int NotYetArrived() const {
        const Roster r = roster_();
        const int arrived = roundKnown_ && r.acquisition == round_ ? arrived_ : 0;
        return std::max(0, std::min(r.workers - arrived, r.running));
    }
    void AdvanceIfIdle() const {
        if (holding_ == 0 || sleeping_ < holding_ || wakeups_.empty()) return;
        if (NotYetArrived() > 0) return;
        now_ = std::max(now_, *wakeups_.begin());
        cv_.notify_all();
    }

    const std::thread::id host_;
    const RosterSource roster_;
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    mutable std::int64_t now_ = 0;
    // Threads time waits for: arrived workers and threads that have paused,
    // until they end.
    mutable int holding_ = 0;
    mutable int sleeping_ = 0;
    // The acquisition whose workers are arriving, and how many have.
    mutable bool roundKnown_ = false;
    mutable std::uint32_t round_ = 0;
    mutable int arrived_ = 0;
    bool holdFollowers_ = false;
    std::set<std::thread::id> followers_;
    mutable std::multiset<std::int64_t> wakeups_;
};

}  // namespace kovran::test
