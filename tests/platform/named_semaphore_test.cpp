#include "platform/named_semaphore.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <string>

#include "platform/clock.h"
#include "platform/sys_error.h"
#include "platform/text_file.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace kovran::platform {
namespace {

// A name of this test run only, removed from the system at the end.
class ScopedName {
  public:
    explicit ScopedName(const std::string& tag)
        : name_("kovran-test-" + tag + "-" + std::to_string(getpid())) {
        NamedSemaphore::Unlink(name_);
    }
    ~ScopedName() { NamedSemaphore::Unlink(name_); }
    const std::string& get() const { return name_; }

  private:
    std::string name_;
};

TEST(SemaphoreName, SanitisesAndShortens) {
    EXPECT_EQ(SemaphoreName("vid_7e51_pid_0003_snLow_5_EP0"), "/vid_7e51_pid_0003_snLow_5_EP0");
    EXPECT_EQ(SemaphoreName("/var/log/k.log"), "/_var_log_k.log");
    EXPECT_EQ(SemaphoreName(""), "/");

    const std::string longA = std::string(300, 'a') + "/one";
    const std::string longB = std::string(300, 'a') + "/two";
    const std::string a = SemaphoreName(longA), b = SemaphoreName(longB);
    EXPECT_LE(a.size(), 250u);
    EXPECT_EQ(a.size(), b.size());
    EXPECT_NE(a, b);
    EXPECT_EQ(a.substr(0, 200), "/" + std::string(199, 'a'));
    EXPECT_EQ(a.find('/', 1), std::string::npos);
    EXPECT_EQ(SemaphoreName(longA), a);
    EXPECT_EQ(SemaphoreName(std::string(249, 'b')).size(), 250u);
    EXPECT_EQ(SemaphoreName(std::string(249, 'b')), "/" + std::string(249, 'b'));
}

// The endpoint-0 lock waits up to 10 s: its time-out must run on the one
// installable clock, as every other wait of the library does, not on the
// system's wall clock.
TEST(NamedSemaphore, ATimedWaitRunsOnTheInstalledClock) {
    ScopedName name("clock");
    auto sem = NamedSemaphore::Open(name.get(), 0);
    ASSERT_NE(sem, nullptr);
    test::FakeClock clock;
    std::int64_t waited = 0;
    {
        test::ClockScope scope(clock);
        EXPECT_FALSE(sem->Wait(300));
        waited = clock.SteadyNs();
    }
    EXPECT_GE(waited, 300'000'000) << "the wait did not go through the installed clock";
}

TEST(NamedSemaphore, CountsAndTimesOut) {
    ScopedName name("count");
    auto sem = NamedSemaphore::Open(name.get(), 2);
    ASSERT_NE(sem, nullptr);
    EXPECT_EQ(sem->name(), name.get());
    EXPECT_TRUE(sem->Wait(0));
    EXPECT_TRUE(sem->Wait(50));
    SetLastSystemError(0);
    EXPECT_FALSE(sem->Wait(0));
    EXPECT_EQ(LastSystemError(), kErrorTimeout);
    SetLastSystemError(0);
    EXPECT_FALSE(sem->Wait(50));
    EXPECT_EQ(LastSystemError(), kErrorTimeout);

    // A second opening shares the count and ignores its initial value.
    auto again = NamedSemaphore::Open(name.get(), 5);
    ASSERT_NE(again, nullptr);
    EXPECT_FALSE(again->Wait(0));
    sem->Release();
    EXPECT_TRUE(again->Wait(0));
    again->Release();
    {
        SemaphoreHold hold(sem.get(), 50);
        EXPECT_TRUE(hold.held());
        SemaphoreHold second(again.get(), 0);
        EXPECT_FALSE(second.held());
    }
    EXPECT_TRUE(sem->Wait(kWaitInfinite));
    SemaphoreHold none(nullptr, 0);
    EXPECT_FALSE(none.held());
}

// Each child appends its own begin and end marks while it holds the
// semaphore; with a working lock no two sections interleave in the file.
TEST(NamedSemaphore, ExcludesOtherProcesses) {
    ScopedName name("procs");
    test::TempDir dir;
    const std::string trace = dir / "trace";
    constexpr int kChildren = 4;
    constexpr int kRounds = 50;
    {
        auto sem = NamedSemaphore::Open(name.get(), 1);
        ASSERT_NE(sem, nullptr);
    }
    std::set<pid_t> children;
    for (int c = 0; c < kChildren; ++c) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            auto sem = NamedSemaphore::Open(name.get(), 1);
            if (!sem) _exit(2);
            const std::string id(1, static_cast<char>('A' + c));
            for (int r = 0; r < kRounds; ++r) {
                if (!sem->Wait(kWaitInfinite)) _exit(3);
                AppendTextCommitted(trace, id);
                AppendTextCommitted(trace, id);
                sem->Release();
            }
            _exit(0);
        }
        children.insert(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    const std::string bytes = test::ReadFileBytes(trace);
    ASSERT_EQ(bytes.size(), 2u * kChildren * kRounds);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        ASSERT_EQ(bytes[i], bytes[i + 1]) << "interleaved at " << i;
    }
}

TEST(NamedSemaphore, OpenFailureSetsTheSystemError) {
    SetLastSystemError(0);
    // Above SEM_VALUE_MAX the initial count is invalid.
    ScopedName name("invalid");
    EXPECT_EQ(NamedSemaphore::Open(name.get(), 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(LastSystemError(), kErrorInvalidParameter);
}

}  // namespace
}  // namespace kovran::platform
