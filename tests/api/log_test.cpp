#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>

#include "api/config_dir.h"
#include "api/log.h"
#include "api/log_fixture.h"
#include "api/log_state.h"
#include "platform/clock.h"
#include "platform/process_lock.h"
#include "platform/text_file.h"

namespace kovran::test {
namespace {

using LogWriters = LogFixture;

TEST_F(LogWriters, EachWriterPutsItsExactBytesOnDisk) {
    Ini("[General]\nLogNew=1\n");
    StartAtLoad();
    const std::string header = LogBytes();
    ASSERT_EQ(header,
              std::string(kStamp) +
                  "-------------------------- 2026 12 09 - 13.05 -------------------------\r\n" +
                  LoadBanner());

    LogText("plain");
    LogPair("err - ", "message");
    LogTriple("a", "b", "c");
    LogQuad("1", "2", "3", "4");
    LogValue("dec", -5);
    LogValue("hex", 26, Radix::Hex);
    LogPairValue("war - ", "count", 12);
    LogPairValue("", "nofirst", 3);
    LogConcatValue("x", "y", "z", 9);
    LogText("unstamped", Stamp::Without);

    const std::string s = kStamp;
    EXPECT_EQ(LogBytes().substr(header.size()),
              s + "plain\r\n" +                   //
                  s + "err -  message\r\n" +      // "err - " then the joining blank
                  s + "a b c\r\n" +               //
                  s + "1 2 3 4\r\n" +             //
                  s + "dec -5\r\r\n" +            // numeric forms end in CR CR LF
                  s + "hex 0x001a\r\r\n" +        //
                  s + "war -  count  12\r\r\n" +  //
                  s + "nofirst  3\r\r\n" +        // an empty text loses its blank
                  s + "xyz 9\r\r\n" +             //
                  "unstamped\r\n");
}

TEST_F(LogWriters, NullAndEmptyTextsWriteNothing) {
    Ini("[General]\nLogTimeStamp=0\n");
    StartAtLoad();
    const std::size_t before = LogBytes().size();
    LogText(static_cast<const char*>(nullptr));
    LogText("");
    LogValue("", 3);
    LogValue(nullptr, 3);
    LogPair(nullptr, "x");
    LogTriple("a", nullptr, "c");
    LogQuad("a", "b", "c", nullptr);
    LogPairValue("a", nullptr, 1);
    LogConcatValue(nullptr, "b", "c", 1);
    EXPECT_EQ(LogBytes().size(), before);
    LogPair("", "second");
    EXPECT_EQ(LogBytes().substr(before), " second\r\n");
}

TEST_F(LogWriters, TextsAreCutAt256Characters) {
    Ini("[General]\nLogTimeStamp=0\n");
    StartAtLoad();
    const std::size_t before = LogBytes().size();
    const std::string exact(256, 'a');
    const std::string longer = std::string(256, 'b') + "c";
    LogText(exact.c_str());
    LogText(longer.c_str());
    LogPair(longer.c_str(), longer.c_str());
    EXPECT_EQ(LogBytes().substr(before), exact + "\r\n" + std::string(256, 'b') + "\r\n" +
                                             std::string(256, 'b') + " " + std::string(256, 'b') +
                                             "\r\n");
}

TEST_F(LogWriters, VerboseEchoesEveryCallButTheQuad) {
    Ini("[General]\nVerbose=1\n");
    StartAtLoad();
    testing::internal::CaptureStdout();
    LogText("t");
    LogPair("a", "b");
    LogTriple("a", "b", "c");
    LogQuad("q", "q", "q", "q");
    LogValue("v", 26, Radix::Hex);
    LogPairValue("p", "q", 1);
    LogConcatValue("x", "y", "z", 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "t\na b\na b c\nv 26\np q 1\nx y z 2\n");
}

TEST_F(LogWriters, LoggingOffWritesNoFileAndNoName) {
    Ini("[General]\nLog=0\n");
    StartAtLoad();
    LogText("never");
    EXPECT_FALSE(std::filesystem::exists(logPath()));
    EXPECT_EQ(LogFileNameNow(), "");
}

TEST_F(LogWriters, LogSizeMovesAFullLogToOldBeforeTheNextLine) {
    Ini("[General]\nLogSize=1000\nLogTimeStamp=0\n");
    StartAtLoad();
    WriteFileBytes(logPath() + ".old", "an older one");
    WriteFileBytes(logPath(), std::string(1000, 'x'));
    LogText("fits");  // 1000 bytes is not above the limit
    const std::string full = ReadFileBytes(logPath());
    ASSERT_EQ(full.size(), 1006u);
    LogText("next");
    EXPECT_EQ(ReadFileBytes(logPath() + ".old"), full);
    EXPECT_EQ(ReadFileBytes(logPath()), "next\r\n");
}

TEST_F(LogWriters, LogNewDecidesWhetherThePreviousRunSurvives) {
    WriteFileBytes(logPath(), "previous run\r\n");
    WriteFileBytes(logPath() + ".old", "older run\r\n");
    Ini("[General]\nLogNew=0\nLogTimeStamp=0\n");
    StartAtLoad();
    EXPECT_EQ(ReadFileBytes(logPath()),
              "previous run\r\n \r\n"
              "-------------------------- 2026 12 09 - 13.05 -------------------------\r\n" +
                  LoadBanner(false));
    EXPECT_TRUE(std::filesystem::exists(logPath() + ".old"));

    SetUp();
    Ini("[General]\nLogTimeStamp=0\n");
    StartAtLoad();
    EXPECT_EQ(ReadFileBytes(logPath()),
              "-------------------------- 2026 12 09 - 13.05 -------------------------\r\n" +
                  LoadBanner(false));
    EXPECT_FALSE(std::filesystem::exists(logPath() + ".old"));
}

TEST_F(LogWriters, FirstFormNeedsAnIniLogPath) {
    Ini("[General]\nLogTimeStamp=0\n");
    Names() = NamesFromPaths(libDir() + "/libKovranMS.so", "/opt/host/scanapp");
    LogRecord().loading = true;
    LogStart(LogStartForm::First);
    EXPECT_FALSE(LogRecord().on);
    LogText("lost");
    EXPECT_FALSE(std::filesystem::exists(logPath()));

    SetUp();
    const std::string own = dir / "own";
    std::filesystem::create_directories(own);
    Ini("[General]\nLogTimeStamp=0\nLogPath=" + own + "\n");
    StartAtLoad();  // the ini value wins over the configuration directory
    EXPECT_EQ(LogRecord().filePath, own + "/KovranMS_scanapp.log");
    EXPECT_NE(Count("-------------------------- 2026 12 09"), 0);
    EXPECT_FALSE(std::filesystem::exists(logPath()));
}

TEST_F(LogWriters, ANewDirectoryOutsideTheLoadMovesTheLog) {
    Ini("[General]\nLogTimeStamp=0\n");
    StartAtLoad();
    LogText("before");
    const std::string before = LogBytes();

    const std::string moved = dir / "moved";
    std::filesystem::create_directories(moved);
    Config().dir = moved;
    LogStart(LogStartForm::Reinit);
    const std::string newPath = moved + "/KovranMS_scanapp.log";
    EXPECT_FALSE(std::filesystem::exists(logPath()));
    EXPECT_EQ(ReadFileBytes(newPath),
              before + "log moved\r\n" + logPath() + "\r\n" + newPath + "\r\n" + libDir() +
                  "/libKovranMS.so ver. 2.2.5.5 ZKT 32 bit\r\n" + "/opt/host/scanapp\r\n");
}

TEST_F(LogWriters, DebugMaskReportsTheSemaphore) {
    Ini("[General]\nDebug=1\nLogTimeStamp=0\nLogNew=0\n");
    StartAtLoad();
    std::string expected = logPath().substr(0, logPath().size() - 4);
    for (char& c : expected)
        if (c == '/') c = '_';
    EXPECT_NE(LogBytes().find("LogSem " + expected + "\r\n"), std::string::npos) << LogBytes();
    EXPECT_EQ(LogRecord().debugMask, 1);
}

TEST_F(LogWriters, DatedNameBeginsANewFileWhenTheDayChanges) {
    Ini("[General]\nLogDate=1\nLogTimeStamp=0\n");
    StartAtLoad();
    const std::string day1 = configDir() + "/KovranMS_scanapp_20261209.log";
    EXPECT_EQ(LogFileNameNow(), day1);

    clock.Advance(11 * 3600);  // 00:05 on the 10th
    const std::string day2 = configDir() + "/KovranMS_scanapp_20261210.log";
    EXPECT_EQ(LogFileNameNow(), day2);
    LogText("second day");
    EXPECT_NE(ReadFileBytes(day1).find("changing log filename - day is changed\r\n"),
              std::string::npos);
    EXPECT_EQ(ReadFileBytes(day2), "second day\r\n");
    EXPECT_EQ(LogFileNameNow(), day2);
}

TEST_F(LogWriters, AWorkerThreadTracesWhileTheDayChanges) {
    // Acquisition threads test the debug mask and write while the host's
    // thread begins the next day's file (the mask is read again then).
    Ini("[General]\nLogDate=1\nLogTimeStamp=0\nDebug=4\n");
    StartAtLoad();
    const int kLines = 200;
    std::thread worker([] {
        for (int i = 0; i < kLines; ++i)
            if (LogDebug(kDebugAcquisition)) LogText("worker");
    });
    for (int day = 0; day < 20; ++day) {
        clock.Advance(24 * 3600);
        LogFileNameNow();
    }
    worker.join();
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(configDir())) {
        const std::string bytes = ReadFileBytes(entry.path());
        for (auto pos = bytes.find("worker\r\n"); pos != std::string::npos;
             pos = bytes.find("worker\r\n", pos + 1))
            ++found;
    }
    EXPECT_EQ(found, kLines);
}

TEST_F(LogWriters, PurgeKeepsLogDaysOfDatedLogs) {
    // The purge runs against UTC midnight minus (LogDays - 1) near-days of
    // 86 328.8 s.
    const std::string cfg = configDir();
    const platform::FileTime now = platform::FileTimeNowUtc();
    const platform::FileTime hour = 36000000000LL;
    struct Aged {
        std::string name;
        platform::FileTime written;
    } files[] = {
        {"today.log", now - hour},              // 12:05 today
        {"yesterday.log", now - 14 * hour},     // 23:05 yesterday
        {"lastweek.log", now - 24 * 7 * hour},  //
        {"keep.txt", now - 24 * 7 * hour},      // not a log
    };
    for (const Aged& f : files) {
        WriteFileBytes(cfg + "/" + f.name, "x");
        ASSERT_TRUE(platform::SetFileLastWriteTime(cfg + "/" + f.name, f.written));
    }

    Ini("[General]\nLogDate=1\nLogDays=2\n");
    StartAtLoad();
    EXPECT_TRUE(std::filesystem::exists(cfg + "/today.log"));
    EXPECT_TRUE(std::filesystem::exists(cfg + "/yesterday.log"));
    EXPECT_FALSE(std::filesystem::exists(cfg + "/lastweek.log"));
    EXPECT_TRUE(std::filesystem::exists(cfg + "/keep.txt"));

    SetUp();
    Ini("[General]\nLogDate=1\nLogDays=1\n");
    StartAtLoad();
    EXPECT_TRUE(std::filesystem::exists(cfg + "/today.log"));
    EXPECT_FALSE(std::filesystem::exists(cfg + "/yesterday.log"));

    // Keeping more days than there are since 1601 keeps everything: the
    // cut-off must not wrap into the future (21367997 days wraps to noon).
    for (const char* days : {"21367997", "2147483647"}) {
        WriteFileBytes(cfg + "/yesterday.log", "x");
        ASSERT_TRUE(platform::SetFileLastWriteTime(cfg + "/yesterday.log", now - 14 * hour));
        SetUp();
        Ini(std::string("[General]\nLogDate=1\nLogDays=") + days + "\n");
        StartAtLoad();
        EXPECT_TRUE(std::filesystem::exists(cfg + "/yesterday.log")) << days;
    }
}

// Real time, but tells a pipe when a wait first pauses.
class PauseReportingClock final : public FakeClock {
  public:
    explicit PauseReportingClock(int fd) : fd_(fd) {}
    std::int64_t SteadyNs() const override { return platform::Clock::SteadyNs(); }
    void Sleep(unsigned ms) const override {
        if (!reported_.exchange(true) && write(fd_, "W", 1) != 1) _exit(3);
        platform::Clock::Sleep(ms);
    }

