#include "platform/clock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <random>

#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace kovran::platform {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;

LocalTime Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    LocalTime t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    t.millisecond = ms;
    return t;
}

void ExpectSame(const LocalTime& a, const LocalTime& b) {
    EXPECT_EQ(a.year, b.year);
    EXPECT_EQ(a.month, b.month);
    EXPECT_EQ(a.day, b.day);
    EXPECT_EQ(a.hour, b.hour);
    EXPECT_EQ(a.minute, b.minute);
    EXPECT_EQ(a.second, b.second);
    EXPECT_EQ(a.millisecond, b.millisecond);
}

// A clock that stands still wherever the test puts it.
class FixedClock final : public Clock {
  public:
    FixedClock(std::int64_t unixNs, std::int64_t offset) : ns_(unixNs), offset_(offset) {}
    std::int64_t NowUnixNs() const override { return ns_; }
    std::int64_t LocalOffsetSeconds(std::int64_t) const override { return offset_; }

  private:
    std::int64_t ns_;
    std::int64_t offset_;
};

class ClockInstall {
  public:
    explicit ClockInstall(const Clock* c) { InstallClock(c); }
    ~ClockInstall() { InstallClock(nullptr); }
};

TEST(FileTime, KnownDates) {
    struct Case {
        LocalTime t;
        FileTime ft;
    } cases[] = {
        {Make(1601, 1, 1), 0},
        {Make(1970, 1, 1), 116444736000000000},
        {Make(2000, 2, 29), 125962560000000000},
        {Make(2000, 3, 1), 125963424000000000},
        {Make(2026, 12, 31, 23, 59, 59), 134432351990000000},
        {Make(2026, 12, 31, 23, 59, 59, 999), 134432351999990000},
        {Make(1900, 3, 1), 94405824000000000},
        {Make(1600, 12, 31, 23, 59, 59), -kTicksPerSecond},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ft);
        EXPECT_EQ(FileTimeFromUtc(c.t), c.ft);
        ExpectSame(UtcFromFileTime(c.ft), c.t);
    }
    EXPECT_EQ(FileTimeFromUnixNs(0), 116444736000000000);
    EXPECT_EQ(UnixNsFromFileTime(116444736000000000), 0);
    // Sub-tick nanoseconds round toward the past, before and after 1970.
    EXPECT_EQ(FileTimeFromUnixNs(199), 116444736000000001);
    EXPECT_EQ(FileTimeFromUnixNs(-1), 116444735999999999);
}

TEST(FileTime, AgreesWithTheCRuntimeOverManyInstants) {
    std::mt19937_64 rng(1234);
    std::uniform_int_distribution<std::int64_t> secs(-11'644'473'600LL, 32'503'680'000LL);
    for (int i = 0; i < 2000; ++i) {
        const time_t s = static_cast<time_t>(secs(rng));
        tm ref{};
        ASSERT_NE(gmtime_r(&s, &ref), nullptr);
        // Whole seconds in FILETIME units: nanoseconds would not reach year 3000.
        const FileTime ft = static_cast<std::int64_t>(s) * kTicksPerSecond + 116444736000000000;
        const LocalTime t = UtcFromFileTime(ft);
        ASSERT_EQ(t.year, ref.tm_year + 1900) << s;
        ASSERT_EQ(t.month, ref.tm_mon + 1) << s;
        ASSERT_EQ(t.day, ref.tm_mday) << s;
        ASSERT_EQ(t.hour, ref.tm_hour) << s;
        ASSERT_EQ(t.minute, ref.tm_min) << s;
        ASSERT_EQ(t.second, ref.tm_sec) << s;
        ASSERT_EQ(FileTimeFromUtc(t), ft) << s;
    }
}

TEST(FileTime, OutOfRangeFieldsCarryAndExtremesSaturate) {
    EXPECT_EQ(FileTimeFromUtc(Make(2026, 13, 1)), FileTimeFromUtc(Make(2027, 1, 1)));
    EXPECT_EQ(FileTimeFromUtc(Make(2026, 0, 1)), FileTimeFromUtc(Make(2025, 12, 1)));
    EXPECT_EQ(FileTimeFromUtc(Make(2026, 2, 29)), FileTimeFromUtc(Make(2026, 3, 1)));
    EXPECT_EQ(FileTimeFromUtc(Make(2026, 3, 1, 24)), FileTimeFromUtc(Make(2026, 3, 2)));
    EXPECT_EQ(UnixNsFromFileTime(INT64_MAX), INT64_MAX);
    EXPECT_EQ(UnixNsFromFileTime(INT64_MIN), INT64_MIN);
}

