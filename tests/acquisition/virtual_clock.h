// A manual clock for tests whose worker threads poll: time moves only when
// every worker that polls is asleep, and then straight to the earliest
// wake-up. A worker that loops on pauses can never run ahead of one that is
// still busy (sending a command, copying lines), so time-outs between
// threads come out the same on every run, however the threads are
// scheduled, and nothing waits for real.
//
// Workers join the clock at their first pause and leave it when their
// thread ends. A test names how many workers run at once (the acquisition
// and the correction thread of a scan), so that a worker that has started
// never runs ahead of one that has not yet reached its first pause; once
// one of them has left, the others go on alone. A worker that read the time
// and ended without ever pausing (a stream read whole at once, a start
// that failed) has left too, even before its partner's first pause. The
// test's own thread is no worker: its pauses move the time at once (as
// FakeClock does), since it only waits for workers it has already joined.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>

#include "platform/clock.h"

namespace kovran::test {

class VirtualClock : public platform::Clock {
  public:
    VirtualClock() : host_(std::this_thread::get_id()) {}

    void ExpectWorkers(int n) {
        std::lock_guard<std::mutex> lock(mutex_);
        expected_ = n;
    }

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
        if (std::this_thread::get_id() != host_) Seen();
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
        Join(lock);
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

    // Leaves the clock when the thread ends: a worker, or a thread that
    // only read the time.
    struct Membership {
        const VirtualClock* clock = nullptr;
        bool joined = false;
        ~Membership() {
            if (clock != nullptr) clock->Leave(joined);
        }
    };
    static Membership& Member() {
        thread_local Membership membership;
        return membership;
    }

    void Seen() const {
        Membership& m = Member();
        if (m.clock == this) return;
        m.clock = this;
        m.joined = false;
    }
    void Join(std::unique_lock<std::mutex>&) const {
        Seen();
        Membership& m = Member();
        if (m.joined) return;
        m.joined = true;
        ++workers_;
    }
    void Leave(bool joined) const {
        std::lock_guard<std::mutex> lock(mutex_);
        ++left_;
        if (joined) {
            --workers_;
            if (workers_ == 0) left_ = 0;
        }
        AdvanceIfIdle();
    }
    void AdvanceIfIdle() const {
        if (workers_ == 0 || sleeping_ < workers_ || wakeups_.empty()) return;
        if (workers_ + left_ < expected_) return;
        now_ = std::max(now_, *wakeups_.begin());
        cv_.notify_all();
    }

    const std::thread::id host_;
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    mutable std::int64_t now_ = 0;
    mutable int workers_ = 0;
    mutable int sleeping_ = 0;
    mutable int left_ = 0;
    int expected_ = 1;
    bool holdFollowers_ = false;
    std::set<std::thread::id> followers_;
    mutable std::multiset<std::int64_t> wakeups_;
};

}  // namespace kovran::test
