#include "platform/process_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/sys_error.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace kovran::platform {
namespace {

// A child process that takes the lock, reports it through a pipe and then
// holds it until told to let go or killed.
class Holder {
  public:
    Holder(const std::string& name, const std::string& dir) {
        int toParent[2], toChild[2];
        if (::pipe(toParent) != 0 || ::pipe(toChild) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            auto lock = ProcessLock::Open(name, dir);
            ProcessLock::Hold hold = lock ? lock->Acquire(0) : ProcessLock::Hold();
            const char state = hold.held() ? 'H' : 'F';
            if (::write(toParent[1], &state, 1) != 1) _exit(3);
            char go;
            if (::read(toChild[0], &go, 1) != 1) _exit(4);
            _exit(0);
        }
        ::close(toParent[1]);
        ::close(toChild[0]);
        report_ = toParent[0];
        release_ = toChild[1];
    }
    ~Holder() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(report_);
        ::close(release_);
    }
    // True when the child holds the lock.
    bool Holds() {
        char state = 0;
        return ::read(report_, &state, 1) == 1 && state == 'H';
    }
    void Release() {
        const char go = 'g';
        ASSERT_EQ(::write(release_, &go, 1), 1);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    void Kill() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int report_ = -1;
    int release_ = -1;
};

class ProcessLockTest : public ::testing::Test {
  protected:
    std::string Name(const std::string& tag) const {
        return "test-" + tag + "-" + std::to_string(::getpid());
    }
    test::TempDir dir;
};

TEST_F(ProcessLockTest, FileNamesAreSanitisedAndShortened) {
    EXPECT_EQ(ProcessLockFileName("_var_log_KovranMS_scanapp"),
              "kovran-_var_log_KovranMS_scanapp.lock");
    EXPECT_EQ(ProcessLockFileName("a/b"), "kovran-a_b.lock");
    const std::string longA = std::string(300, 'a') + "one";
    const std::string longB = std::string(300, 'a') + "two";
    const std::string a = ProcessLockFileName(longA), b = ProcessLockFileName(longB);
    EXPECT_LE(a.size(), 200u);
    EXPECT_EQ(a.size(), b.size());
    EXPECT_NE(a, b);
    EXPECT_EQ(a, ProcessLockFileName(longA));
}

TEST_F(ProcessLockTest, ALockOfAKilledHolderIsFreeAtOnce) {
    const std::string name = Name("killed");
    auto lock = ProcessLock::Open(name, dir.path());
    ASSERT_TRUE(lock);
    Holder child(name, dir.path());
    ASSERT_TRUE(child.Holds());
    EXPECT_FALSE(lock->Acquire(0).held());
    child.Kill();
    // The kernel released the lock with the process: no wait at all.
    test::FakeClock clock;
    test::ClockScope scope(clock);
    EXPECT_TRUE(lock->Acquire(1000).held());
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(ProcessLockTest, AContendedWaitEndsOnTimeOutAndTheHolderReleases) {
    const std::string name = Name("contend");
    auto lock = ProcessLock::Open(name, dir.path());
    ASSERT_TRUE(lock);
    Holder child(name, dir.path());
    ASSERT_TRUE(child.Holds());
    {
        test::FakeClock clock;
        test::ClockScope scope(clock);
        SetLastSystemError(0);
        EXPECT_FALSE(lock->Acquire(50).held());
        EXPECT_EQ(LastSystemError(), kErrorTimeout);
        EXPECT_EQ(clock.SteadyNs(), 50'000'000);  // the whole bound, on the clock
        EXPECT_GE(clock.Sleeps().size(), 50u);
    }
    child.Release();
    ProcessLock::Hold hold = lock->Acquire(0);
    EXPECT_TRUE(hold.held());
    // While this process holds it, another one cannot take it.
    Holder second(name, dir.path());
    EXPECT_FALSE(second.Holds());
}

TEST_F(ProcessLockTest, AChildForkedDuringAHoldGetsNoShareOfIt) {
    const std::string name = Name("fork");
    auto lock = ProcessLock::Open(name, dir.path());
    ASSERT_TRUE(lock);
    ProcessLock::Hold hold = lock->Acquire(0);
    ASSERT_TRUE(hold.held());
    int done[2];
    int running[2];
    ASSERT_EQ(::pipe(done), 0);
    ASSERT_EQ(::pipe(running), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Lives on without ever touching the lock, with the parent's hold
        // copied on its stack; its end ends that copy as well. It says when
        // it runs (its fork handlers have run by then): until that moment
        // the kernel cannot know it will not keep the lock.
        if (::write(running[1], "r", 1) != 1) _exit(3);
        char c;
        if (::read(done[0], &c, 1) != 1) _exit(2);
        hold = ProcessLock::Hold();
        _exit(0);
    }
    char c;
    ASSERT_EQ(::read(running[0], &c, 1), 1);
    ::close(running[0]);
    ::close(running[1]);
    hold = ProcessLock::Hold();
    Holder other(name, dir.path());
    EXPECT_TRUE(other.Holds()) << "the forked child kept the lock taken";
    ASSERT_EQ(::write(done[1], "x", 1), 1);
    ::waitpid(child, nullptr, 0);
    ::close(done[0]);
    ::close(done[1]);
}

TEST_F(ProcessLockTest, AChildForkedWhileAThreadWaitsGetsNoShareOfTheLock) {
    const std::string name = Name("fork-wait");
    auto lock = ProcessLock::Open(name, dir.path());
    ASSERT_TRUE(lock);
    ProcessLock::Hold first = lock->Acquire(0);
    ASSERT_TRUE(first.held());
    // A second thread waits for the lock, its description already open.
    std::atomic<bool> taken{false};
    std::atomic<bool> letGo{false};
    std::thread waiter([&] {
        const ProcessLock::Hold hold = lock->Acquire(5000);
        taken = hold.held();
        while (!letGo) ::usleep(1000);
    });
    ::usleep(50'000);
    // A host forks (a worker that never execs) while that thread waits.
    int done[2];
    int running[2];
    ASSERT_EQ(::pipe(done), 0);
    ASSERT_EQ(::pipe(running), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Running, so past its fork handlers.
        if (::write(running[1], "r", 1) != 1) _exit(3);
        char c;
        if (::read(done[0], &c, 1) != 1) _exit(2);
        _exit(0);
    }
    char c;
    ASSERT_EQ(::read(running[0], &c, 1), 1);
    ::close(running[0]);
    ::close(running[1]);
    first = ProcessLock::Hold();
    while (!taken) ::usleep(1000);
    letGo = true;
    waiter.join();
    // The waiter took the lock and gave it back: it is free for everyone.
    Holder other(name, dir.path());
    EXPECT_TRUE(other.Holds()) << "the forked child keeps the waiting thread's lock taken";
    ASSERT_EQ(::write(done[1], "x", 1), 1);
    ::waitpid(child, nullptr, 0);
    ::close(done[0]);
    ::close(done[1]);
}

TEST_F(ProcessLockTest, ThreadsOfOneProcessExcludeEachOther) {
    const std::string name = Name("threads");
    auto lock = ProcessLock::Open(name, dir.path());
    ASSERT_TRUE(lock);
    // One lock object and two objects of the same name alike.
    auto other = ProcessLock::Open(name, dir.path());
    ASSERT_TRUE(other);
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    auto work = [&](const ProcessLock& l) {
        for (int i = 0; i < 200; ++i) {
            ProcessLock::Hold hold = l.Acquire(5000);
            if (!hold.held()) {
                overlaps.fetch_add(1000);
                continue;
            }
            if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
            std::this_thread::yield();
            inside.fetch_sub(1);
        }
    };
    std::thread a(work, std::cref(*lock)), b(work, std::cref(*lock)), c(work, std::cref(*other));
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(overlaps.load(), 0);
}

TEST_F(ProcessLockTest, AStaleLockFileIsTakenAndANewOneIsOpenToEveryone) {
    const std::string name = Name("stale");
    const std::string path = dir / ProcessLockFileName(name);
    {
        std::FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_TRUE(f);
        std::fputs("left by a crashed process", f);
        std::fclose(f);
    }
    auto lock = ProcessLock::Open(name, dir.path());
    ASSERT_TRUE(lock);
    EXPECT_EQ(lock->path(), path);
    EXPECT_TRUE(lock->Acquire(0).held());

    const mode_t old = ::umask(077);
    auto fresh = ProcessLock::Open(Name("fresh"), dir.path());
    ::umask(old);
    ASSERT_TRUE(fresh);
    struct stat st {};
    ASSERT_EQ(::stat(fresh->path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    // No temporary file is left beside it.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 2);
}

TEST_F(ProcessLockTest, AMissingOrReadOnlyDirectoryGivesNoLock) {
    SetLastSystemError(0);
    EXPECT_FALSE(ProcessLock::Open(Name("missing"), dir / "absent"));
    EXPECT_EQ(LastSystemError(), kErrorFileNotFound);

    // A lock file already there is usable in a directory that became
    // read-only.
    const std::string ro = dir / "ro";
    std::filesystem::create_directory(ro);
    ASSERT_TRUE(ProcessLock::Open(Name("there"), ro));
    ASSERT_EQ(::chmod(ro.c_str(), 0555), 0);
    auto there = ProcessLock::Open(Name("there"), ro);
    ASSERT_TRUE(there);
    EXPECT_TRUE(there->Acquire(0).held());
    // A new one cannot be made there (root ignores the mode: /proc refuses
    // new files to everyone).
    const std::string readOnly = ::geteuid() == 0 ? std::string("/proc") : ro;
    EXPECT_FALSE(ProcessLock::Open(Name("new"), readOnly));
    ::chmod(ro.c_str(), 0755);
}

}  // namespace
}  // namespace kovran::platform