TEST(Clock, InstalledClockDrivesTheNowFunctions) {
    // 2026-12-31 23:30:15.250 UTC, local time one hour ahead.
    const std::int64_t ns =
        UnixNsFromFileTime(FileTimeFromUtc(Make(2026, 12, 31, 23, 30, 15, 250)));
    FixedClock fixed(ns, 3600);
    {
        ClockInstall install(&fixed);
        EXPECT_EQ(&CurrentClock(), &fixed);
        ExpectSame(UtcNow(), Make(2026, 12, 31, 23, 30, 15, 250));
        ExpectSame(LocalNow(), Make(2027, 1, 1, 0, 30, 15, 250));
        EXPECT_EQ(FileTimeNowUtc(), FileTimeFromUtc(Make(2026, 12, 31, 23, 30, 15, 250)));
    }
    EXPECT_EQ(&CurrentClock(), &SystemClock());
}

TEST(Clock, PausesAndWaitsGoThroughTheInstalledClock) {
    test::FakeClock fake;
    {
        test::ClockScope scope(fake);
        const std::int64_t wall = fake.NowUnixNs();
        const std::int64_t steady = SteadyNowNs();
        Sleep(1000);
        Sleep(7);
        // No real time passed, yet both clocks moved by the pauses.
        EXPECT_EQ(SteadyNowNs() - steady, 1'007'000'000);
        EXPECT_EQ(SteadyNowMs() - steady / 1'000'000, 1007);
        EXPECT_EQ(fake.NowUnixNs() - wall, 1'007'000'000);
        EXPECT_EQ(fake.Sleeps(), (std::vector<unsigned>{1000, 7}));

        // A wait whose condition holds costs nothing; one that never holds
        // jumps to its deadline and reports so.
        std::mutex m;
        std::condition_variable cv;
        std::unique_lock<std::mutex> lock(m);
        EXPECT_TRUE(WaitFor(cv, lock, 500, [] { return true; }));
        EXPECT_EQ(SteadyNowNs() - steady, 1'007'000'000);
        EXPECT_FALSE(WaitFor(cv, lock, 500, [] { return false; }));
        EXPECT_EQ(SteadyNowNs() - steady, 1'507'000'000);
    }
    EXPECT_EQ(&CurrentClock(), &SystemClock());
}

TEST(Clock, ClockScopesNest) {
    test::FakeClock outer;
    test::FakeClock inner;
    test::ClockScope a(outer);
    {
        test::ClockScope b(inner);
        Sleep(5);
    }
    EXPECT_EQ(&CurrentClock(), &outer);
    Sleep(3);
    EXPECT_EQ(inner.SleptMs(), 5u);
    EXPECT_EQ(outer.SleptMs(), 3u);
}

TEST(Clock, SystemClockPausesAndTimesOutForReal) {
    // Lower bounds only: a loaded machine may take longer, never shorter.
    const Clock& real = SystemClock();
    const std::int64_t before = real.SteadyNs();
    real.Sleep(2);
    EXPECT_GE(real.SteadyNs() - before, 2'000'000);
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock<std::mutex> lock(m);
    const std::int64_t waitFrom = real.SteadyNs();
    EXPECT_FALSE(real.WaitFor(cv, lock, 3, [] { return false; }));
    EXPECT_GE(real.SteadyNs() - waitFrom, 3'000'000);
    EXPECT_TRUE(real.WaitFor(cv, lock, 10'000, [] { return true; }));
}

TEST(Clock, FileLastWriteTimeRoundTrip) {
    test::TempDir dir;
    const std::string path = dir / "f";
    test::WriteFileBytes(path, "x");
    const FileTime ft = FileTimeFromUtc(Make(2001, 9, 9, 1, 46, 40, 123)) + 4567;
    ASSERT_TRUE(SetFileLastWriteTime(path, ft));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1'000'000'000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123'456'700);
    EXPECT_EQ(FileLastWriteTime(path), ft);

    EXPECT_FALSE(FileLastWriteTime(dir / "missing").has_value());
    EXPECT_FALSE(SetFileLastWriteTime(dir / "missing", ft));
}

}  // namespace
}  // namespace kovran::platform