  private:
    int fd_;
    mutable std::atomic<bool> reported_{false};
};

TEST_F(LogWriters, AWriterWaitsForTheLineOfAnotherProcess) {
    Ini("[General]\nLogTimeStamp=0\n");
    StartAtLoad();
    // Another process holds the file's lock while it writes a line; our
    // line must wait for it and come after it.
    auto other = platform::ProcessLock::Open(LogRecord().lockName, lockDir());
    ASSERT_TRUE(other);
    platform::ProcessLock::Hold hold = other->Acquire(0);
    ASSERT_TRUE(hold.held());
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PauseReportingClock reporting(report[1]);
        ClockScope scope(reporting);
        LogText("child line");
        if (write(report[1], "D", 1) != 1) _exit(2);
        _exit(0);
    }
    char first = 0;
    ASSERT_EQ(read(report[0], &first, 1), 1);
    EXPECT_EQ(first, 'W') << "the other process wrote without waiting";
    platform::AppendTextCommitted(LogRecord().filePath, "holder line\n");
    hold = platform::ProcessLock::Hold();
    int status = 0;
    waitpid(child, &status, 0);
    close(report[0]);
    close(report[1]);
    const std::string bytes = LogBytes();
    const auto holder = bytes.find("holder line\r\n");
    const auto mine = bytes.find("child line\r\n");
    ASSERT_NE(holder, std::string::npos);
    ASSERT_NE(mine, std::string::npos);
    EXPECT_LT(holder, mine);
}

