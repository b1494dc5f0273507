#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <optional>

#include <cstring>
#include <stdexcept>
#include <string>

#include "KovranMS.h"
#include "api/calls_in_flight.h"
#include "api/error_text.h"
#include "api/frame.h"
#include "api/frame_state.h"
#include "api/host_buffer.h"
#include "api/log_fixture.h"
#include "platform/clock.h"
#include "platform/sys_error.h"

namespace kovran::test {
namespace {

class FrameTest : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        Ini("[General]\nLogTimeStamp=0\nLogNew=1\n");
        StartAtLoad();
        mark_ = LogBytes().size();
    }
    // What was logged since the fixture started.
    std::string Logged() const { return LogBytes().substr(mark_); }
    void OpenDevice(int handle) {
        Frame().currentHandle = handle;
        Frame().deviceState = DeviceState::Open;
    }

  private:
    std::size_t mark_ = 0;
};

TEST_F(FrameTest, ErrorTextSizesAndFailures) {
    const std::string message = "Invalid parameter.";
    const int needed = static_cast<int>(message.size()) + 1;
    char buf[64];

    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(ErrorText(-3, buf, 0), needed);  // size query writes nothing
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(ErrorText(-3, buf, 0x10000), needed);  // 16 bits of it: 0

    SetLastResult(7);
    EXPECT_EQ(ErrorText(-3, buf, needed), needed);
    EXPECT_STREQ(buf, message.c_str());
    EXPECT_EQ(LastResult(), 7);  // success leaves the last result alone

    EXPECT_EQ(ErrorText(-3, buf, needed - 1), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(LastResult(), -3);
    EXPECT_EQ(ErrorText(-3, nullptr, 10), -1);
    EXPECT_EQ(Logged(),
              "err -  error message buffer too small\r\nerr -  error message buffer invalid\r\n");

    EXPECT_EQ(ErrorMessage(1), "Unknown error.");
    EXPECT_EQ(ErrorMessage(-16), "Unknown error.");
    EXPECT_EQ(ErrorMessage(9), ErrorMessage(-9));

    EXPECT_EQ(ResultName(KVX_ERR_INV_PARAMETER), "KVX_ERR_INV_PARAMETER");
    EXPECT_EQ(ResultName(0), "KVX_OK");
    EXPECT_EQ(ResultName(-114), "KVX_ERR_SEQUENCE2");
    EXPECT_EQ(ResultName(9), "KVX_WAR_NO_POWER");
    EXPECT_EQ(ResultName(-16), "");
}

TEST_F(FrameTest, TheHostBufferRuleAnswersEachExportAsItAlwaysHas) {
    const std::string text = "abc";
    char buf[300];
    const auto fill = [&] { std::memset(buf, 'x', sizeof buf); };

    // Size queries: nothing written, the length + 1.
    fill();
    EXPECT_EQ(CopyToHost(text, {buf, 0}, HostBufferRule::DeviceList), 4);
    EXPECT_EQ(CopyToHost(text, {nullptr, -5}, HostBufferRule::DeviceList), 4);
    EXPECT_EQ(CopyToHost(text, {nullptr, 10}, HostBufferRule::Version), 4);
    EXPECT_EQ(CopyToHost(text, {buf, 0x10000}, HostBufferRule::Message), 4);  // 16 bits: 0
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(Logged(), "");

    // Null and too small buffers: -1 (the path field: -3), last result -3.
    SetLastResult(0);
    EXPECT_EQ(CopyToHost(text, {nullptr, 10}, HostBufferRule::DeviceList), -1);
    EXPECT_EQ(LastResult(), -3);
    SetLastResult(0);
    EXPECT_EQ(CopyToHost(text, {nullptr, 0}, HostBufferRule::PathField), -3);
    EXPECT_EQ(LastResult(), -3);
    fill();
    EXPECT_EQ(CopyToHost(text, {buf, 3}, HostBufferRule::DeviceList), -1);
    EXPECT_EQ(buf[0], '\0');  // left empty
    fill();
    EXPECT_EQ(CopyToHost(text, {buf, 3}, HostBufferRule::Version), -1);
    EXPECT_EQ(buf[0], 'x');  // left untouched
    EXPECT_EQ(Logged(),
              "err -  device list buffer invalid\r\n"
              "err -  device list buffer too small\r\n"
              "abc\r\n"
              "err -  size too short\r\n");

    // Copies: the text and its terminator; what follows depends on the export.
    SetLastResult(5);
    fill();
    EXPECT_EQ(CopyToHost(text, {buf, 4}, HostBufferRule::Message), 4);
    EXPECT_EQ(LastResult(), 5);
    EXPECT_EQ(CopyToHost(text, {buf, 4}, HostBufferRule::DeviceList), 4);
    EXPECT_EQ(LastResult(), 0);
    EXPECT_EQ(std::string(buf, 5), std::string("abc\0x", 5));
    SetLastResult(5);
    EXPECT_EQ(CopyToHost(text, {buf, 8}, HostBufferRule::Version), 3);
    EXPECT_EQ(LastResult(), 0);
    EXPECT_EQ(std::string(buf, 9), std::string("abc\0\0\0\0\0x", 9));  // cleared for its length
    fill();
    EXPECT_EQ(CopyToHost(std::string(400, 'p'), {buf, 0}, HostBufferRule::PathField), 0);
    EXPECT_EQ(std::string(buf, 261), std::string(259, 'p') + '\0' + 'x');  // a 260-byte field
}

TEST_F(FrameTest, NullHandleClosesTheDoorForTheFormerHandle) {
    OpenDevice(42);
    EXPECT_TRUE(ApiEnter("KVXClose", Guard::Handle, 42));
    EXPECT_TRUE(ApiEnter("KVXClose", Guard::NoHandle));

    SetLastResult(0);
    EXPECT_FALSE(ApiEnter("KVXClose", Guard::Handle, 0));
    EXPECT_EQ(LastResult(), -1);
    EXPECT_EQ(Frame().currentHandle, -1);
    EXPECT_FALSE(ApiEnter("KVXClose", Guard::Handle, 42));
    EXPECT_FALSE(ApiEnter("KVXClose", Guard::Handle, -1));
    EXPECT_EQ(Logged(), "null handle (AA)\r\ninvalid handle (AA)\r\ninvalid handle (AA)\r\n");
}

TEST_F(FrameTest, DeviceStateWalksFromFailedToReopen) {
    OpenDevice(5);
    EXPECT_FALSE(ApiEnter("f", Guard::Handle, 6));  // not the current handle
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);

    Frame().deviceState = DeviceState::Failed;
    EXPECT_FALSE(ApiEnter("f", Guard::Handle, 5));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Lost);  // the next check tries a reopen
    EXPECT_FALSE(ApiEnter("f", Guard::Handle, 5));             // nothing to reopen here
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed);

    Frame().deviceState = DeviceState::None;
    EXPECT_FALSE(ApiEnter("f", Guard::Handle, 5));
    Frame().deviceState = static_cast<DeviceState>(-7);
    EXPECT_FALSE(ApiEnter("f", Guard::Handle, 5));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed);
    EXPECT_NE(Logged().find("err -  device in unexpected state   -7\r\r\n"), std::string::npos)
        << Logged();
}

