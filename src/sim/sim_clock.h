// The simulator's sense of time. Slow replies and bulk waits go through it,
// so tests install a manual clock and never sleep for real.
#pragma once

#include <atomic>
#include <cstdint>

namespace kovran::sim {

class SimClock {
  public:
    virtual ~SimClock() = default;
    virtual void SleepMs(unsigned ms) = 0;
    virtual std::uint64_t NowMs() const = 0;
};

// Steady time, real sleeps (the default; also what widens the window in
// cross-process tests).
SimClock& RealSimClock();

// Time that moves only when something sleeps on it.
class ManualSimClock : public SimClock {
  public:
    void SleepMs(unsigned ms) override {
        now_ += ms;
        slept_ += ms;
    }
    std::uint64_t NowMs() const override { return now_; }
    void Advance(std::uint64_t ms) { now_ += ms; }
    // Total of all sleeps so far.
    std::uint64_t SleptMs() const { return slept_; }

  private:
    std::atomic<std::uint64_t> now_{0};
    std::atomic<std::uint64_t> slept_{0};
};

}  // namespace kovran::sim