// Splits a log into its lines; false when a line is not whole.
bool SplitLines(const std::string& bytes, std::vector<std::string>& lines) {
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos) return false;
        lines.push_back(bytes.substr(pos, end - pos));
        pos = end + 2;
    }
    return true;
}

TEST_F(LogWriters, TwoProcessesRotatingOneLogLoseAndDoubleNoLine) {
    // The rotation (size check, delete the old ".old", rename, new file) is
    // what the lock protects: two processes that rotate at once would
    // delete each other's ".old" or write into a file being renamed. Each
    // round writes between one and two limits' worth of lines, so that
    // exactly one rotation keeps every line in the log or its ".old". The
    // log lives in memory (/dev/shm) so that lines are quick and the two
    // writers meet at the rotation.
    // Real time: the writers really wait for each other, and a fake clock's
    // instant pauses would run their 1000 ms bound out in microseconds.
    ClockScope realTime(platform::SystemClock());
    constexpr int kLimit = 30000;
    constexpr int kLinesEach = 600;  // 2 x 600 lines of 38 bytes on disk
    const std::string shared = "/dev/shm/kovran-rotate-" + std::to_string(getpid());
    std::filesystem::create_directories(shared);
    struct RemoveAfter {
        std::string path;
        ~RemoveAfter() { std::filesystem::remove_all(path); }
    } removeAfter{shared};
    Ini("[General]\nLogTimeStamp=0\nLogPath=" + shared + "\nLogSize=" + std::to_string(kLimit) +
        "\n");
    StartAtLoad();
    const std::string log = LogRecord().filePath;
    for (int round = 0; round < 6; ++round) {
        std::filesystem::remove(log + ".old");
        WriteFileBytes(log, "");
        int start[2];
        ASSERT_EQ(pipe(start), 0);
        pid_t children[2];
        for (int c = 0; c < 2; ++c) {
            children[c] = fork();
            ASSERT_GE(children[c], 0);
            if (children[c] == 0) {
                close(start[1]);
                char go;
                if (read(start[0], &go, 1) != 0) _exit(2);  // both start together
                char line[64];
                for (int i = 0; i < kLinesEach; ++i) {
                    std::snprintf(line, sizeof line, "%c%03d................................",
                                  'A' + c, i);
                    LogText(line);
                }
                _exit(0);
            }
        }
        close(start[0]);
        close(start[1]);
        for (pid_t c : children) waitpid(c, nullptr, 0);

        const std::string old = ReadFileBytes(log + ".old");
        const std::string current = ReadFileBytes(log);
        EXPECT_GT(old.size(), static_cast<std::size_t>(kLimit)) << "round " << round;
        EXPECT_LE(current.size(), static_cast<std::size_t>(kLimit)) << "round " << round;
        std::vector<std::string> lines;
        ASSERT_TRUE(SplitLines(old, lines)) << "round " << round;
        ASSERT_TRUE(SplitLines(current, lines)) << "round " << round;
        // Every line once, whole, and each process's lines in its order.
        int next[2] = {0, 0};
        for (const std::string& line : lines) {
            ASSERT_EQ(line.size(), 36u) << line;
            const int c = line[0] - 'A';
            ASSERT_TRUE(c == 0 || c == 1) << line;
            EXPECT_EQ(std::stoi(line.substr(1, 3)), next[c]) << "round " << round;
            next[c] = std::stoi(line.substr(1, 3)) + 1;
        }
        EXPECT_EQ(next[0], kLinesEach) << "round " << round;
        EXPECT_EQ(next[1], kLinesEach) << "round " << round;
        EXPECT_EQ(lines.size(), 2u * kLinesEach) << "round " << round;
    }
}

