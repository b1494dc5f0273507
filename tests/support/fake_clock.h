// A clock that stands still until the test moves it (local time = UTC +
// offset).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace kovran::test {

class FakeClock : public platform::Clock {
  public:
    // 2026-12-09 13:05:07 UTC.
    static constexpr std::int64_t kDefaultUnixSeconds = 1796821507;

    explicit FakeClock(std::int64_t unixSeconds = kDefaultUnixSeconds, std::int64_t offset = 0)
        : ns_(unixSeconds * 1000000000LL), offset_(offset) {}

    std::int64_t NowUnixNs() const override { return ns_.load(); }
    std::int64_t LocalOffsetSeconds(std::int64_t) const override { return offset_; }

    void SetUnixSeconds(std::int64_t s) { ns_.store(s * 1000000000LL); }
    void Advance(std::int64_t seconds) { ns_.fetch_add(seconds * 1000000000LL); }

  private:
    std::atomic<std::int64_t> ns_;
    std::int64_t offset_;
};

// Installs a clock for one scope.
class ClockScope {
  public:
    explicit ClockScope(const platform::Clock& c) { platform::InstallClock(&c); }
    ~ClockScope() { platform::InstallClock(nullptr); }
};

}  // namespace kovran::test
