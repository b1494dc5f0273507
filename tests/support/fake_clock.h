// A clock that stands still until the test moves it (local time = UTC +
// offset). Sleeps and timed waits do not wait: they move both the wall and
// the monotonic time at once and are recorded, so retry ladders and paced
// streams run deterministically and tests can assert the pauses taken.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace kovran::test {

class FakeClock : public platform::Clock {
  public:
    // 2026-12-09 13:05:07 UTC.
    static constexpr std::int64_t kDefaultUnixSeconds = 1796821507;

    explicit FakeClock(std::int64_t unixSeconds = kDefaultUnixSeconds, std::int64_t offset = 0)
        : ns_(unixSeconds * kNsPerSecond), offset_(offset) {}

    std::int64_t NowUnixNs() const override { return ns_.load(); }
    std::int64_t LocalOffsetSeconds(std::int64_t) const override { return offset_; }
    std::int64_t SteadyNs() const override { return steadyNs_.load(); }

    void Sleep(unsigned ms) const override {
        std::function<void(unsigned)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sleeps_.push_back(ms);
            hook = onSleep_;
        }
        AdvanceNs(static_cast<std::int64_t>(ms) * kNsPerMs);
        if (hook) hook(ms);
    }

    // Nothing else moves while a manual clock waits: the condition either
    // holds now or the whole time-out passes.
    bool WaitFor(std::condition_variable&, std::unique_lock<std::mutex>&, unsigned timeoutMs,
                 const std::function<bool()>& ready) const override {
        if (ready()) return true;
        AdvanceNs(static_cast<std::int64_t>(timeoutMs) * kNsPerMs);
        return ready();
    }

    void SetUnixSeconds(std::int64_t s) { ns_.store(s * kNsPerSecond); }
    void Advance(std::int64_t seconds) const { AdvanceNs(seconds * kNsPerSecond); }
    void AdvanceMs(std::int64_t ms) const { AdvanceNs(ms * kNsPerMs); }

    // Every pause taken so far, in order, and their total.
    std::vector<unsigned> Sleeps() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sleeps_;
    }
    std::uint64_t SleptMs() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::uint64_t total = 0;
        for (unsigned ms : sleeps_) total += ms;
        return total;
    }
    void ClearSleeps() {
        std::lock_guard<std::mutex> lock(mutex_);
        sleeps_.clear();
    }
    // Runs after each pause (for example to let "another thread" finish
    // what the sleeper waits for).
    void OnSleep(std::function<void(unsigned ms)> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        onSleep_ = std::move(hook);
    }

  private:
    static constexpr std::int64_t kNsPerSecond = 1000000000LL;
    static constexpr std::int64_t kNsPerMs = 1000000LL;

    void AdvanceNs(std::int64_t ns) const {
        ns_.fetch_add(ns);
        steadyNs_.fetch_add(ns);
    }

    mutable std::atomic<std::int64_t> ns_;
    mutable std::atomic<std::int64_t> steadyNs_{0};
    std::int64_t offset_;
    mutable std::mutex mutex_;
    mutable std::vector<unsigned> sleeps_;
    std::function<void(unsigned)> onSleep_;
};

// Installs a clock for one scope, then puts back the one before.
class ClockScope {
  public:
    explicit ClockScope(const platform::Clock& c) : previous_(&platform::CurrentClock()) {
        platform::InstallClock(&c);
    }
    ~ClockScope() { platform::InstallClock(previous_); }
    ClockScope(const ClockScope&) = delete;
    ClockScope& operator=(const ClockScope&) = delete;

  private:
    const platform::Clock* previous_;
};

}  // namespace kovran::test