TEST_F(LogWriters, AWriterKilledWhileHoldingTheLockDelaysNoLine) {
    Ini("[General]\nLogTimeStamp=0\n");
    StartAtLoad();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Killed in the middle of its line, with the file's lock taken.
        auto lock = platform::ProcessLock::Open(LogRecord().lockName, lockDir());
        platform::ProcessLock::Hold hold = lock->Acquire(0);
        const char state = hold.held() ? 'H' : 'F';
        if (write(ready[1], &state, 1) != 1) _exit(2);
        pause();
        _exit(0);
    }
    char state = 0;
    const bool reported = read(ready[0], &state, 1) == 1;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    ASSERT_TRUE(reported);
    ASSERT_EQ(state, 'H');

    FakeClock counting;
    ClockScope scope(counting);
    for (int i = 0; i < 20; ++i) LogText("after the crash");
    EXPECT_EQ(Count("after the crash\r\n"), 20);
    EXPECT_TRUE(counting.Sleeps().empty()) << "a line waited for a dead holder";
}

TEST_F(LogWriters, AMissingDirectoryOrDeletedFileNeverFailsTheCaller) {
    Ini("[General]\nLogPath=" + (dir / "absent") + "\nLogTimeStamp=0\n");
    StartAtLoad();
    LogText("into nowhere");
    EXPECT_FALSE(std::filesystem::exists(dir / "absent"));

    SetUp();
    Ini("[General]\nLogTimeStamp=0\n");
    StartAtLoad();
    std::filesystem::remove(logPath());
    LogText("again");
    EXPECT_EQ(ReadFileBytes(logPath()), "again\r\n");
}

