// Local time, file times, and the monotonic time and pauses of bounded
// waits. The clock is an interface so that tests can move the day (dated log
// files, purges) without waiting for midnight, and run a time-out without
// waiting for it.
#pragma once

#include <cstdint>
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
    // Nanoseconds on a clock that never jumps with the wall clock; bounded
    // waits measure their time-out on it. The default is the system's.
    virtual std::int64_t MonotonicNs() const;
    // Pauses the calling thread for about ns nanoseconds (the system's
    // sleep by default; a test clock may advance itself instead).
    virtual void SleepNs(std::int64_t ns) const;
};

// The system's real clock and time zone.
const Clock& SystemClock();

// Clock used by the library; tests may install another (null restores the
// system clock). The clock object must outlive its use.
const Clock& CurrentClock();
void InstallClock(const Clock* clock);

// Polls ready() until it returns true or timeoutMs has passed on the
// current clock's monotonic time, pausing about pollMs between polls. Always
// polls at least once; true when ready() said so.
template <class Ready>
bool WaitUntil(Ready&& ready, unsigned timeoutMs, unsigned pollMs);

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
    const std::int64_t deadline =
        clock.MonotonicNs() + static_cast<std::int64_t>(timeoutMs) * 1'000'000;
    for (;;) {
        if (ready()) return true;
        const std::int64_t left = deadline - clock.MonotonicNs();
        if (left <= 0) return false;
        const std::int64_t poll = static_cast<std::int64_t>(pollMs) * 1'000'000;
        clock.SleepNs(poll < left ? poll : left);
    }
}

}  // namespace kovran::platform
