#include "platform/clock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <new>
#include <thread>

#include "platform/sys_error.h"

namespace kovran::platform {

namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::int64_t kTicksPerSecond = 10'000'000;  // FILETIME units
constexpr std::int64_t kTicksPerDay = kTicksPerSecond * 86'400;
constexpr std::int64_t kUnixEpochTicks = 116'444'736'000'000'000;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochDays = 134'774;

// The one platform-level global: a seam through which tests move time.
std::atomic<const Clock*> gInstalledClock{nullptr};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil), free of the process's time zone state.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = FloorDiv(y, 400);
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, LocalTime& t) {
    z += 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    t.year = static_cast<int>(y);
    t.month = static_cast<int>(m);
    t.day = static_cast<int>(d);
}

LocalTime BrokenDownFromUnixNs(std::int64_t unixNs) {
    return UtcFromFileTime(FileTimeFromUnixNs(unixNs));
}

class RealClock final : public Clock {
  public:
    std::int64_t NowUnixNs() const override {
        timespec ts{};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
    }
    std::int64_t LocalOffsetSeconds(std::int64_t unixNs) const override {
        const time_t secs = static_cast<time_t>(FloorDiv(unixNs, kNsPerSecond));
        tm local{};
        if (::localtime_r(&secs, &local) == nullptr) return 0;
        return local.tm_gmtoff;
    }
};

}  // namespace

std::int64_t Clock::SteadyNs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Clock::Sleep(unsigned ms) const {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool Clock::WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                    unsigned timeoutMs, const std::function<bool()>& ready) const {
    return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

const Clock& SystemClock() {
    // Built in place and never destroyed: a host thread still inside the
    // library while the process exits must not find a destroyed clock
    // (its calls would reach a pure virtual function).
    alignas(RealClock) static unsigned char storage[sizeof(RealClock)];
    static const RealClock& clock = *::new (static_cast<void*>(storage)) RealClock();
    return clock;
}

const Clock& CurrentClock() {
    const Clock* c = gInstalledClock.load(std::memory_order_acquire);
    return c != nullptr ? *c : SystemClock();
}

void InstallClock(const Clock* clock) {
    gInstalledClock.store(clock, std::memory_order_release);
}

std::int64_t SteadyNowNs() {
    return CurrentClock().SteadyNs();
}

std::int64_t SteadyNowMs() {
    return SteadyNowNs() / 1'000'000;
}

void Sleep(unsigned ms) {
    CurrentClock().Sleep(ms);
}

std::int64_t ThreadCpuNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, unsigned timeoutMs,
             const std::function<bool()>& ready) {
    return CurrentClock().WaitFor(cv, lock, timeoutMs, ready);
}

LocalTime LocalNow() {
    const Clock& c = CurrentClock();
    const std::int64_t now = c.NowUnixNs();
    return BrokenDownFromUnixNs(now + c.LocalOffsetSeconds(now) * kNsPerSecond);
}

LocalTime UtcNow() {
    return BrokenDownFromUnixNs(CurrentClock().NowUnixNs());
}

FileTime FileTimeNowUtc() {
    return FileTimeFromUnixNs(CurrentClock().NowUnixNs());
}

FileTime FileTimeFromUnixNs(std::int64_t unixNs) {
    return FloorDiv(unixNs, 100) + kUnixEpochTicks;
}

std::int64_t UnixNsFromFileTime(FileTime ft) {
    // Far-future or far-past FILETIMEs do not fit in 64-bit nanoseconds;
    // they saturate rather than wrap to the other end of time.
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    if (ft < kMin + kUnixEpochTicks) return kMin;
    const std::int64_t ticks = ft - kUnixEpochTicks;
    if (ticks > kMax / 100) return kMax;
    if (ticks < kMin / 100) return kMin;
    return ticks * 100;
}

LocalTime UtcFromFileTime(FileTime ft) {
    LocalTime t;
    const std::int64_t days = FloorDiv(ft, kTicksPerDay);
    std::int64_t rem = ft - days * kTicksPerDay;  // 0 .. kTicksPerDay-1
    CivilFromDays(days - kUnixEpochDays, t);
    const std::int64_t secOfDay = rem / kTicksPerSecond;
    rem -= secOfDay * kTicksPerSecond;
    t.hour = static_cast<int>(secOfDay / 3600);
    t.minute = static_cast<int>(secOfDay / 60 % 60);
    t.second = static_cast<int>(secOfDay % 60);
    t.millisecond = static_cast<int>(rem / 10'000);
    return t;
}

FileTime FileTimeFromUtc(const LocalTime& t) {
    // Out-of-range fields carry into the next larger unit, as mktime does.
    const std::int64_t monthIndex = static_cast<std::int64_t>(t.month) - 1;
    const std::int64_t year = t.year + FloorDiv(monthIndex, 12);
    const auto month = static_cast<unsigned>(monthIndex - FloorDiv(monthIndex, 12) * 12 + 1);
    const std::int64_t days = DaysFromCivil(year, month, 1) + (t.day - 1) + kUnixEpochDays;
    const std::int64_t seconds =
        ((days * 24 + t.hour) * 60 + t.minute) * 60 + static_cast<std::int64_t>(t.second);
    return seconds * kTicksPerSecond + static_cast<std::int64_t>(t.millisecond) * 10'000;
}

std::optional<FileTime> FileLastWriteTime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        SetLastSystemErrorFromErrno();
        return std::nullopt;
    }
    return FileTimeFromUnixNs(static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNsPerSecond +
                              st.st_mtim.tv_nsec);
}

bool SetFileLastWriteTime(const std::string& path, FileTime ft) {
    const std::int64_t ns = UnixNsFromFileTime(ft);
    timespec times[2]{};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(FloorDiv(ns, kNsPerSecond));
    times[1].tv_nsec = static_cast<long>(ns - FloorDiv(ns, kNsPerSecond) * kNsPerSecond);
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        SetLastSystemErrorFromErrno();
        return false;
    }
    return true;
}

}  // namespace kovran::platform