TEST_F(LogWriters, TheHostNameKeepsItsCaseAfterTheLoad) {
    hostName = "ScanApp";
    Ini("[General]\nLogDate=1\nLogNew=0\nLogTimeStamp=0\n");
    StartAtLoad();
    const std::string day1 = configDir() + "/KovranMS_ScanApp_20261209.log";
    EXPECT_EQ(LogFileNameNow(), day1);
    LogText("first day");
    // An initialise runs the log start again: the same file goes on.
    LogStart(LogStartForm::Reinit);
    EXPECT_EQ(LogFileNameNow(), day1);
    EXPECT_NE(ReadFileBytes(day1).find("first day\r\n"), std::string::npos);
    EXPECT_EQ(Count("log moved"), 0);

    clock.Advance(24 * 3600);
    EXPECT_EQ(LogFileNameNow(), configDir() + "/KovranMS_ScanApp_20261210.log");
    EXPECT_TRUE(std::filesystem::exists(day1));
    EXPECT_EQ(Count("StiSvcInstance"), 0);
}

TEST_F(LogWriters, TheServiceHostIsRecognisedInAnyCase) {
    for (const char* host : {"stisvc", "StiSvc.exe"}) {
        SetUp();
        hostName = host;
        Ini("[General]\nLogTimeStamp=0\n");
        StartAtLoad();
        EXPECT_EQ(Count("StiSvcInstance\r\n"), 1) << host;
        EXPECT_EQ(LogRecord().filePath,
                  configDir() + "/KovranMS_" + std::string(host).substr(0, 6) + ".log");
    }
}

TEST_F(LogWriters, ALogMovesToAnotherFileSystemWhole) {
    // /dev/shm is memory-backed: a rename from the test's directory to it
    // crosses file systems.
    struct stat here {
    }, there{};
    ASSERT_EQ(stat(dir.path().c_str(), &here), 0);
    ASSERT_EQ(stat("/dev/shm", &there), 0);
    if (here.st_dev == there.st_dev) GTEST_SKIP() << "/dev/shm is on the test's file system";
    const std::string moved = "/dev/shm/kovran-log-move-" + std::to_string(getpid());
    std::filesystem::create_directories(moved);

    Ini("[General]\nLogTimeStamp=0\n");
    StartAtLoad();
    LogText("before the move");
    const std::string before = LogBytes();
    Config().dir = moved;
    LogStart(LogStartForm::Reinit);
    const std::string newPath = moved + "/KovranMS_scanapp.log";
    const std::string after = ReadFileBytes(newPath);
    std::filesystem::remove_all(moved);
    EXPECT_FALSE(std::filesystem::exists(logPath()));
    EXPECT_EQ(after.substr(0, before.size()), before);
    EXPECT_NE(after.find("log moved\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kovran::test
