// The library's one clock: wall time (log stamps, dated files, file times),
// monotonic time, pauses and timed waits. It is an interface so that tests
// can move the day (dated log files, purges) without waiting for midnight
// and run retry ladders and paced streams without sleeping.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace kovran::platform {

struct LocalTime {
    int year = 1601;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// A Windows FILETIME as one number: 100 ns units since 1601-01-01 UTC.
using FileTime = std::int64_t;

class Clock {
  public:
    virtual ~Clock() = default;
    // Seconds and nanoseconds since the Unix epoch.
    virtual std::int64_t NowUnixNs() const = 0;
    // Offset of local time from UTC at that instant, in seconds.
    virtual std::int64_t LocalOffsetSeconds(std::int64_t unixNs) const = 0;

    // The members below default to the system's real time, so a clock that
    // only moves the day need not provide them.

    // Monotonic nanoseconds from an arbitrary origin (time-outs, pacing).
    virtual std::int64_t SteadyNs() const;
    // Pauses the calling thread.
    virtual void Sleep(unsigned ms) const;
    // Waits on `cv` (with `lock` held) until `ready()` holds or timeoutMs
    // passed; returns ready(). A manual clock jumps to the deadline.
    virtual bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         unsigned timeoutMs, const std::function<bool()>& ready) const;
};

// The system's real clock and time zone.
const Clock& SystemClock();

// Clock used by the library; tests may install another (null restores the
// system clock). The clock object must outlive its use.
const Clock& CurrentClock();
void InstallClock(const Clock* clock);

// The installed clock's monotonic time, pause and timed wait.
std::int64_t SteadyNowNs();
std::int64_t SteadyNowMs();
void Sleep(unsigned ms);
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, unsigned timeoutMs,
             const std::function<bool()>& ready);

// Polls ready() until it returns true or timeoutMs has passed on the
// current clock's monotonic time, pausing about pollMs between polls. Always
// polls at least once; true when ready() said so.
template <class Ready>
bool WaitUntil(Ready&& ready, unsigned timeoutMs, unsigned pollMs);

// CPU time the calling thread has used so far, in nanoseconds. Not a time
// of day and not installable: it measures work (the simulator's account of
// its own share of a scan), never waits.
std::int64_t ThreadCpuNs();

LocalTime LocalNow();
LocalTime UtcNow();
FileTime FileTimeNowUtc();
FileTime FileTimeFromUnixNs(std::int64_t unixNs);
std::int64_t UnixNsFromFileTime(FileTime ft);
// Broken-down UTC or local time of a FILETIME.
LocalTime UtcFromFileTime(FileTime ft);
FileTime FileTimeFromUtc(const LocalTime& t);

// Last-write time of a file as a FILETIME; nothing when it cannot be read.
std::optional<FileTime> FileLastWriteTime(const std::string& path);
// Sets a file's last-write time (tests and tools).
bool SetFileLastWriteTime(const std::string& path, FileTime ft);

template <class Ready>
bool WaitUntil(Ready&& ready, unsigned timeoutMs, unsigned pollMs) {
    const Clock& clock = CurrentClock();
    constexpr std::int64_t kNsPerMs = 1'000'000;
    const std::int64_t deadline =
        clock.SteadyNs() + static_cast<std::int64_t>(timeoutMs) * kNsPerMs;
    for (;;) {
        if (ready()) return true;
        const std::int64_t left = deadline - clock.SteadyNs();
        if (left <= 0) return false;
        const std::int64_t leftMs = (left + kNsPerMs - 1) / kNsPerMs;
        clock.Sleep(static_cast<unsigned>(pollMs < leftMs ? pollMs : leftMs));
    }
}

}  // namespace kovran::platform