TEST_F(FrameTest, DetachingRefusesEveryGuardedCall) {
    lib().detaching = true;
    EXPECT_FALSE(ApiEnter("KVXGetLastResult", Guard::NoHandle));
    EXPECT_EQ(LastResult(), -17);
    EXPECT_EQ(Logged(), "KVXGetLastResult while detaching\r\n");

    bool ran = false;
    const int r = RunExport({.name = "KVXThing", .leave = true}, [&] {
        ran = true;
        return 0;
    });
    EXPECT_FALSE(ran);
    EXPECT_EQ(r, -17);
    EXPECT_EQ(RunExport({.name = "KVXReadStatusL",
                         .guard = Guard::Handle,
                         .handle = 3,
                         .guardFailure = 0,
                         .onException = 0},
                        [] { return 9; }),
              0);
    // Only the log name exports have no guard at all.
    EXPECT_EQ(RunExport({.name = "KVXLogFileName", .guard = Guard::None}, [] { return 7; }), 7);
}

TEST_F(FrameTest, ExceptionsStopAtTheBoundary) {
    platform::SetLastSystemError(5);
    SetLastResult(0);
    EXPECT_EQ(RunExport({.name = "KVXVersion", .tag = "version"},
                        []() -> int { throw std::runtime_error("boom"); }),
              -1);
    EXPECT_EQ(LastResult(), -1);
    EXPECT_EQ(RunExport({.name = "KVXReadStatusL", .onException = 0}, []() -> int { throw 3; }), 0);
    SetLastResult(4);
    RunExport({.name = "KVXReadSN", .exceptionSetsResult = false},
              []() -> int { throw std::bad_alloc(); });
    EXPECT_EQ(LastResult(), 4);
    RunExport({.name = "KVXSetLastResult"}, [] { throw 1; });
    EXPECT_EQ(LastResult(), -1);
    EXPECT_EQ(Logged(),
              "excep version  5\r\r\nexcep not mapped\r\nexcep not mapped\r\nexcep not mapped\r\n");
}

