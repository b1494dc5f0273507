// The unload with host calls still inside the library: it waits for them
// (bounded), gives back the records only when none is inside, and late calls
// get -17 and their "while detaching" line, never a crash.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "KovranMS.h"
#include "api/calls_in_flight.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/lifecycle.h"
#include "api/log_fixture.h"
#include "api/log_state.h"
#include "support/hosted_library.h"
#include "support/scoped_env.h"

namespace kovran::test {
namespace {

using Unload = LogFixture;

TEST_F(Unload, GivesBackTheRecordsOnceNoCallIsInside) {
    Ini("[General]\nLogTimeStamp=0\n");
    StartAtLoad();
    const std::string log = LogRecord().filePath;
    ProcessDetach();
    EXPECT_EQ(CallsInFlight(), 0);
    KVXSetLastResult(5);
    EXPECT_EQ(KVXGetLastResult(), KVX_ERR_DETACHING);
    const std::string bytes = ReadFileBytes(log);
    EXPECT_NE(bytes.find("KVXSetLastResult while detaching\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("KVXGetLastResult while detaching\r\n"), std::string::npos);
    // The records were given back: the log's record is a fresh one.
    EXPECT_EQ(LogRecord().filePath, "");
}

TEST_F(Unload, KeepsTheRecordsWhileACallStaysInside) {
    Ini("[General]\nLogTimeStamp=0\n");
    StartAtLoad();
    const std::string log = LogRecord().filePath;
    FakeClock stepping;
    ClockScope scope(stepping);
    {
        const CallInFlight inside;  // a host thread that does not come back
        ProcessDetach();
        EXPECT_GE(stepping.SteadyNs(), 2'000'000'000);  // it waited its bound
        EXPECT_EQ(CallsInFlight(), 1);
        EXPECT_EQ(LogRecord().filePath, log) << "the records were given back under a call";
        KVXSetLastResult(5);
        EXPECT_EQ(KVXGetLastResult(), KVX_ERR_DETACHING);
    }
    EXPECT_EQ(CallsInFlight(), 0);
    const std::string bytes = ReadFileBytes(log);
    EXPECT_NE(bytes.find("KVXSetLastResult while detaching\r\n"), std::string::npos) << bytes;
}

// A host whose threads are inside the library when it exits. Each run must
// end normally; before the calls were counted, about one run in six died
// (the log's lock and the clock destroyed under running calls).
TEST(HostExit, ThreadsInsideTheLibraryNeverCrashTheExit) {
    TempDir dir;
    const std::string config = dir / "config";
    std::filesystem::create_directories(config);
    // The log in memory: the late calls' lines cost no disk commit.
    const std::string logDir = "/dev/shm/kovran-exit-" + std::to_string(getpid());
    std::filesystem::create_directories(logDir);
    // The hosts' lock files carry the log path with '/' made '_'.
    struct RemoveAfter {
        std::string path;
        ~RemoveAfter() {
            std::filesystem::remove_all(path);
            std::string mangled = path;
            for (char& c : mangled)
                if (c == '/') c = '_';
            std::error_code ec;
            for (const auto& e : std::filesystem::directory_iterator("/dev/shm", ec))
                if (e.path().filename().string().rfind("kovran-" + mangled, 0) == 0)
                    std::filesystem::remove(e.path(), ec);
        }
    } removeAfter{logDir};
    {
        HostedLibrary copy(dir.path(),
                           ("[General]\nCnfDir=" + config + "\nLogPath=" + logDir + "\n").c_str());
    }
    const std::string library = dir / "libKovranMS.so";
    for (int run = 0; run < 30; ++run)
        ASSERT_EQ(RunProgram({BuiltDetachThreadsHostPath(), library, "4", "stop"}), 0)
            << "run " << run;
    // Calls that never leave: the unload waits its bound and keeps the
    // records. LeakSanitizer's own tracer cannot stop threads that still run
    // at exit (it crashes in any such host, library or not), so this run
    // leaves the leak check to the runs above.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string noLeakCheck = std::string(asan ? asan : "") + ":detect_leaks=0";
    {
        ScopedEnv env("ASAN_OPTIONS", noLeakCheck.c_str());
        ASSERT_EQ(RunProgram({BuiltDetachThreadsHostPath(), library, "4", "spin"}), 0);
    }
    // The spinning threads rotate the log (LogSize 4096) until the process
    // ends, possibly right after a rotation: their lines are in the log or
    // in its ".old".
    const std::string path = logDir + "/KovranMS_kovran_detach_threads_host.log";
    const std::string log = ReadFileBytes(path) + ReadFileBytes(path + ".old");
    EXPECT_NE(log.find("KVXGetLastResult while detaching\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kovran::test