TEST_F(FrameTest, TheResultOfAnOperationBecomesTheLastResult) {
    EXPECT_EQ(RunExport({.name = "KVXA"}, [] { return -111; }), -111);
    EXPECT_EQ(LastResult(), -111);
    RunExport({.name = "KVXCount", .returns = Returns::Value}, [] { return 1234; });
    EXPECT_EQ(LastResult(), -111);

    // The last-result readers put back what the guard found.
    EXPECT_EQ(RunExport({.name = "KVXGetLastResult", .keepLastResult = true},
                        [] { return LastResult(); }),
              -111);
    EXPECT_EQ(LastResult(), -111);
}

TEST_F(FrameTest, GuardKindsAskTheDeviceWhatTheyNeed) {
    OpenDevice(9);
    // 0 and -1 ask nothing of the device where the export allows it.
    EXPECT_TRUE(ApiEnter("KVXConfigDirGet", Guard::HandleUnlessNoDevice, 0));
    EXPECT_TRUE(ApiEnter("KVXConfigDirGet", Guard::HandleUnlessNoDevice, -1));
    EXPECT_TRUE(ApiEnter("KVXConfigDirGetB", Guard::HandleUnlessZero, 0));
    EXPECT_FALSE(ApiEnter("KVXConfigDirGetB", Guard::HandleUnlessZero, -1));
    EXPECT_EQ(Frame().currentHandle.load(), 9);  // a refused -1 closes nothing
    EXPECT_TRUE(ApiEnter("KVXConfigDirGet", Guard::HandleUnlessNoDevice, 9));
    EXPECT_FALSE(ApiEnter("KVXConfigDirGet", Guard::HandleUnlessNoDevice, 8));
    EXPECT_TRUE(ApiEnter("KVXSetParameter", Guard::CurrentHandle));

    Frame().deviceState = DeviceState::Failed;
    EXPECT_FALSE(ApiEnter("KVXSetParameter", Guard::CurrentHandle));
    EXPECT_TRUE(ApiEnter("KVXConfigDirGet", Guard::HandleUnlessNoDevice, 0));
    EXPECT_EQ(Logged(), "invalid handle (AA)\r\ninvalid handle (AA)\r\ninvalid handle (AA)\r\n");

    lib().detaching = true;
    EXPECT_TRUE(ApiEnter("KVXLogFileName", Guard::None));
    EXPECT_FALSE(ApiEnter("KVXConfigDirGet", Guard::HandleUnlessNoDevice, 0));
    EXPECT_EQ(LastResult(), -17);
}

TEST_F(FrameTest, ARefusedGuardStillClearsTheHostBufferAndLogsTheExportsLine) {
    lib().detaching = true;
    char buf[8] = "abcdefg";
    SetLastResult(3);
    bool ran = false;
    const ExportInfo info{.name = "KVXErrorMsg2",
                          .returns = Returns::Value,
                          .keepLastResult = true,
                          .guardFailLine = "KVXErrorMsg2 error",
                          .clearBeforeGuard = HostBuffer{buf, 5}};
    EXPECT_EQ(RunExport(info, [&] { return ran = true, 1; }), -17);
    EXPECT_FALSE(ran);
    EXPECT_EQ(std::string(buf, 8), std::string("\0\0\0\0\0fg\0", 8));
    EXPECT_EQ(Logged(), "KVXErrorMsg2 while detaching\r\nKVXErrorMsg2 error\r\n");

    // A null buffer ends the call before the guard: no line, last result -1.
    const ExportInfo nullBuffer{.name = "KVXErrorMsg2", .clearBeforeGuard = HostBuffer{nullptr, 5}};
    EXPECT_EQ(RunExport(nullBuffer, [&] { return ran = true, 1; }), -1);
    EXPECT_FALSE(ran);
    EXPECT_EQ(LastResult(), -1);
    EXPECT_EQ(Logged(), "KVXErrorMsg2 while detaching\r\nKVXErrorMsg2 error\r\n");
}

// A host thread that ends inside a call: cancelled while the call waits on
// a device (read() is a cancellation point, as the waits on a device or a
// lock are), or ending itself from a callback with pthread_exit.
struct HostThread {
    int pipeFds[2] = {-1, -1};
    std::atomic<long> tid{0};
    std::atomic<bool> callFinished{false};
    std::atomic<int> cancelStateAfter{-1};
    bool exitInside = false;
};

// AddressSanitizer keeps the marks of the scopes that a thread's forced
// unwind leaves and then reports the thread's own exit in the C library;
// the host thread clears them as it ends.
struct ForgetUnwoundScopes {
    ~ForgetUnwoundScopes() {
#if defined(__SANITIZE_ADDRESS__)
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
        void* stack = nullptr;
        std::size_t size = 0;
        if (pthread_attr_getstack(&attr, &stack, &size) == 0)
            ASAN_UNPOISON_MEMORY_REGION(stack, size);
        pthread_attr_destroy(&attr);
#endif
    }
};

void* HostThreadMain(void* arg) {
    const ForgetUnwoundScopes forget;
    auto* host = static_cast<HostThread*>(arg);
    host->tid = syscall(SYS_gettid);
    RunExport({.name = "KVXWait", .tag = "wait"}, [host]() -> KVXResult {
        if (host->exitInside) pthread_exit(host);
        char byte = 0;
        const ssize_t n = read(host->pipeFds[0], &byte, 1);
        host->callFinished = true;
        return n == 1 ? KVX_WAR_CANCELLED : KVX_ERR_READ;
    });
    int state = -1;
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &state);
    host->cancelStateAfter = state;
    pthread_testcancel();
    return nullptr;
}

// True once the thread sleeps in the kernel (here: in its read()).
bool Sleeping(long tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S';
}

// Runs both cases; 0 when the process survived them as it should, else the
// number of the first expectation that failed.
int EndThreadsInsideCalls() {
    HostThread cancelled;
    if (pipe(cancelled.pipeFds) != 0) return 1;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, HostThreadMain, &cancelled) != 0) return 2;
    for (int i = 0; i < 200000 && !(cancelled.tid && Sleeping(cancelled.tid)); ++i) sched_yield();
    pthread_cancel(thread);
    // The call goes on to its end; the thread leaves at its next
    // cancellation point after it.
    if (write(cancelled.pipeFds[1], "x", 1) != 1) return 3;
    void* exitValue = nullptr;
    pthread_join(thread, &exitValue);
    if (exitValue != PTHREAD_CANCELED) return 4;
    if (!cancelled.callFinished) return 5;
    if (LastResult() != KVX_WAR_CANCELLED) return 6;
    if (cancelled.cancelStateAfter != PTHREAD_CANCEL_ENABLE) return 7;

    HostThread exiting;
    exiting.exitInside = true;
    if (pthread_create(&thread, nullptr, HostThreadMain, &exiting) != 0) return 8;
    pthread_join(thread, &exitValue);
    if (exitValue != &exiting) return 9;
    return 0;
}

TEST_F(FrameTest, AHostThreadEndingInsideACallLeavesTheProcessAlive) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(EndThreadsInsideCalls()), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(Logged().find("excep"), std::string::npos);
}

// A host thread cancelled while its call waits at the door for the unload
// to give back the records: the call must neither abort the process nor
// stay counted once the thread has gone.
struct DoorThread {
    std::atomic<bool> started{false};
};

void* DoorThreadMain(void* arg) {
    const ForgetUnwoundScopes forget;
    static_cast<DoorThread*>(arg)->started = true;
    KVXSetLastResult(KVX_WAR_CANCELLED);
    return nullptr;
}

int CancelAtTheDoor() {
    const ClockScope real(platform::SystemClock());  // the door's pauses really sleep
    std::optional<CallsHeldOut> held = HoldOutCalls(0);
    if (!held) return 1;
    const int shut = CallsInFlight();
    DoorThread door;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, DoorThreadMain, &door) != 0) return 2;
    for (int i = 0; i < 200000 && CallsInFlight() == shut; ++i) sched_yield();
    if (CallsInFlight() == shut) return 3;  // never reached the door
    pthread_cancel(thread);
    usleep(20'000);  // let the cancellation meet the door's pause
    held.reset();
    void* exitValue = nullptr;
    pthread_join(thread, &exitValue);
    if (CallsInFlight() != 0) return 4;
    return 0;
}

TEST_F(FrameTest, AHostThreadCancelledAtTheUnloadsDoorLeavesTheProcessAlive) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(CancelAtTheDoor()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kovran::test
